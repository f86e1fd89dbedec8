#include "auth/browser_sign_in.h"

#include "auth/endpoints.h"
#include "auth/loopback_listener.h"
#include "auth/pkce.h"
#include "auth/token_client.h"
#include "errors/check.h"
#include "errors/codes.h"
#include "plugin/host_instance.h"
#include "plugin/resources.h"

#include <shellapi.h>

#include <atomic>
#include <thread>

namespace gd {
namespace {

// The dialog's end code when the callback came (Cancel is the host's own).
constexpr long kCallbackArrived = 100;
// The callback came before the dialog's loop started: nothing to wait for.
constexpr HRESULT kAlreadyFinished = E_ABORT;
// How long one attempt to end the dialog waits for the UI thread before it
// looks again whether the dialog is still there.
constexpr DWORD kFinishAttempt = 200;

// The listener's side of one sign-in, on a thread of its own.
struct BrowserWait {
    LoopbackListener listener;
    std::wstring redirect_uri; // the listener's, kept past its closing
    std::wstring state;
    HANDLE cancel = nullptr;
    LoopbackAnswer answer;
    HRESULT result = GD_E_MISSING;
    std::atomic<bool> dialog_over{false};
};

void AwaitCallback(BrowserWait& wait, Lumo::ILumoInstance* host, SignInWaitDialog* dialog) {
    wait.result = wait.listener.Wait(wait.state, wait.cancel, kBrowserSignInTimeout, wait.answer);
    // The UI thread may be busy ending the dialog itself: never wait on it
    // for good.
    while (!wait.dialog_over) {
        HRESULT hr = RunOnHostUiThread(
            host, [dialog] { return dialog->Finish(); }, kFinishAttempt);
        if (hr != HRESULT_FROM_WIN32(ERROR_TIMEOUT))
            break;
    }
}

// The callback's verdict: the code, a denial (a cancellation, no message),
// or another error of the authorization server.
HRESULT CodeOf(const BrowserWait& wait, const std::wstring& verifier, AuthorizationCode& grant) {
    RETURN_IF_FAILED(wait.result);
    RETURN_HR_IF(GD_E_CANCELLED, wait.answer.error == L"access_denied");
    RETURN_HR_IF(GD_E_UNEXPECTED, !wait.answer.error.empty() || wait.answer.code.empty());
    grant = AuthorizationCode{wait.answer.code, wait.redirect_uri, verifier};
    return S_OK;
}

} // namespace

HRESULT SignInWaitDialog::Show() {
    long end_code = 0;
    HRESULT hr = RunModal(L"DlgSignInWait", WS_POPUP | WS_CAPTION | WS_SYSMENU, nullptr, &end_code);
    if (hr == kAlreadyFinished && m_finished)
        return S_OK;
    RETURN_IF_FAILED(hr);
    RETURN_HR_IF(GD_E_CANCELLED, end_code != kCallbackArrived);
    return S_OK;
}

HRESULT SignInWaitDialog::Finish() {
    if (m_finished)
        return S_OK;
    m_finished = true;
    if (m_pObj)
        RETURN_IF_FAILED(EndDialog(kCallbackArrived));
    return S_OK;
}

HRESULT SignInWaitDialog::OnInitDialog() {
    RETURN_IF_FAILED(m_host->GetNameId(L"btn.cancel", Lumo::LUMO_NameId_Auto, &m_cancel_id));
    return S_OK;
}

HRESULT SignInWaitDialog::OnNotify(long id, long kind) {
    if (kind == Lumo::UIX_Notify_Click && id == m_cancel_id)
        return EndDialog(Lumo::UIX_ModalResult_Cancel);
    return S_OK;
}

HRESULT SignInWaitDialog::ReadyToRun() {
    // A failure keeps RunModal from starting the loop; Show reads this one
    // as "nothing to wait for".
    return m_finished ? kAlreadyFinished : S_OK;
}

WORD SignInWaitDialog::LayoutResource() const {
    return kSignInLayoutsResourceId;
}

HRESULT OpenInBrowser(const std::wstring& url) {
    HINSTANCE started =
        ShellExecuteW(nullptr, L"open", url.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    // Above 32 is success; below, the old-style error number.
    RETURN_HR_IF(HRESULT_FROM_WIN32(ERROR_NO_ASSOCIATION),
                 reinterpret_cast<INT_PTR>(started) <= 32);
    return S_OK;
}

HRESULT SignInThroughBrowser(const std::wstring& clientId, const std::vector<std::wstring>& scopes,
                             AuthorizationCode& grant) {
    Lumo::ILumoInstance* host = HostInstance::Instance();
    RETURN_HR_IF_NULL(GD_E_MISSING, host);
    BrowserWait wait;
    RETURN_IF_FAILED(wait.listener.Open());
    wait.redirect_uri = wait.listener.RedirectUri();
    Pkce pkce;
    RETURN_IF_FAILED(MakePkce(pkce));
    RETURN_IF_FAILED(MakeState(wait.state));
    std::wstring url;
    RETURN_IF_FAILED(BuildAuthorizationUrl(AuthorizationEndpointUrl(), clientId, scopes, url,
                                           {wait.redirect_uri, pkce.challenge, wait.state}));
    ComPtr<SignInWaitDialog> dialog;
    RETURN_IF_FAILED(MakeObject(&dialog, host));
    wait.cancel = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    RETURN_HR_IF(LastWin32Error(), wait.cancel == nullptr);

    HRESULT shown = E_FAIL;
    try {
        std::thread waiter(AwaitCallback, std::ref(wait), host, dialog.Get());
        shown = RunOnHostUiThread(host, [&]() -> HRESULT {
            RETURN_IF_FAILED(OpenInBrowser(url));
            return dialog->Show();
        });
        wait.dialog_over = true;
        SetEvent(wait.cancel);
        waiter.join();
    } catch (const std::system_error&) {
        shown = E_OUTOFMEMORY; // no thread for the listener
    }
    CloseHandle(wait.cancel);
    // The callback decides when it came; otherwise the dialog's failure.
    if (SUCCEEDED(wait.result) || shown == GD_E_CANCELLED || SUCCEEDED(shown))
        return CodeOf(wait, pkce.verifier, grant);
    return shown;
}

} // namespace gd
