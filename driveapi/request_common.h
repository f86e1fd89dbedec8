// What every Drive request kind shares: the session's user agent, the bearer
// header and the guard on file ids that enter a path or query.
#pragma once

#include "http/memory_stream.h"

#include <rapidjson/document.h>

#include <windows.h>
#include <wininet.h>

#include <functional>

#include <string>
#include <string_view>

namespace gd {

inline constexpr wchar_t kDriveUserAgent[] =
    L"Mozilla/5.0 (Windows; U; Windows NT 5.1; en-US) WebDAV";

// "Authorization: Bearer <token>\r\n" for the one-call requests.
std::wstring BearerHeaderLine(const std::wstring& token);
// "Bearer <token>" for requests that add the header themselves.
std::wstring BearerValue(const std::wstring& token);

// Letters, digits, "-" and "_" only: an empty id gives 0x82220010, any other
// character 0x82220001, so no id can steer a request to another path or query.
HRESULT CheckFileId(std::wstring_view id);

// The bytes of a collected body as text.
std::string_view BodyText(const MemoryStream& body);

class InetRequest;
// Reads the body of an error answer and maps it; status when it cannot be read.
HRESULT ReadMappedError(InetRequest& request, HRESULT status);

// One request kind, given the access token text.
using RequestKind = std::function<HRESULT(const std::wstring& token)>;
// Runs a kind with a token: once with a fixed one, or through an account's
// retry driver.
using RequestRunner = std::function<HRESULT(const RequestKind& kind)>;
// A runner that runs each kind once with token.
RequestRunner RunWithToken(std::wstring token);

struct UrlParts {
    INTERNET_SCHEME scheme = INTERNET_SCHEME_UNKNOWN;
    std::wstring host;
    INTERNET_PORT port = 0; // the scheme's default when the URL names none
    std::wstring object;    // path and query
};
// 0x80070057 when the URL cannot be split or names no host.
HRESULT SplitUrl(const std::wstring& url, UrlParts& parts);
// host:port is the emulator's under the override.
bool IsEmulatorHost(const UrlParts& parts);
// http on a loopback host, allowed only while the override is in force.
bool IsLoopbackUnderOverride(const UrlParts& parts);

// Parses a body whose root must be an object; false otherwise.
bool ParseJsonObject(std::string_view text, rapidjson::Document& document);
// A JSON string as wide text; empty for anything else.
std::wstring FromUtf8Value(const rapidjson::Value& value);
// A string member as wide text; empty when absent or not a string.
std::wstring WideMember(const rapidjson::Value& object, const char* name);

} // namespace gd
