// A URL-level client over WinINet: cracks a URL, connects by scheme, builds
// query strings and form bodies, sets cookies, asks its callback before
// following a redirect or answering an authentication challenge, and reads the
// response into a caller's buffer.
#pragma once

#include "http/encoding.h"
#include "http/inet_handles.h"

#include <windows.h>
#include <wininet.h>

#include <string>
#include <utility>
#include <vector>

namespace gd {

enum class RequestMode { Get = 0, PostUrlEncoded = 1, PostMultipart = 2, OpenOnly = 3, Raw = 4 };

enum class InetScheme : DWORD { Ftp = 0, Http = 1, Https = 2 };

enum class InetAccess : DWORD { Direct = 0, Preconfig = 1, Proxy = 2 };

// What the callback is told; the argument depends on the code.
enum InetCallbackCode : DWORD {
    kInetStatusNotification = 0, // argument: the WinINet status number
    kInetRequestAccepted = 1,    // argument: 0
    kInetReadProgress = 2,       // argument: const ULONGLONG* running count
    kInetReadDone = 3,           // argument: const ULONGLONG* count read
    kInetRedirectOrAuth = 4,     // argument: const wchar_t* Location, or InetClient* on 401
    kInetProxyAuth = 5,          // argument: InetClient*
};

using InetCallback = HRESULT (*)(DWORD code, ULONG_PTR argument, void* userData);

class InetClient {
public:
    InetClient();
    ~InetClient();
    InetClient(const InetClient&) = delete;
    InetClient& operator=(const InetClient&) = delete;

    // Crack, connect, send.
    HRESULT OpenUrl(const wchar_t* url, RequestMode mode, const wchar_t* referrer = nullptr,
                    const wchar_t* verb = nullptr, const void* body = nullptr,
                    DWORD bodyLength = 0);
    // A port of 0 is the scheme's default.
    HRESULT Connect(const wchar_t* host, INTERNET_PORT port, InetScheme scheme);
    HRESULT SendRequest(const wchar_t* object, RequestMode mode, const wchar_t* verb = nullptr,
                        const wchar_t* referrer = nullptr, const void* body = nullptr,
                        DWORD bodyLength = 0);
    // Reads until the buffer is full or the data ends; after the last bytes the
    // result may be 0x8221001B. Repeat until the count is reached, an error
    // comes, or no bytes come.
    HRESULT ReadInto(void* buffer, DWORD size, DWORD& read);

    void SetCallback(InetCallback callback, void* userData);
    void SetUserAgent(std::wstring agent) { m_user_agent = std::move(agent); }
    void SetProxy(std::wstring proxy, std::wstring bypass);
    void SetAccess(InetAccess access) { m_access = access; }
    void SetCredentials(std::wstring user, std::wstring password);
    // Raw "Name: value\r\n" lines added to every request.
    void SetExtraHeaders(std::wstring block) { m_extra_headers = std::move(block); }
    HRESULT AddCookie(std::wstring name, std::wstring value);
    HRESULT AddFormField(FormField field);
    void ClearFormFields() { m_form_fields.clear(); }
    void ClearCookies() { m_cookies.clear(); }
    // Invalid certificates are refused unless the caller opts in here; the
    // opt-in lets one resend ignore the certificate's errors.
    void AllowInvalidCertificates(bool allow) { m_reject_invalid_certificates = !allow; }

    InetRequest& Request() { return m_request; }
    const InetRequest& Request() const { return m_request; }
    DWORD LastStatus() const { return m_last_status; }

private:
    static void CALLBACK OnStatus(HINTERNET handle, DWORD_PTR context, DWORD status, void* info,
                                  DWORD infoLength);
    HRESULT Notify(DWORD code, ULONG_PTR argument) const;
    HRESULT PrepareBody(std::wstring& object, RequestMode mode, const wchar_t*& verb,
                        std::wstring& headers, MemoryStream& body, const void* rawBody,
                        DWORD rawLength) const;
    HRESULT OpenFtp(const std::wstring& object, RequestMode mode);
    HRESULT OpenHttp(const std::wstring& object, const wchar_t* verb, const wchar_t* referrer);
    HRESULT SendLoop(const std::wstring& headers, const MemoryStream& body, RequestMode mode,
                     const wchar_t* verb, const wchar_t* referrer);
    HRESULT IgnoreCertificateErrors();
    HRESULT FollowRedirect(bool& followed, RequestMode mode, const wchar_t* verb,
                           const wchar_t* referrer);
    static HRESULT OnReadProgress(ULONGLONG total, void* context);
    bool IsSecure() const;
    std::wstring CookieUrl() const;

    InetRequest m_request;
    InetConnection m_connection;
    InetSession m_session;
    INTERNET_PORT m_port = 0;
    InetScheme m_scheme = InetScheme::Http;
    std::wstring m_host;
    std::wstring m_user_agent;
    std::wstring m_proxy;
    std::wstring m_proxy_bypass;
    InetAccess m_access = InetAccess::Preconfig;
    std::wstring m_user;
    std::wstring m_password;
    std::wstring m_extra_headers;
    std::vector<std::pair<std::wstring, std::wstring>> m_cookies;
    std::vector<FormField> m_form_fields;
    InetCallback m_callback = nullptr;
    void* m_user_data = nullptr;
    DWORD m_last_status = 0;
    std::vector<BYTE> m_last_status_info;
    bool m_reject_invalid_certificates = true;
    int m_redirects_followed = 0;
    bool m_destroying = false;
};

} // namespace gd
