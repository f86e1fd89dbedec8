// What every Drive request kind shares: the session's user agent, the bearer
// header and the guard on file ids that enter a path or query.
#pragma once

#include "http/memory_stream.h"

#include <rapidjson/document.h>

#include <windows.h>

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

// Parses a body whose root must be an object; false otherwise.
bool ParseJsonObject(std::string_view text, rapidjson::Document& document);
// A string member as wide text; empty when absent or not a string.
std::wstring WideMember(const rapidjson::Value& object, const char* name);

} // namespace gd
