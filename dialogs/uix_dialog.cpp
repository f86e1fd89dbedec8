#include "dialogs/uix_dialog.h"

#include "errors/check.h"
#include "errors/codes.h"
#include "plugin/resources.h"

namespace gd {

HRESULT UixDialog::OnEvent(Lumo::IUixEvent* event) {
    return RunGuarded([&]() -> HRESULT {
        RETURN_HR_IF_NULL(E_INVALIDARG, event);
        long code = 0;
        RETURN_IF_FAILED(event->get_Code(&code));
        ComPtr<UixDialog> alive(this);
        switch (code) {
        case Lumo::UIX_Event_ObjAttached:
            return event->get_Object(m_pObj.Put());
        case Lumo::UIX_Event_InitDialog:
            return OnInitDialog();
        case Lumo::UIX_Event_ObjDetached: {
            HRESULT hr = OnDestroy();
            m_pObj.Reset();
            return hr;
        }
        case Lumo::UIX_Event_Notify: {
            long id = 0, kind = 0;
            RETURN_IF_FAILED(event->get_ItemId(&id));
            RETURN_IF_FAILED(event->get_Kind(&kind));
            return OnNotify(id, kind);
        }
        default:
            return OnDefaultEvent(code, event);
        }
    });
}

HRESULT UixDialog::FillCreateParams(Lumo::ILumoInstance* host, const wchar_t* id, DWORD style,
                                    Lumo::UIX_CreateParams* params) {
    RETURN_HR_IF_NULL(E_INVALIDARG, host);
    RETURN_IF_FAILED(host->InitCreateParams(0, params));
    const BYTE* layout = nullptr;
    DWORD size = 0;
    RETURN_IF_FAILED(GetResourceBytes(nullptr, kXmlResourceType, LayoutResource(), &layout, &size));
    params->handler = this;
    params->kind = Lumo::UIX_ObjKind_Dialog;
    params->layout_format = Lumo::UIX_LayoutFormat_Xml;
    params->layout = layout;
    params->layout_size = size;
    params->id = id;
    params->style = style;
    params->placement = Lumo::UIX_Placement_CenterOwner;
    return S_OK;
}

WORD UixDialog::LayoutResource() const {
    return kLayoutsResourceId;
}

HRESULT UixDialog::RunModal(const wchar_t* id, DWORD style, HWND owner, long* result) {
    RETURN_HR_IF_NULL(E_INVALIDARG, result);
    *result = 0;
    Lumo::UIX_CreateParams parameters{};
    RETURN_IF_FAILED(FillCreateParams(m_host.Get(), id, style, &parameters));
    if (owner != nullptr)
        parameters.owner = owner;
    ComPtr<IUnknown> extension;
    RETURN_IF_FAILED(m_host->GetExtension(L"UIX", extension.Put()));
    ComPtr<Lumo::IUixInstance> uix_instance;
    RETURN_IF_FAILED(extension.As(&uix_instance));
    HRESULT created = uix_instance->CreateObj(&parameters, nullptr);
    // Destroy takes m_pObj back through the detach event.
    ComPtr<Lumo::IUixObj> dialog = m_pObj;
    if (FAILED(created) && dialog)
        LOG_IF_FAILED(dialog->Destroy());
    RETURN_IF_FAILED(created);
    RETURN_HR_IF(S_FALSE, !dialog);
    HRESULT modal = ReadyToRun();
    if (SUCCEEDED(modal))
        modal = dialog->DoModal(Lumo::UIX_ObjModal_AppModal, result);
    HRESULT destroyed = dialog->Destroy();
    RETURN_IF_FAILED(modal);
    RETURN_IF_FAILED(destroyed);
    return S_OK;
}

HRESULT UixDialog::EndDialog(long code) {
    RETURN_HR_IF_NULL(GD_E_MISSING, m_pObj.Get());
    RETURN_IF_FAILED(m_pObj->EndModal(code));
    return S_OK;
}

HRESULT UixDialog::Item(const wchar_t* id, ComPtr<Lumo::IUixObj>* item) {
    RETURN_HR_IF_NULL(E_POINTER, item);
    item->Reset();
    RETURN_HR_IF_NULL(GD_E_MISSING, m_pObj.Get());
    RETURN_HR_IF_NULL(GD_E_MISSING, m_host.Get());
    ComPtr<Lumo::IUixDialog> dialog;
    RETURN_IF_FAILED(m_pObj.As(&dialog));
    long number = 0;
    RETURN_IF_FAILED(m_host->GetNameId(id, Lumo::LUMO_NameId_Auto, &number));
    RETURN_IF_FAILED(dialog->GetItem(number, item->Put()));
    RETURN_HR_IF(GD_E_MISSING, !*item);
    return S_OK;
}

HRESULT LocalizedString(Lumo::ILumoInstance* host, const wchar_t* id, std::wstring* text) {
    RETURN_HR_IF_NULL(E_POINTER, text);
    text->clear();
    RETURN_HR_IF_NULL(GD_E_MISSING, host);
    long number = 0;
    RETURN_IF_FAILED(host->GetNameId(id, Lumo::LUMO_NameId_Auto, &number));
    Bstr found;
    RETURN_IF_FAILED(host->GetStringByNumber(number, found.Put()));
    *text = found.Text();
    return S_OK;
}

namespace {

class UiTask : public ComObject<Lumo::ILumoTask> {
public:
    explicit UiTask(std::function<HRESULT()> work) : m_work(std::move(work)) {}

    HRESULT STDMETHODCALLTYPE Run() override {
        m_result = RunGuarded(m_work);
        return m_result;
    }
    HRESULT Result() const { return m_result; }

private:
    std::function<HRESULT()> m_work;
    HRESULT m_result = GD_E_MISSING;
};

} // namespace

HRESULT RunOnHostUiThread(Lumo::ILumoInstance* host, std::function<HRESULT()> work, DWORD timeout) {
    RETURN_HR_IF_NULL(GD_E_MISSING, host);
    ComPtr<UiTask> task;
    RETURN_IF_FAILED(MakeObject(&task, std::move(work)));
    RETURN_IF_FAILED(host->RunOnMainThread(task.Get(), timeout));
    RETURN_IF_FAILED(task->Result());
    return task->Result();
}

} // namespace gd
