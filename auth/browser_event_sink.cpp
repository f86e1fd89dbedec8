#include "auth/browser_event_sink.h"

#include "auth/endpoints.h"
#include "errors/check.h"
#include "errors/codes.h"
#include "http/encoding.h"

#include <exdispid.h>
#include <mshtml.h>
#include <ocidl.h>
#include <urlmon.h>
#include <wininet.h>

#include <utility>

namespace gd {
namespace {

bool ContainsIgnoringCase(std::wstring_view text, std::wstring_view word) {
    for (size_t pos = 0; pos + word.size() <= text.size(); ++pos) {
        if (EqualsIgnoringCase(text.substr(pos, word.size()), word))
            return true;
    }
    return false;
}

struct Origin {
    INTERNET_SCHEME scheme = INTERNET_SCHEME_UNKNOWN;
    std::wstring_view host;
    INTERNET_PORT port = 0;
};

bool CrackOrigin(std::wstring_view url, Origin& out) {
    URL_COMPONENTSW parts{};
    parts.dwStructSize = sizeof(parts);
    parts.dwHostNameLength = 1; // ask for a pointer into url
    if (!InternetCrackUrlW(url.data(), static_cast<DWORD>(url.size()), 0, &parts) ||
        parts.lpszHostName == nullptr || parts.dwHostNameLength == 0)
        return false;
    out.scheme = parts.nScheme;
    out.host = std::wstring_view(parts.lpszHostName, parts.dwHostNameLength);
    out.port = parts.nPort;
    return true;
}

// A VARIANT argument as the browser passes it, by reference or not.
const VARIANT* Dereferenced(const VARIANT* value) {
    while (value != nullptr && V_VT(value) == (VT_BYREF | VT_VARIANT))
        value = V_VARIANTREF(value);
    return value;
}

// The URL argument of DocumentComplete: a BSTR, usually by reference.
std::wstring_view UrlArgument(const VARIANT* url) {
    url = Dereferenced(url);
    if (url == nullptr || V_VT(url) != VT_BSTR || V_BSTR(url) == nullptr)
        return {};
    return std::wstring_view(V_BSTR(url), SysStringLen(V_BSTR(url)));
}

} // namespace

HRESULT ExtractTitleParam(const wchar_t* title, size_t titleLength, const wchar_t* name,
                          size_t nameLength, std::wstring& value) {
    value.clear();
    if (title == nullptr || name == nullptr || nameLength == 0 || nameLength > titleLength)
        return S_FALSE;
    std::wstring_view text(title, titleLength);
    std::wstring_view key(name, nameLength);
    for (size_t pos = titleLength - nameLength + 1; pos-- > 0;) {
        if (!EqualsIgnoringCase(text.substr(pos, nameLength), key))
            continue;
        if (pos > 0 && text[pos - 1] != L' ' && text[pos - 1] != L'&')
            continue;
        size_t after = pos + nameLength;
        if (titleLength - after < 2)
            return S_FALSE;
        if (text[after] != L'=')
            continue;
        size_t start = after + 1;
        size_t end = text.find(L'&', start);
        value.assign(text.substr(start, end == std::wstring_view::npos ? end : end - start));
        return S_OK;
    }
    return S_FALSE;
}

TitleVerdict JudgeTitle(std::wstring_view title) {
    if (ContainsIgnoringCase(title, L"Success"))
        return TitleVerdict::Approved;
    if (ContainsIgnoringCase(title, L"Denied"))
        return TitleVerdict::Denied;
    return TitleVerdict::None;
}

bool IsAuthorizationAddress(std::wstring_view url) {
    std::wstring authorization = AuthorizationEndpointUrl();
    Origin expected, actual;
    return CrackOrigin(authorization, expected) && CrackOrigin(url, actual) &&
           actual.scheme == expected.scheme && actual.port == expected.port &&
           EqualsIgnoringCase(actual.host, expected.host);
}

HRESULT CertificateFailure(LONG status) {
    DWORD error = static_cast<DWORD>(status);
    if (status == INET_E_INVALID_CERTIFICATE)
        error = ERROR_INTERNET_SEC_INVALID_CERT;
    else if (status < 0 && HRESULT_FACILITY(status) == FACILITY_WIN32)
        error = HRESULT_CODE(status);
    switch (error) {
    case ERROR_INTERNET_SEC_CERT_DATE_INVALID:
    case ERROR_INTERNET_SEC_CERT_CN_INVALID:
    case ERROR_INTERNET_INVALID_CA:
    case ERROR_INTERNET_SEC_CERT_ERRORS:
    case ERROR_INTERNET_SEC_CERT_NO_REV:
    case ERROR_INTERNET_SEC_CERT_REV_FAILED:
    case ERROR_INTERNET_SEC_INVALID_CERT:
    case ERROR_INTERNET_SEC_CERT_REVOKED:
        return MakeWin32Failure(error);
    default:
        return S_OK;
    }
}

bool IsSameObject(IUnknown* a, IUnknown* b) {
    if (a == nullptr || b == nullptr)
        return false;
    ComPtr<IUnknown> identityA, identityB;
    if (FAILED(a->QueryInterface(__uuidof(IUnknown), identityA.PutVoid())) ||
        FAILED(b->QueryInterface(__uuidof(IUnknown), identityB.PutVoid())))
        return false;
    return identityA.Get() == identityB.Get();
}

BrowserEventSink::BrowserEventSink(EndDialog endDialog) : m_endDialog(std::move(endDialog)) {}

BrowserEventSink::~BrowserEventSink() {
    if (_web_browser)
        Unadvise();
}

HRESULT BrowserEventSink::FindConnectionPoint(IWebBrowser2* webBrowser,
                                              ComPtr<IConnectionPoint>* point) {
    ComPtr<IConnectionPointContainer> connection_point_container;
    RETURN_IF_FAILED(webBrowser->QueryInterface(connection_point_container.Put()));
    RETURN_IF_FAILED(connection_point_container->FindConnectionPoint(__uuidof(DWebBrowserEvents2),
                                                                     point->Put()));
    return S_OK;
}

HRESULT BrowserEventSink::Advise(IWebBrowser2* i_web_browser) {
    RETURN_HR_IF_NULL(E_INVALIDARG, i_web_browser);
    RETURN_HR_IF(E_UNEXPECTED, !(_web_browser.Get() == nullptr && _cookie == 0));
    ComPtr<IConnectionPoint> connection_point;
    RETURN_IF_FAILED(FindConnectionPoint(i_web_browser, &connection_point));
    DWORD cookie = 0;
    RETURN_IF_FAILED(connection_point->Advise(this, &cookie));
    _web_browser = ComPtr<IWebBrowser2>(i_web_browser);
    _cookie = cookie;
    return S_OK;
}

HRESULT BrowserEventSink::Unadvise() {
    RETURN_HR_IF_NULL(E_UNEXPECTED, _web_browser.Get());
    ComPtr<IConnectionPoint> connection_point;
    HRESULT hr = FindConnectionPoint(_web_browser.Get(), &connection_point);
    if (SUCCEEDED(hr))
        hr = connection_point->Unadvise(_cookie);
    _web_browser.Reset();
    _cookie = 0;
    RETURN_IF_FAILED(hr);
    return S_OK;
}

HRESULT BrowserEventSink::Decide(std::wstring_view url, std::wstring_view title) {
    if (m_done || !IsAuthorizationAddress(url))
        return S_OK;
    TitleVerdict verdict = JudgeTitle(title);
    if (verdict == TitleVerdict::None)
        return S_OK;
    if (verdict == TitleVerdict::Approved)
        ExtractTitleParam(title.data(), title.size(), L"code", 4, m_code);
    return End(m_code.empty() ? kSignInDenied : kSignInApproved);
}

HRESULT BrowserEventSink::End(int code) {
    m_done = true;
    if (m_endDialog)
        RETURN_IF_FAILED(m_endDialog(code));
    return S_OK;
}

// NavigateError(pDisp, URL, Frame, StatusCode, Cancel): a refused certificate
// ends the sign-in, whichever page or frame met it, and stops the navigation.
HRESULT BrowserEventSink::OnNavigateError(const VARIANT* status, VARIANT* cancel) {
    status = Dereferenced(status);
    if (m_done || status == nullptr || V_VT(status) != VT_I4)
        return S_OK;
    HRESULT failure = CertificateFailure(V_I4(status));
    if (SUCCEEDED(failure))
        return S_OK;
    if (cancel != nullptr && V_VT(cancel) == (VT_BYREF | VT_BOOL) && V_BOOLREF(cancel) != nullptr)
        *V_BOOLREF(cancel) = VARIANT_TRUE;
    m_code.clear();
    m_failure = failure;
    return End(kSignInFailed);
}

HRESULT BrowserEventSink::OnDocumentComplete(IDispatch* source, const VARIANT* url) {
    // Frames complete inside the page too; only the browser itself decides.
    if (m_done || !IsSameObject(source, _web_browser.Get()))
        return S_OK;
    std::wstring address(UrlArgument(url));
    if (address.empty()) {
        Bstr location;
        RETURN_IF_FAILED(_web_browser->get_LocationURL(location.Put()));
        address = location.Text();
    }
    ComPtr<IDispatch> document;
    RETURN_IF_FAILED(_web_browser->get_Document(document.Put()));
    RETURN_HR_IF_NULL(GD_E_UNEXPECTED, document.Get());
    ComPtr<IHTMLDocument2> html;
    RETURN_IF_FAILED(document.As(&html));
    Bstr title;
    RETURN_IF_FAILED(html->get_title(title.Put()));
    return Decide(address, std::wstring_view(title.Text(), title.Length()));
}

HRESULT STDMETHODCALLTYPE BrowserEventSink::QueryInterface(REFIID iid, void** out) {
    if (out == nullptr)
        return E_POINTER;
    if (iid != __uuidof(IUnknown) && iid != __uuidof(IDispatch)) {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    *out = static_cast<IDispatch*>(this);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE BrowserEventSink::GetTypeInfoCount(UINT* count) {
    if (count == nullptr)
        return E_POINTER;
    *count = 0;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE BrowserEventSink::GetTypeInfo(UINT, LCID, ITypeInfo**) {
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE BrowserEventSink::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) {
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE BrowserEventSink::Invoke(DISPID id, REFIID, LCID, WORD,
                                                   DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                                                   UINT*) {
    return RunGuarded([&] { return Dispatch(id, params); });
}

// Arguments arrive last first: DocumentComplete's (pDisp, URL) are rgvarg[1]
// and rgvarg[0], NavigateError's StatusCode and Cancel rgvarg[1] and [0].
HRESULT BrowserEventSink::Dispatch(DISPID id, DISPPARAMS* params) {
    if (params == nullptr || params->rgvarg == nullptr)
        return S_OK;
    if (id == DISPID_NAVIGATEERROR && params->cArgs >= 5)
        return OnNavigateError(&params->rgvarg[1], &params->rgvarg[0]);
    if (id != DISPID_DOCUMENTCOMPLETE || params->cArgs < 2)
        return S_OK;
    const VARIANT& source = params->rgvarg[1];
    IDispatch* dispatch = nullptr;
    if (V_VT(&source) == VT_DISPATCH)
        dispatch = V_DISPATCH(&source);
    else if (V_VT(&source) == (VT_BYREF | VT_DISPATCH) && V_DISPATCHREF(&source) != nullptr)
        dispatch = *V_DISPATCHREF(&source);
    return OnDocumentComplete(dispatch, &params->rgvarg[0]);
}

} // namespace gd
