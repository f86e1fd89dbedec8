#include "driveapi/drive_errors.h"

#include "http/encoding.h"

#include <rapidjson/document.h>

#include <array>
#include <string>

namespace gd {

namespace {

std::string_view StringMember(const rapidjson::Value& object, const char* name) {
    if (!object.IsObject())
        return {};
    auto member = object.FindMember(name);
    if (member == object.MemberEnd() || !member->value.IsString())
        return {};
    return {member->value.GetString(), member->value.GetStringLength()};
}

// The member of the error object itself, else of its first "errors" entry.
std::string_view ErrorMember(const rapidjson::Value& error, const char* name) {
    std::string_view own = StringMember(error, name);
    if (!own.empty())
        return own;
    auto errors = error.FindMember("errors");
    if (errors == error.MemberEnd() || !errors->value.IsArray() || errors->value.Empty())
        return {};
    return StringMember(errors->value[0], name);
}

struct ReasonCode {
    const char* reason;
    HRESULT code;
};

constexpr std::array<ReasonCode, 6> kForbiddenReasons{{
    {"dailyLimitExceeded", DRIVE_E_DAILY_LIMIT},
    {"userRateLimitExceeded", DRIVE_E_USER_RATE_LIMIT},
    {"rateLimitExceeded", DRIVE_E_RATE_LIMIT},
    {"appNotAuthorizedToFile", DRIVE_E_APP_NOT_AUTHORIZED},
    {"insufficientFilePermissions", DRIVE_E_INSUFFICIENT_PERMISSIONS},
    {"domainPolicy", DRIVE_E_DOMAIN_POLICY},
}};

HRESULT MapForbidden(HRESULT code, const rapidjson::Value& error) {
    std::string_view reason = ErrorMember(error, "reason");
    if (!reason.empty()) {
        for (const ReasonCode& entry : kForbiddenReasons) {
            if (EqualsIgnoringCase(reason, entry.reason))
                return entry.code;
        }
    }
    if (ErrorMember(error, "message").find("malware") != std::string_view::npos)
        return DRIVE_E_MALWARE;
    return code;
}

} // namespace

HRESULT MapDriveError(HRESULT code, std::string_view body) {
    rapidjson::Document document;
    // A copy: RapidJSON wants a terminated text.
    std::string text(body);
    document.Parse(text.c_str());
    if (document.HasParseError() || !document.IsObject())
        return code;
    auto error = document.FindMember("error");
    if (error == document.MemberEnd() || !error->value.IsObject())
        return code;
    const rapidjson::Value& e = error->value;
    auto status = e.FindMember("code");
    if (status == e.MemberEnd())
        return code;
    int value = status->value.IsInt() ? status->value.GetInt() : 0;
    switch (value) {
    case 400:
        return EqualsIgnoringCase(StringMember(e, "message"), "Parse error") ? DRIVE_E_PARSE_ERROR
                                                                             : code;
    case 401:
        return EqualsIgnoringCase(ErrorMember(e, "reason"), "authError") ? DRIVE_E_AUTH : code;
    case 403:
        return MapForbidden(code, e);
    case 404:
        return DRIVE_E_NOT_FOUND;
    default:
        return code;
    }
}

} // namespace gd
