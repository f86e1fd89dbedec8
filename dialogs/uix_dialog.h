// The plug-in's side of a host dialog. The host hands the dialog object over
// while it creates it, initialises it, sends its events and takes it back when
// it is destroyed; subclasses fill in the handlers they need.
#pragma once

#include "plugin/com_object.h"
#include "plugin/sdk/lumo.h"

#include <functional>
#include <string>

namespace gd {

// The localized text of a string id ("gd.msg.selectFile"), fetched by the
// number the host gives the id.
HRESULT LocalizedString(Lumo::ILumoInstance* host, const wchar_t* id, std::wstring* text);

// Runs work on the host's UI thread and waits for it (up to timeout
// milliseconds); GD_E_MISSING when the host dropped it unrun.
HRESULT RunOnHostUiThread(Lumo::ILumoInstance* host, std::function<HRESULT()> work,
                          DWORD timeout = INFINITE);

class UixDialog : public ComObject<Lumo::IUixEventHandler> {
public:
    explicit UixDialog(Lumo::ILumoInstance* host) : m_host(host) {}

    HRESULT STDMETHODCALLTYPE OnEvent(Lumo::IUixEvent* event) override;

protected:
    // The dialog and its items exist.
    virtual HRESULT OnInitDialog() { return S_OK; }
    // The dialog is going away; m_pObj is still set.
    virtual HRESULT OnDestroy() { return S_OK; }
    // A control's notification: the control's id and the notification's kind.
    virtual HRESULT OnNotify(long /*item_id*/, long /*kind*/) { return S_OK; }
    // Every other event (window messages keep their numbers).
    virtual HRESULT OnDefaultEvent(long /*code*/, Lumo::IUixEvent* /*event*/) { return S_OK; }

    // Whether the initialised dialog can run its modal loop; a failure ends
    // RunModal with that code before the loop.
    virtual HRESULT ReadyToRun() { return S_OK; }
    // The module's layout resource that holds the dialog.
    virtual WORD LayoutResource() const;

    // Fills a creation record for the dialog named id in the module's layout
    // resource, with this object as its handler.
    HRESULT FillCreateParams(Lumo::ILumoInstance* host, const wchar_t* id, DWORD style,
                             Lumo::UIX_CreateParams* params);
    // Creates the dialog id (owned by owner unless null), runs it
    // application-modal and destroys it; *result gets the end code. S_FALSE
    // when the host made no dialog.
    HRESULT RunModal(const wchar_t* id, DWORD style, HWND owner, long* result);
    // Ends the modal loop with code.
    HRESULT EndDialog(long code);
    // The dialog's control of a layout id.
    HRESULT Item(const wchar_t* id, ComPtr<Lumo::IUixObj>* item);

    ComPtr<Lumo::IUixObj> m_pObj;
    const ComPtr<Lumo::ILumoInstance> m_host;
};

} // namespace gd
