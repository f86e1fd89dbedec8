#include "http/inet_client.h"

#include "errors/check.h"
#include "errors/codes.h"
#include "http/memory_stream.h"

#include <algorithm>
#include <cstring>

namespace gd {

namespace {

constexpr wchar_t kClientAgent[] = L"Mozilla/4.0 (compatible; Lumo Editor 3.0; Windows)";
constexpr HRESULT kInvalidCa = MakeWin32Failure(ERROR_INTERNET_INVALID_CA);
constexpr HRESULT kRedirectNeedsConfirmation =
    MakeWin32Failure(ERROR_HTTP_REDIRECT_NEEDS_CONFIRMATION);
constexpr HRESULT kStatusUnauthorized = MakeHttpStatusError(kSubsystemInetUtils, 401);
constexpr HRESULT kStatusProxyAuth = MakeHttpStatusError(kSubsystemInetUtils, 407);
constexpr DWORD kIgnoreCertificateFlags =
    SECURITY_FLAG_IGNORE_REVOCATION | SECURITY_FLAG_IGNORE_UNKNOWN_CA |
    SECURITY_FLAG_IGNORE_CERT_CN_INVALID | SECURITY_FLAG_IGNORE_CERT_DATE_INVALID;
// A server that keeps challenging, or keeps asking to confirm a redirect, gets
// no more resends than this.
constexpr int kMaxResends = 5;
// Status information kept from the last notification.
constexpr DWORD kMaxStatusInfo = 256;

// Neither of the two top bits set: the callback approves.
bool Approves(HRESULT answer) {
    return (static_cast<DWORD>(answer) & 0xC0000000u) == 0;
}

DWORD ServiceOf(InetScheme scheme) {
    return scheme == InetScheme::Ftp ? INTERNET_SERVICE_FTP : INTERNET_SERVICE_HTTP;
}

INTERNET_PORT DefaultPort(InetScheme scheme) {
    switch (scheme) {
    case InetScheme::Ftp:
        return INTERNET_DEFAULT_FTP_PORT;
    case InetScheme::Http:
        return INTERNET_DEFAULT_HTTP_PORT;
    default:
        return INTERNET_DEFAULT_HTTPS_PORT;
    }
}

DWORD OpenTypeOf(InetAccess access) {
    switch (access) {
    case InetAccess::Direct:
        return INTERNET_OPEN_TYPE_DIRECT;
    case InetAccess::Proxy:
        return INTERNET_OPEN_TYPE_PROXY;
    default:
        return INTERNET_OPEN_TYPE_PRECONFIG;
    }
}

const wchar_t* OrNull(const std::wstring& text) {
    return text.empty() ? nullptr : text.c_str();
}

bool SchemeOf(INTERNET_SCHEME scheme, InetScheme& result) {
    switch (scheme) {
    case INTERNET_SCHEME_FTP:
        result = InetScheme::Ftp;
        return true;
    case INTERNET_SCHEME_HTTP:
        result = InetScheme::Http;
        return true;
    case INTERNET_SCHEME_HTTPS:
        result = InetScheme::Https;
        return true;
    default:
        return false;
    }
}

} // namespace

InetClient::InetClient() : m_user_agent(kClientAgent) {}

InetClient::~InetClient() {
    // No notification reaches a client being destroyed: the handles report
    // their closing to this object, and the user's callback may belong to an
    // owner that is already going away.
    m_destroying = true;
    m_form_fields.clear();
    m_cookies.clear();
    // Children first, since the session's close would leave them dangling.
    m_session.RestoreStatusCallback();
    m_request.Close();
    m_connection.Close();
    m_session.Close();
}

void InetClient::SetCallback(InetCallback callback, void* userData) {
    m_callback = callback;
    m_user_data = userData;
}

void InetClient::SetProxy(std::wstring proxy, std::wstring bypass) {
    m_proxy = std::move(proxy);
    m_proxy_bypass = std::move(bypass);
}

void InetClient::SetCredentials(std::wstring user, std::wstring password) {
    m_user = std::move(user);
    m_password = std::move(password);
}

HRESULT InetClient::AddCookie(std::wstring name, std::wstring value) {
    return RunGuarded([&] {
        m_cookies.emplace_back(std::move(name), std::move(value));
        return S_OK;
    });
}

HRESULT InetClient::AddFormField(FormField field) {
    return RunGuarded([&] {
        m_form_fields.push_back(std::move(field));
        return S_OK;
    });
}

HRESULT InetClient::Notify(DWORD code, ULONG_PTR argument) const {
    return m_callback && !m_destroying ? m_callback(code, argument, m_user_data) : S_OK;
}

void CALLBACK InetClient::OnStatus(HINTERNET, DWORD_PTR context, DWORD status, void* info,
                                   DWORD infoLength) {
    auto* client = reinterpret_cast<InetClient*>(context);
    if (client == nullptr || client->m_destroying)
        return; // the session handle carries no context
    client->m_last_status = status;
    const BYTE* bytes = static_cast<const BYTE*>(info);
    DWORD kept = info ? std::min(infoLength, kMaxStatusInfo) : 0;
    client->m_last_status_info.assign(bytes, bytes + kept);
    client->Notify(kInetStatusNotification, status);
}

HRESULT InetClient::OpenUrl(const wchar_t* url, RequestMode mode, const wchar_t* referrer,
                            const wchar_t* verb, const void* body, DWORD bodyLength) {
    return RunGuarded([&]() -> HRESULT {
        RETURN_HR_IF_NULL(E_INVALIDARG, url);
        URL_COMPONENTSW parts{};
        parts.dwStructSize = sizeof(parts);
        parts.dwSchemeLength = parts.dwHostNameLength = parts.dwUserNameLength =
            parts.dwPasswordLength = parts.dwUrlPathLength = parts.dwExtraInfoLength = 1;
        if (!InternetCrackUrlW(url, static_cast<DWORD>(std::wcslen(url)), 0, &parts))
            return LastErrorResult();

        std::wstring user(parts.lpszUserName ? parts.lpszUserName : L"", parts.dwUserNameLength);
        std::wstring password(parts.lpszPassword ? parts.lpszPassword : L"",
                              parts.dwPasswordLength);
        if (!user.empty() && !password.empty())
            SetCredentials(std::move(user), std::move(password));

        std::wstring object(parts.lpszUrlPath ? parts.lpszUrlPath : L"", parts.dwUrlPathLength);
        if (parts.lpszExtraInfo)
            object.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
        object = object.substr(0, object.find(L'#')); // the fragment never leaves the client

        InetScheme scheme{};
        RETURN_HR_IF(E_FAIL, !SchemeOf(parts.nScheme, scheme));
        std::wstring host(parts.lpszHostName ? parts.lpszHostName : L"", parts.dwHostNameLength);
        RETURN_IF_FAILED(Connect(host.c_str(), parts.nPort, scheme));
        return SendRequest(object.c_str(), mode, verb, referrer, body, bodyLength);
    });
}

HRESULT InetClient::Connect(const wchar_t* host, INTERNET_PORT port, InetScheme scheme) {
    return RunGuarded([&]() -> HRESULT {
        RETURN_HR_IF_NULL(E_INVALIDARG, host);
        m_port = port;
        m_host = host;
        m_scheme = scheme;
        InternetAttemptConnect(0); // its answer does not stop the connect

        m_request.Close();
        m_connection.Close();
        RETURN_IF_FAILED(m_session.Open(m_user_agent.c_str(), OrNull(m_proxy),
                                        OrNull(m_proxy_bypass), OpenTypeOf(m_access)));
        RETURN_IF_FAILED(m_session.SetStatusCallback(&InetClient::OnStatus));
        m_session.SetOption(INTERNET_OPTION_HTTP_DECODING, TRUE); // gzip, deflate arrive decoded

        RETURN_HR_IF(E_FAIL, scheme != InetScheme::Ftp && scheme != InetScheme::Http &&
                                 scheme != InetScheme::Https);
        if (port == 0)
            port = DefaultPort(scheme);
        return m_connection.Open(m_session, ServiceOf(scheme), host, port, OrNull(m_user),
                                 OrNull(m_password), reinterpret_cast<DWORD_PTR>(this));
    });
}

bool InetClient::IsSecure() const {
    return m_scheme == InetScheme::Https || m_port == INTERNET_DEFAULT_HTTPS_PORT;
}

HRESULT InetClient::PrepareBody(std::wstring& object, RequestMode mode, const wchar_t*& verb,
                                std::wstring& headers, MemoryStream& body, const void* rawBody,
                                DWORD rawLength) const {
    switch (mode) {
    case RequestMode::Get:
        verb = L"GET";
        return AppendQueryString(object, m_form_fields);
    case RequestMode::PostUrlEncoded:
        verb = L"POST";
        headers = L"Content-Type: application/x-www-form-urlencoded\r\n";
        RETURN_IF_FAILED(body.Create(0, -2));
        return WriteUrlEncodedForm(body, m_form_fields);
    case RequestMode::PostMultipart:
        verb = L"POST";
        headers = MultipartContentTypeHeader();
        RETURN_IF_FAILED(body.Create(0, -2));
        return WriteMultipartForm(body, m_form_fields);
    case RequestMode::OpenOnly:
        return S_OK;
    case RequestMode::Raw:
        if (verb == nullptr)
            verb = L"GET";
        if (rawBody != nullptr) {
            DWORD length = rawLength
                               ? rawLength
                               : static_cast<DWORD>(std::strlen(static_cast<const char*>(rawBody)));
            RETURN_IF_FAILED(body.Create(length, -2));
            size_t written = 0;
            RETURN_IF_FAILED(body.Write(rawBody, length, &written));
        }
        return S_OK;
    }
    return E_INVALIDARG;
}

HRESULT InetClient::SendRequest(const wchar_t* object, RequestMode mode, const wchar_t* verb,
                                const wchar_t* referrer, const void* body, DWORD bodyLength) {
    return RunGuarded([&]() -> HRESULT {
        RETURN_HR_IF(E_FAIL, !m_connection.IsOpen());
        RETURN_HR_IF_NULL(E_INVALIDARG, object);
        std::wstring path = object;
        std::wstring headers;
        MemoryStream bodyStream;
        if (verb == nullptr && mode != RequestMode::Raw)
            verb = L"POST";
        RETURN_IF_FAILED(PrepareBody(path, mode, verb, headers, bodyStream, body, bodyLength));
        if (m_scheme == InetScheme::Ftp)
            return OpenFtp(path, mode);

        HRESULT hr = OpenHttp(path, verb, referrer);
        if (SUCCEEDED(hr) && mode != RequestMode::OpenOnly)
            hr = SendLoop(headers, bodyStream, mode, verb, referrer);
        if (SUCCEEDED(hr) && mode != RequestMode::OpenOnly)
            hr = Notify(kInetRequestAccepted, 0);
        if (FAILED(hr))
            m_request.Close();
        return hr;
    });
}

HRESULT InetClient::OpenFtp(const std::wstring& object, RequestMode mode) {
    std::wstring path = object;
    std::wstring decoded;
    size_t length = 0;
    if (DecodePercent(object, decoded, length))
        path = decoded; // undecodable paths go as they are
    DWORD access = mode == RequestMode::Get ? GENERIC_READ : GENERIC_WRITE;
    return m_request.OpenFtpFile(m_connection, path.c_str(), access,
                                 reinterpret_cast<DWORD_PTR>(this));
}

std::wstring InetClient::CookieUrl() const {
    return std::wstring(IsSecure() ? L"https://" : L"http://") + m_host + L"/";
}

HRESULT InetClient::OpenHttp(const std::wstring& object, const wchar_t* verb,
                             const wchar_t* referrer) {
    RETURN_IF_FAILED(m_request.Open(m_connection, verb, object.c_str(), IsSecure(), referrer,
                                    reinterpret_cast<DWORD_PTR>(this)));
    if (!m_extra_headers.empty())
        RETURN_IF_FAILED(m_request.AddHeaders(m_extra_headers.c_str(),
                                              static_cast<DWORD>(m_extra_headers.size()),
                                              HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE));
    RETURN_IF_FAILED(m_request.AddHeader(L"Accept", L"*/*"));
    RETURN_IF_FAILED(m_request.AddHeader(L"Accept-Encoding", L"gzip, deflate"));
    // WinINet keys cookies by URL, so the host goes in as one.
    std::wstring cookieUrl = CookieUrl();
    for (const auto& [name, value] : m_cookies) {
        if (!InternetSetCookieW(cookieUrl.c_str(), name.c_str(), value.c_str()))
            return LastErrorResult();
    }
    return S_OK;
}

HRESULT InetClient::IgnoreCertificateErrors() {
    DWORD flags = 0;
    DWORD size = sizeof(flags);
    if (FAILED(m_request.QueryOption(INTERNET_OPTION_SECURITY_FLAGS, &flags, &size)))
        flags = 0;
    // WinINet keeps this connection in its per-process pool afterwards, checks
    // skipped: only a caller that opts in for the server as a whole gets here.
    return m_request.SetOption(INTERNET_OPTION_SECURITY_FLAGS, flags | kIgnoreCertificateFlags);
}

HRESULT InetClient::FollowRedirect(bool& followed, RequestMode mode, const wchar_t* verb,
                                   const wchar_t* referrer) {
    followed = false;
    std::wstring location;
    if (FAILED(m_request.QueryHeader(HTTP_QUERY_LOCATION, location)))
        return S_OK;
    if (m_redirects_followed == kMaxResends)
        return S_OK; // a server that asks forever: the last answer stands
    if (!Approves(Notify(kInetRedirectOrAuth, reinterpret_cast<ULONG_PTR>(location.c_str()))))
        return S_OK; // refused: the answer stands as it came
    followed = true;
    ++m_redirects_followed; // counts the hops of one request, since each nests in the last
    HRESULT hr = SendRequest(location.c_str(), mode, verb, referrer);
    --m_redirects_followed;
    return hr;
}

HRESULT InetClient::SendLoop(const std::wstring& headers, const MemoryStream& body,
                             RequestMode mode, const wchar_t* verb, const wchar_t* referrer) {
    bool certificateRetried = false;
    int authResends = 0;
    for (;;) {
        HRESULT hr = m_request.Send(OrNull(headers), body.GetSize() ? body.Data() : nullptr,
                                    static_cast<DWORD>(body.GetSize()));
        if (hr == kInvalidCa) {
            if (m_reject_invalid_certificates || certificateRetried)
                return hr;
            certificateRetried = true;
            RETURN_IF_FAILED(IgnoreCertificateErrors());
            continue;
        }
        if (hr == kRedirectNeedsConfirmation) {
            bool followed = false;
            HRESULT redirect = FollowRedirect(followed, mode, verb, referrer);
            if (followed)
                return redirect;
        } else if (FAILED(hr)) {
            return hr;
        }

        HRESULT status = m_request.StatusToResult();
        if (status != kStatusUnauthorized && status != kStatusProxyAuth)
            return status;
        if (m_callback == nullptr || authResends == kMaxResends)
            return status;
        DWORD code = status == kStatusProxyAuth ? kInetProxyAuth : kInetRedirectOrAuth;
        HRESULT answer = Notify(code, reinterpret_cast<ULONG_PTR>(this));
        if (FAILED(answer))
            return answer;
        ++authResends;
    }
}

HRESULT InetClient::OnReadProgress(ULONGLONG total, void* context) {
    auto* client = static_cast<InetClient*>(context);
    return client->Notify(kInetReadProgress, reinterpret_cast<ULONG_PTR>(&total));
}

HRESULT InetClient::ReadInto(void* buffer, DWORD size, DWORD& read) {
    read = 0;
    RETURN_HR_IF_NULL(E_POINTER, buffer);
    BufferView view(buffer, size);
    ULONGLONG total = 0;
    HRESULT hr = m_request.ReadResponse(view, total, m_callback ? &OnReadProgress : nullptr, this);
    read = static_cast<DWORD>(total);
    if (FAILED(hr) && hr != INET_E_END_OF_DATA)
        return hr;
    if (m_callback) {
        HRESULT answer = Notify(kInetReadDone, reinterpret_cast<ULONG_PTR>(&total));
        if (FAILED(answer))
            return answer;
    }
    return hr;
}

} // namespace gd
