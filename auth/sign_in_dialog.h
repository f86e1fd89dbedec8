// The interactive sign-in: a modal host dialog filled by the web browser
// control, which shows the consent page until a page of the authorization
// host says "Success" or "Denied", or the user closes the dialog.
#pragma once

#include <windows.h>
#include <ole2.h>

#include <string>
#include <vector>

#include "auth/browser_event_sink.h"
#include "auth/browser_host.h"
#include "dialogs/uix_dialog.h"
#include "errors/codes.h"

namespace gd {

// Window style of the sign-in dialog: a resizable popup with a caption,
// system menu and maximize box.
constexpr DWORD kAuthDialogStyle = 0x86CD0000;

// Offers the dialog's key-downs to the control first (Tab, Enter and the
// like belong to the page).
class AcceleratorFilter : public ComObject<Lumo::IUixEventHandler> {
public:
    explicit AcceleratorFilter(IOleInPlaceActiveObject* active);
    HRESULT STDMETHODCALLTYPE OnEvent(Lumo::IUixEvent* io_event) override;

private:
    ComPtr<IOleInPlaceActiveObject> _ole_in_place_active_object;
};

class AuthDialog : public UixDialog {
public:
    explicit AuthDialog(Lumo::ILumoInstance* host);
    // A host that never destroyed the dialog still gets its filter back.
    ~AuthDialog() override;

    // Shows the consent page at i_url until the dialog ends; *pRes gets the
    // end code (kSignInApproved, kSignInDenied, kSignInFailed, or whatever
    // else ended the modal loop). S_FALSE when the host made no dialog.
    HRESULT Show(const wchar_t* i_url, long* pRes);
    // True only when an approving page with a code ended the dialog; an end
    // code alone proves nothing, anyone can end the loop with it.
    bool Approved() const { return m_sink.Approved(); }
    // The authorization code of an approving page.
    const std::wstring& Code() const { return m_sink.Code(); }
    // A certificate the browser refused, or S_OK.
    HRESULT Failure() const { return m_sink.Failure(); }

protected:
    HRESULT OnInitDialog() override;
    HRESULT OnDestroy() override;
    HRESULT OnDefaultEvent(long code, Lumo::IUixEvent* event) override;
    // A dialog without its browser would stay blank: say why instead.
    HRESULT ReadyToRun() override { return m_start_result; }

private:
    HRESULT StartBrowser();
    HRESULT RegisterKeyboardFilter();
    HRESULT Navigate();
    HRESULT OnSize(Lumo::IUixEvent* event);
    // Unregisters the key filter, unadvises the sink and closes the control;
    // the first failure is returned, the rest still done.
    HRESULT Teardown();

    ComPtr<Lumo::IUixDialog> m_dialog;
    ComPtr<Lumo::IUixEventSource> m_keyboard_source;
    DWORD m_keyboard_cookie = 0;
    BrowserHost _control;
    BrowserEventSink m_sink;
    std::wstring m_url;
    // Why the dialog cannot show the page (no initialisation yet, or a
    // failed one); the dialog then never runs.
    HRESULT m_start_result = GD_E_MISSING;
};

// The host runs it on its UI thread: the dialog for one consent.
class SignInTask : public ComObject<Lumo::ILumoTask> {
public:
    SignInTask(Lumo::ILumoInstance* host, std::wstring clientId, std::vector<std::wstring> scopes);

    HRESULT STDMETHODCALLTYPE Run() override;

    // GD_E_MISSING until the task has run.
    HRESULT Result() const { return m_result; }
    const std::wstring& Code() const { return m_code; }

private:
    HRESULT ShowConsent();

    ComPtr<Lumo::ILumoInstance> m_host;
    std::wstring m_client_id;
    std::vector<std::wstring> m_scopes;
    std::wstring m_code;
    HRESULT m_result = GD_E_MISSING;
};

// Runs a SignInTask on the host's UI thread and waits for it. GD_E_MISSING
// without a host, GD_E_CANCELLED when the user refused or closed the dialog
// (or anything but an approval ended it), the certificate's failure when the
// browser refused one.
struct AuthorizationCode;
HRESULT SignInThroughHost(const std::wstring& clientId, const std::vector<std::wstring>& scopes,
                          AuthorizationCode& grant);

} // namespace gd
