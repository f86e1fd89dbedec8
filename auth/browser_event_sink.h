// Watches the sign-in browser's DWebBrowserEvents2 and decides, from the
// title of a completed top-level page on the authorization host, whether the
// user approved ("Success code=...") or refused ("Denied ..."). A certificate
// error in any navigation ends the sign-in as a failure.
#pragma once

#include <windows.h>
#include <exdisp.h>
#include <oaidl.h>

#include <functional>
#include <string>
#include <string_view>

#include "plugin/com_ptr.h"

namespace gd {

// Finds "name=value" in a title, searching backwards for a name at the start
// or after a blank or "&"; the value ends at the first "&" after the "=".
// S_OK when found, S_FALSE (value empty) when not.
HRESULT ExtractTitleParam(const wchar_t* title, size_t titleLength, const wchar_t* name,
                          size_t nameLength, std::wstring& value);

enum class TitleVerdict { None, Approved, Denied };
// "Success" or "Denied" anywhere in the title, case-insensitive.
TitleVerdict JudgeTitle(std::wstring_view title);

// True when the address's scheme, host and port are the authorization
// endpoint's (https, or the emulator's http under the override): no other
// page may end the sign-in.
bool IsAuthorizationAddress(std::wstring_view url);

// The failure of a NavigateError status that says the server's certificate
// was refused (INET_E_INVALID_CERTIFICATE, a WinINet certificate error as it
// stands or as an HRESULT): 0x83FF0000 | the WinINet error. S_OK for any
// other status.
HRESULT CertificateFailure(LONG status);

// Same COM object, by IUnknown identity (a frame's IDispatch is not the
// browser's even when both are browsers).
bool IsSameObject(IUnknown* a, IUnknown* b);

// Dialog end codes.
inline constexpr int kSignInApproved = 1;
inline constexpr int kSignInDenied = 2;
inline constexpr int kSignInFailed = 3;

class BrowserEventSink : public IDispatch {
public:
    // Ends the dialog's modal loop with the given end code.
    using EndDialog = std::function<HRESULT(int)>;

    explicit BrowserEventSink(EndDialog endDialog);
    BrowserEventSink(const BrowserEventSink&) = delete;
    BrowserEventSink& operator=(const BrowserEventSink&) = delete;
    ~BrowserEventSink();

    HRESULT Advise(IWebBrowser2* webBrowser);
    HRESULT Unadvise();

    // A completed top-level document at url with the given title; the first
    // decisive one is final. "Success" without a code is a refusal. A
    // failure to end the dialog is returned.
    HRESULT Decide(std::wstring_view url, std::wstring_view title);

    bool Advised() const { return _web_browser.Get() != nullptr; }
    bool Done() const { return m_done; }
    // An approving page with its code decided; nothing else approves.
    bool Approved() const { return m_done && SUCCEEDED(m_failure) && !m_code.empty(); }
    const std::wstring& Code() const { return m_code; }
    // Why the browser could not show the pages (a certificate), or S_OK.
    HRESULT Failure() const { return m_failure; }

    // The dialog owns the sink: no counting.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*,
                                     EXCEPINFO*, UINT*) override;

private:
    HRESULT Dispatch(DISPID id, DISPPARAMS* params);
    HRESULT OnDocumentComplete(IDispatch* source, const VARIANT* url);
    HRESULT OnNavigateError(const VARIANT* status, VARIANT* cancel);
    HRESULT End(int code);
    HRESULT FindConnectionPoint(IWebBrowser2* webBrowser, ComPtr<IConnectionPoint>* point);

    ComPtr<IWebBrowser2> _web_browser;
    DWORD _cookie = 0;
    EndDialog m_endDialog;
    bool m_done = false;
    std::wstring m_code;
    HRESULT m_failure = S_OK;
};

} // namespace gd
