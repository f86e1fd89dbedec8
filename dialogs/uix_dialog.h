// The plug-in's side of a host dialog. The host hands the dialog object over
// while it creates it, initialises it, sends its events and takes it back when
// it is destroyed; subclasses fill in the handlers they need.
#pragma once

#include "plugin/com_object.h"
#include "plugin/sdk/lumo.h"

namespace gd {

class UixDialog : public ComObject<Lumo::IUixEventHandler> {
public:
    HRESULT STDMETHODCALLTYPE OnEvent(Lumo::IUixEvent* event) override;

protected:
    // The dialog and its items exist.
    virtual HRESULT OnInitDialog() { return S_OK; }
    // The dialog is going away; m_pObj is still set.
    virtual HRESULT OnDestroy() { return S_OK; }
    // Every other event (window messages keep their numbers).
    virtual HRESULT OnDefaultEvent(long /*code*/, Lumo::IUixEvent* /*event*/) { return S_OK; }

    // Fills a creation record for the dialog named id in the module's layout
    // resource, with this object as its handler.
    HRESULT FillCreateParams(Lumo::ILumoInstance* host, const wchar_t* id, DWORD style,
                             Lumo::UIX_CreateParams* params);

    ComPtr<Lumo::IUixObj> m_pObj;
};

} // namespace gd
