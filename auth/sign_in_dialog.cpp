#include "auth/sign_in_dialog.h"

#include "auth/endpoints.h"
#include "auth/token_client.h"
#include "errors/check.h"
#include "plugin/host_instance.h"

namespace gd {

AcceleratorFilter::AcceleratorFilter(IOleInPlaceActiveObject* active)
    : _ole_in_place_active_object(active) {}

HRESULT AcceleratorFilter::OnEvent(Lumo::IUixEvent* io_event) {
    return RunGuarded([&]() -> HRESULT {
        RETURN_HR_IF_NULL(E_INVALIDARG, io_event);
        long message = 0;
        RETURN_IF_FAILED(io_event->get_Code(&message));
        if (message != WM_KEYDOWN)
            return S_OK;
        RETURN_HR_IF_NULL(E_UNEXPECTED, _ole_in_place_active_object.Get());
        MSG msg{};
        msg.message = WM_KEYDOWN;
        msg.time = GetMessageTime();
        RETURN_IF_FAILED(io_event->get_Window(&msg.hwnd));
        RETURN_IF_FAILED(io_event->get_WParam(&msg.wParam));
        RETURN_IF_FAILED(io_event->get_LParam(&msg.lParam));
        RETURN_IF_FAILED(io_event->get_Point(&msg.pt));
        HRESULT translate_accelerator_result =
            _ole_in_place_active_object->TranslateAccelerator(&msg);
        RETURN_IF_FAILED(translate_accelerator_result);
        if (translate_accelerator_result == S_OK)
            RETURN_IF_FAILED(io_event->put_Handled(VARIANT_TRUE));
        return S_OK;
    });
}

AuthDialog::AuthDialog(Lumo::ILumoInstance* host)
    : UixDialog(host), m_sink([this](int code) { return EndDialog(code); }) {}

AuthDialog::~AuthDialog() {
    Teardown();
}

HRESULT AuthDialog::Show(const wchar_t* i_url, long* pRes) {
    RETURN_HR_IF(E_INVALIDARG, i_url == nullptr || pRes == nullptr);
    *pRes = 0;
    m_url = i_url;
    return RunModal(L"DlgAuth", kAuthDialogStyle, nullptr, pRes);
}

HRESULT AuthDialog::OnInitDialog() {
    m_dialog.Reset();
    m_start_result = m_pObj.As(&m_dialog);
    if (SUCCEEDED(m_start_result))
        m_start_result = StartBrowser();
    RETURN_IF_FAILED(m_start_result);
    return S_OK;
}

HRESULT AuthDialog::StartBrowser() {
    HWND window = nullptr;
    RETURN_IF_FAILED(m_pObj->get_Window(&window));
    // The control fills the client area from the start; hosts need not send
    // a size event before the page shows.
    RECT client{};
    if (FAILED(m_pObj->get_ClientRect(&client)) || IsRectEmpty(&client))
        client = RECT{0, 0, 1, 1};
    RETURN_IF_FAILED(_control.Create(window, client));
    RETURN_IF_FAILED(m_sink.Advise(_control.WebBrowser()));
    // Without the filter the page only misses its keys: navigate anyway.
    RegisterKeyboardFilter();
    RETURN_IF_FAILED(Navigate());
    return S_OK;
}

HRESULT AuthDialog::RegisterKeyboardFilter() {
    ComPtr<Lumo::IUixEventSource> source;
    RETURN_IF_FAILED(m_pObj->GetEventSource(Lumo::UIX_EventSource_Keyboard, source.Put()));
    RETURN_HR_IF_NULL(GD_E_UNEXPECTED, source.Get());
    ComPtr<IOleInPlaceActiveObject> active;
    RETURN_IF_FAILED(_control.WebBrowser()->QueryInterface(active.Put()));
    ComPtr<AcceleratorFilter> filter;
    RETURN_IF_FAILED(MakeObject(&filter, active.Get()));
    DWORD cookie = 0;
    RETURN_IF_FAILED(source->Advise(filter.Get(), &cookie));
    m_keyboard_source = source;
    m_keyboard_cookie = cookie;
    return S_OK;
}

HRESULT AuthDialog::Navigate() {
    Variant url;
    RETURN_IF_FAILED(url.SetText(m_url.c_str()));
    Variant none;
    RETURN_IF_FAILED(_control.WebBrowser()->Navigate2(&url.Get(), &none.Get(), &none.Get(),
                                                      &none.Get(), &none.Get()));
    return S_OK;
}

HRESULT AuthDialog::OnDestroy() {
    HRESULT hr = Teardown();
    m_dialog.Reset();
    RETURN_IF_FAILED(hr);
    return S_OK;
}

HRESULT AuthDialog::Teardown() {
    HRESULT first = S_OK;
    auto keep = [&first](HRESULT hr) {
        if (SUCCEEDED(first))
            first = hr;
    };
    if (m_keyboard_source) {
        keep(LOG_IF_FAILED(m_keyboard_source->Unadvise(m_keyboard_cookie)));
        m_keyboard_source.Reset();
        m_keyboard_cookie = 0;
    }
    if (m_sink.Advised())
        keep(LOG_IF_FAILED(m_sink.Unadvise()));
    _control.Close();
    return first;
}

HRESULT AuthDialog::OnDefaultEvent(long code, Lumo::IUixEvent* event) {
    if (code == Lumo::UIX_Event_Size)
        return OnSize(event);
    return S_OK;
}

HRESULT AuthDialog::OnSize(Lumo::IUixEvent* event) {
    RETURN_HR_IF_NULL(GD_E_MISSING, m_pObj.Get());
    RECT r{};
    RETURN_IF_FAILED(m_pObj->get_ClientRect(&r));
    RETURN_IF_FAILED(_control.SetRect(r));
    RETURN_IF_FAILED(event->put_Handled(VARIANT_TRUE));
    return S_OK;
}

SignInTask::SignInTask(Lumo::ILumoInstance* host, std::wstring clientId,
                       std::vector<std::wstring> scopes)
    : m_host(host), m_client_id(std::move(clientId)), m_scopes(std::move(scopes)) {}

HRESULT SignInTask::Run() {
    m_result = RunGuarded([this] { return ShowConsent(); });
    return m_result;
}

HRESULT SignInTask::ShowConsent() {
    ComPtr<AuthDialog> dialog;
    RETURN_IF_FAILED(MakeObject(&dialog, m_host.Get()));
    std::wstring url;
    RETURN_IF_FAILED(BuildAuthorizationUrl(AuthorizationEndpointUrl(), m_client_id, m_scopes, url));
    long end_code = 0;
    RETURN_IF_FAILED(dialog->Show(url.c_str(), &end_code));
    RETURN_IF_FAILED(dialog->Failure());
    RETURN_HR_IF(GD_E_CANCELLED, end_code != kSignInApproved || !dialog->Approved());
    m_code = dialog->Code();
    return S_OK;
}

HRESULT SignInThroughHost(const std::wstring& clientId, const std::vector<std::wstring>& scopes,
                          AuthorizationCode& grant) {
    Lumo::ILumoInstance* host = HostInstance::Instance();
    RETURN_HR_IF_NULL(GD_E_MISSING, host);
    ComPtr<SignInTask> task;
    RETURN_IF_FAILED(MakeObject(&task, host, clientId, scopes));
    RETURN_IF_FAILED(host->RunOnMainThread(task.Get(), INFINITE));
    RETURN_IF_FAILED(task->Result());
    grant = AuthorizationCode{task->Code(), kOobRedirectUri, {}};
    return S_OK;
}

} // namespace gd
