#include "drivefs/name_text.h"

#include "auth/endpoints.h"
#include "driveapi/request_common.h"
#include "errors/check.h"
#include "errors/codes.h"
#include "http/encoding.h"

namespace gd {
namespace {

constexpr std::wstring_view kSeparators = L"/\\";

bool StartsWith(std::wstring_view text, std::wstring_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

// The part of text from first up to the first of stops (or the end).
std::wstring_view UpTo(std::wstring_view text, std::size_t first, std::wstring_view stops) {
    if (first > text.size())
        return {};
    std::size_t end = text.find_first_of(stops, first);
    return text.substr(first, end == std::wstring_view::npos ? text.npos : end - first);
}

// The value of "id=" at the start of the query or right after an "&".
std::wstring_view QueryId(std::wstring_view query) {
    for (std::size_t at = 0; at < query.size();) {
        if (StartsWith(query.substr(at), L"id="))
            return UpTo(query, at + 3, L"&/");
        std::size_t next = query.find(L'&', at);
        if (next == query.npos)
            break;
        at = next + 1;
    }
    return {};
}

std::wstring_view PathId(std::wstring_view path) {
    constexpr std::wstring_view kFileD = L"/file/d/";
    std::size_t at = path.find(kFileD);
    return at == path.npos ? std::wstring_view() : UpTo(path, at + kFileD.size(), L"/");
}

// Where the last marker ends, ignoring case; npos without one.
std::size_t AfterLastMarker(std::wstring_view text) {
    constexpr std::wstring_view kMarker = kIdMarker;
    for (std::size_t at = text.size(); at >= kMarker.size(); --at) {
        if (EqualsIgnoringCase(text.substr(at - kMarker.size(), kMarker.size()), kMarker))
            return at;
    }
    return text.npos;
}

std::vector<std::wstring> Components(std::wstring_view text) {
    std::vector<std::wstring> parts;
    for (std::size_t at = 0; at < text.size();) {
        std::wstring_view part = UpTo(text, at, kSeparators);
        if (!part.empty())
            parts.emplace_back(part);
        at += part.size() + 1;
    }
    return parts;
}

bool IsWebHost(std::wstring_view host) {
    return EqualsIgnoringCase(host, std::wstring_view(kDriveWebHost)) ||
           EqualsIgnoringCase(host, std::wstring_view(kDocsWebHost));
}

HRESULT CheckedId(std::wstring_view id, ParsedName* parsed) {
    RETURN_HR_IF(GD_E_INVALID_ARG, FAILED(CheckFileId(id)));
    parsed->id = id;
    return S_OK;
}

// "...googledriveid<id>/<title>/<title>": the id names a folder (the account
// root for "root"), the titles names below it.
HRESULT ParseMarkerText(std::wstring_view text, ParsedName* parsed) {
    std::size_t after = AfterLastMarker(text);
    RETURN_HR_IF(GD_E_INVALID_ARG, after == text.npos);
    std::wstring_view id = UpTo(text, after, kSeparators);
    if (id != kRootFolderId)
        RETURN_IF_FAILED(CheckedId(id, parsed));
    parsed->titles = Components(text.substr(after + id.size()));
    return S_OK;
}

HRESULT ParseLink(const NameUrl& url, ParsedName* parsed) {
    RETURN_HR_IF(GD_E_INVALID_ARG, !IsWebHost(url.host));
    std::wstring_view id = QueryId(url.query);
    if (id.empty())
        id = PathId(url.path);
    if (!id.empty())
        return CheckedId(id, parsed);
    // The web root itself: My Drive.
    RETURN_HR_IF(GD_E_INVALID_ARG, !url.query.empty() || (!url.path.empty() && url.path != L"/"));
    return S_OK;
}

} // namespace

NameUrl SplitNameUrl(std::wstring_view text, bool allowBareHost) {
    NameUrl url;
    std::size_t hostAt = text.find(L"://");
    if (hostAt != text.npos) {
        url.scheme = text.substr(0, hostAt);
        hostAt += 3;
    } else if (allowBareHost) {
        hostAt = 0;
    } else {
        url.path = UpTo(text, 0, L"?#");
        return url;
    }
    std::wstring_view authority = UpTo(text, hostAt, L"/\\?#");
    url.host = UpTo(authority, 0, L":");
    std::size_t pathAt = hostAt + authority.size();
    url.path = UpTo(text, pathAt, L"?#");
    std::size_t queryAt = pathAt + url.path.size();
    if (queryAt < text.size() && text[queryAt] == L'?')
        url.query = UpTo(text, queryAt + 1, L"#");
    return url;
}

std::wstring RootTextOf(const NameUrl& url) {
    std::wstring scheme = url.scheme.empty() ? L"https" : url.scheme;
    return scheme + L"://" + (url.host.empty() ? std::wstring(kDriveWebHost) : url.host);
}

bool IsDriveNameText(const wchar_t* text) {
    if (text == nullptr)
        return false;
    std::wstring_view view(text);
    if (StartsWith(view, kGdScheme))
        return !SplitNameUrl(view.substr(5), true).host.empty();
    return IsWebHost(SplitNameUrl(view, false).host);
}

HRESULT ParseNameText(std::wstring_view text, ParsedName* parsed) {
    RETURN_HR_IF_NULL(E_POINTER, parsed);
    *parsed = ParsedName();
    RETURN_HR_IF(GD_E_INVALID_ARG, text.empty());
    bool gdName = StartsWith(text, kGdScheme);
    if (gdName)
        text.remove_prefix(5);
    NameUrl url = SplitNameUrl(text, gdName);
    parsed->root_text = RootTextOf(url);
    if (!gdName && !url.host.empty())
        return ParseLink(url, parsed);
    // A "gd://" name of the root alone names My Drive.
    if (gdName && !url.host.empty() && Components(url.path).empty() && url.query.empty())
        return S_OK;
    return ParseMarkerText(text, parsed);
}

std::wstring DriveWebBase() {
    return std::wstring(L"https://") + kDriveWebHost;
}

} // namespace gd
