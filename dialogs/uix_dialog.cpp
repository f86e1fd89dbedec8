#include "dialogs/uix_dialog.h"

#include "errors/check.h"
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
    RETURN_IF_FAILED(
        GetResourceBytes(nullptr, kXmlResourceType, kLayoutsResourceId, &layout, &size));
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

} // namespace gd
