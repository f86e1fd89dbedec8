#include "driveapi/request_common.h"

#include "auth/endpoints.h"
#include "errors/check.h"
#include "errors/codes.h"
#include "driveapi/drive_errors.h"
#include "http/encoding.h"
#include "http/inet_handles.h"
#include "http/one_shot.h"

namespace gd {

std::wstring BearerHeaderLine(const std::wstring& token) {
    return L"Authorization: Bearer " + token + L"\r\n";
}

std::wstring BearerValue(const std::wstring& token) {
    return L"Bearer " + token;
}

HRESULT CheckFileId(std::wstring_view id) {
    if (id.empty())
        return GD_E_MISSING;
    for (wchar_t c : id) {
        bool allowed = (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') ||
                       (c >= L'0' && c <= L'9') || c == L'-' || c == L'_';
        if (!allowed)
            return GD_E_INVALID_ARG;
    }
    return S_OK;
}

std::string_view BodyText(const MemoryStream& body) {
    if (body.Data() == nullptr)
        return {};
    return {reinterpret_cast<const char*>(body.Data()), body.GetSize()};
}

HRESULT ReadMappedError(InetRequest& request, HRESULT status) {
    MemoryStream body;
    if (FAILED(ReadWholeBody(request, body)))
        return status;
    return MapDriveError(status, BodyText(body));
}

RequestRunner RunWithToken(std::wstring token) {
    return [token = std::move(token)](const RequestKind& kind) { return kind(token); };
}

HRESULT SplitUrl(const std::wstring& url, UrlParts& parts) {
    return RunGuarded([&]() -> HRESULT {
        URL_COMPONENTSW components{};
        components.dwStructSize = sizeof(components);
        components.dwHostNameLength = components.dwUrlPathLength = components.dwExtraInfoLength = 1;
        RETURN_HR_IF(E_INVALIDARG,
                     url.empty() || !InternetCrackUrlW(url.c_str(), static_cast<DWORD>(url.size()),
                                                       0, &components));
        RETURN_HR_IF(E_INVALIDARG,
                     components.lpszHostName == nullptr || components.dwHostNameLength == 0);
        parts.scheme = components.nScheme;
        parts.host.assign(components.lpszHostName, components.dwHostNameLength);
        parts.port = components.nPort;
        parts.object.assign(components.lpszUrlPath ? components.lpszUrlPath : L"",
                            components.dwUrlPathLength);
        if (components.lpszExtraInfo)
            parts.object.append(components.lpszExtraInfo, components.dwExtraInfoLength);
        parts.object = parts.object.substr(0, parts.object.find(L'#'));
        if (parts.object.empty())
            parts.object = L"/";
        return S_OK;
    });
}

bool IsEmulatorHost(const UrlParts& parts) {
    auto emulator = EmulatorEndpoint();
    return emulator && parts.scheme == INTERNET_SCHEME_HTTP &&
           _wcsicmp(emulator->host.c_str(), parts.host.c_str()) == 0 &&
           emulator->port == parts.port;
}

bool IsLoopbackUnderOverride(const UrlParts& parts) {
    if (parts.scheme != INTERNET_SCHEME_HTTP || !EmulatorEndpoint())
        return false;
    std::wstring host =
        parts.host.find(L':') != std::wstring::npos ? L"[" + parts.host + L"]" : parts.host;
    return ParseEmulatorHost(host + L":" + std::to_wstring(parts.port)).has_value();
}

bool ParseJsonObject(std::string_view text, rapidjson::Document& document) {
    // RapidJSON wants a terminated text.
    std::string copy(text);
    document.Parse(copy.c_str());
    return !document.HasParseError() && document.IsObject();
}

std::wstring FromUtf8Value(const rapidjson::Value& value) {
    if (!value.IsString())
        return {};
    return FromUtf8({value.GetString(), value.GetStringLength()});
}

std::wstring WideMember(const rapidjson::Value& object, const char* name) {
    if (!object.IsObject())
        return {};
    auto member = object.FindMember(name);
    return member == object.MemberEnd() ? std::wstring() : FromUtf8Value(member->value);
}

} // namespace gd
