#include "driveapi/request_common.h"

#include "errors/codes.h"
#include "http/encoding.h"

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

bool ParseJsonObject(std::string_view text, rapidjson::Document& document) {
    // RapidJSON wants a terminated text.
    std::string copy(text);
    document.Parse(copy.c_str());
    return !document.HasParseError() && document.IsObject();
}

std::wstring WideMember(const rapidjson::Value& object, const char* name) {
    if (!object.IsObject())
        return {};
    auto member = object.FindMember(name);
    if (member == object.MemberEnd() || !member->value.IsString())
        return {};
    return FromUtf8({member->value.GetString(), member->value.GetStringLength()});
}

} // namespace gd
