#include "host/page_fetch.h"

#include <shlwapi.h>
#include <wininet.h>

#include <vector>

#include "errors/check.h"
#include "http/encoding.h"
#include "http/inet_handles.h"

namespace gd {
namespace {

constexpr int kMaxRedirects = 10;

struct UrlParts {
    bool secure = false;
    std::wstring host;
    INTERNET_PORT port = 0;
    std::wstring object; // path and query
};

HRESULT CrackUrl(const std::wstring& url, UrlParts* parts) {
    URL_COMPONENTSW components{};
    components.dwStructSize = sizeof components;
    components.dwHostNameLength = 1; // pointers into url
    components.dwUrlPathLength = 1;
    components.dwExtraInfoLength = 1;
    RETURN_HR_IF(E_INVALIDARG,
                 !InternetCrackUrlW(url.c_str(), static_cast<DWORD>(url.size()), 0, &components));
    RETURN_HR_IF(E_INVALIDARG, components.nScheme != INTERNET_SCHEME_HTTP &&
                                   components.nScheme != INTERNET_SCHEME_HTTPS);
    RETURN_HR_IF(E_INVALIDARG, components.dwHostNameLength == 0);
    parts->secure = components.nScheme == INTERNET_SCHEME_HTTPS;
    parts->host.assign(components.lpszHostName, components.dwHostNameLength);
    parts->port = components.nPort;
    parts->object.assign(components.lpszUrlPath, components.dwUrlPathLength);
    parts->object.append(components.lpszExtraInfo, components.dwExtraInfoLength);
    if (parts->object.empty() || parts->object[0] != L'/')
        parts->object.insert(0, L"/");
    return S_OK;
}

bool IsRedirect(DWORD status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

HRESULT ReadBody(HINTERNET request, std::string* body) {
    char buffer[16384];
    for (;;) {
        DWORD read = 0;
        RETURN_HR_IF(LastErrorResult(), !InternetReadFile(request, buffer, sizeof buffer, &read));
        if (read == 0)
            return S_OK;
        body->append(buffer, read);
    }
}

// One request without following its redirect; *location gets the
// redirect's target when there is one.
HRESULT FetchOnce(HINTERNET session, const std::wstring& url, const std::wstring& method,
                  const std::string& body, DWORD* status, std::wstring* location,
                  std::string* answer) {
    UrlParts parts;
    RETURN_IF_FAILED(CrackUrl(url, &parts));
    InetHandle connection(InternetConnectW(session, parts.host.c_str(), parts.port, nullptr,
                                           nullptr, INTERNET_SERVICE_HTTP, 0, 0));
    RETURN_HR_IF(LastErrorResult(), !connection.IsOpen());
    // No certificate check is ever switched off.
    DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_UI |
                  INTERNET_FLAG_NO_AUTO_REDIRECT | INTERNET_FLAG_NO_COOKIES;
    if (parts.secure)
        flags |= INTERNET_FLAG_SECURE;
    const wchar_t* accept[] = {L"text/html", L"*/*", nullptr};
    InetHandle request(HttpOpenRequestW(connection.Get(), method.c_str(), parts.object.c_str(),
                                        nullptr, nullptr, accept, flags, 0));
    RETURN_HR_IF(LastErrorResult(), !request.IsOpen());
    const wchar_t* headers =
        method == L"POST" ? L"Content-Type: application/x-www-form-urlencoded\r\n" : nullptr;
    RETURN_HR_IF(LastErrorResult(),
                 !HttpSendRequestW(request.Get(), headers, headers != nullptr ? DWORD(-1) : 0,
                                   const_cast<char*>(body.data()),
                                   static_cast<DWORD>(body.size())));
    DWORD size = sizeof *status;
    RETURN_HR_IF(LastErrorResult(),
                 !HttpQueryInfoW(request.Get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER,
                                 status, &size, nullptr));
    location->clear();
    if (IsRedirect(*status)) {
        std::vector<wchar_t> buffer(4096);
        DWORD length = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
        if (HttpQueryInfoW(request.Get(), HTTP_QUERY_LOCATION, buffer.data(), &length, nullptr))
            location->assign(buffer.data(), length / sizeof(wchar_t));
    }
    return ReadBody(request.Get(), answer);
}

} // namespace

std::wstring ResolveUrl(const std::wstring& base, const std::wstring& relative) {
    std::vector<wchar_t> buffer(base.size() + relative.size() + 64);
    DWORD size = static_cast<DWORD>(buffer.size());
    HRESULT hr = UrlCombineW(base.c_str(), relative.c_str(), buffer.data(), &size, 0);
    if (hr == E_POINTER) {
        buffer.resize(size + 1);
        size = static_cast<DWORD>(buffer.size());
        hr = UrlCombineW(base.c_str(), relative.c_str(), buffer.data(), &size, 0);
    }
    return SUCCEEDED(hr) ? std::wstring(buffer.data(), size) : relative;
}

HRESULT FetchPage(const std::wstring& url, const std::wstring& method, const std::string& body,
                  FetchedPage* page) {
    RETURN_HR_IF_NULL(E_POINTER, page);
    *page = FetchedPage{url, 0, {}};
    InetHandle session(
        InternetOpenW(L"Lumo host browser", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
    RETURN_HR_IF(LastErrorResult(), !session.IsOpen());
    std::wstring verb = method;
    std::string data = body;
    for (int hop = 0;; ++hop) {
        std::wstring location;
        std::string answer;
        RETURN_IF_FAILED(
            FetchOnce(session.Get(), page->url, verb, data, &page->status, &location, &answer));
        if (location.empty() || hop == kMaxRedirects) {
            page->text = FromUtf8(answer);
            return S_OK;
        }
        if (page->status != 307 && page->status != 308) {
            verb = L"GET";
            data.clear();
        }
        page->url = ResolveUrl(page->url, location);
    }
}

} // namespace gd
