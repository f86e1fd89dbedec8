// The installed-application sign-in: the consent page in the user's default
// browser, a loopback redirect to a one-shot listener of ours, PKCE and a
// state the callback must echo. A small modal dialog of the host waits
// meanwhile; its Cancel, or no callback in time, cancels the sign-in.
#pragma once

#include "dialogs/uix_dialog.h"

#include <windows.h>

#include <string>
#include <vector>

namespace gd {

struct AuthorizationCode;

// How long the browser may take before the sign-in counts as cancelled.
inline constexpr DWORD kBrowserSignInTimeout = 5 * 60 * 1000;

// The host's wait dialog while the browser is out.
class SignInWaitDialog : public UixDialog {
public:
    explicit SignInWaitDialog(Lumo::ILumoInstance* host) : UixDialog(host) {}

    // Runs until Cancel (GD_E_CANCELLED) or Finish (S_OK). On the UI thread.
    HRESULT Show();
    // Ends the dialog; before its loop it keeps the loop from starting. On
    // the UI thread; a second call does nothing.
    HRESULT Finish();

protected:
    HRESULT OnInitDialog() override;
    HRESULT OnNotify(long id, long kind) override;
    HRESULT ReadyToRun() override;
    WORD LayoutResource() const override;

private:
    long m_cancel_id = 0;
    bool m_finished = false;
};

// Opens url in the user's default browser (ShellExecuteW).
HRESULT OpenInBrowser(const std::wstring& url);

// The whole browser flow for a client and its scopes: the code, the loopback
// redirect URI and the verifier. GD_E_MISSING without a host; GD_E_CANCELLED
// when the user cancelled, denied access or the time ran out.
HRESULT SignInThroughBrowser(const std::wstring& clientId, const std::vector<std::wstring>& scopes,
                             AuthorizationCode& grant);

} // namespace gd
