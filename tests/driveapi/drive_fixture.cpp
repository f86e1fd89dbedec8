#include "tests/driveapi/drive_fixture.h"

#include "http/encoding.h"

#include <rapidjson/document.h>

#include <algorithm>
#include <string>

namespace gd::test {

void DriveTest::SetUp() {
    ResetEmulator();
    ServerAddress address = EmulatorAddress("http");
    std::wstring value = address.host + L":" + std::to_wstring(address.port);
    SetEnvironmentVariableW(L"DRIVE_EMULATOR_HOST", value.c_str());
    m_token = IssueToken();
}

void DriveTest::TearDown() {
    SetEnvironmentVariableW(L"DRIVE_EMULATOR_HOST", nullptr);
}

std::wstring DriveTest::IssueToken(const char* user) {
    std::string answer = EmulatorControl(L"POST", L"/_emu/tokens",
                                         std::string(R"({"issue": {"user": ")") + user + R"("}})");
    return FromUtf8(ControlMember(answer, "access_token"));
}

std::string ControlMember(const std::string& json, const char* name) {
    rapidjson::Document document;
    document.Parse(json.c_str());
    if (document.HasParseError() || !document.IsObject())
        return {};
    auto member = document.FindMember(name);
    if (member == document.MemberEnd())
        return {};
    if (member->value.IsString())
        return member->value.GetString();
    if (member->value.IsInt64())
        return std::to_string(member->value.GetInt64());
    return {};
}

std::vector<LoggedRequest> RequestLogFrom(size_t first) {
    auto log = RequestLog();
    log.erase(log.begin(), log.begin() + static_cast<std::ptrdiff_t>(std::min(first, log.size())));
    return log;
}

std::wstring SeedId(const char* name) {
    std::wstring id = FromUtf8(name);
    id.resize(33, L'_');
    return id;
}

std::wstring CreatePatternFile(long long size) {
    std::string answer =
        EmulatorControl(L"POST", L"/_emu/files",
                        R"({"title": "pattern.bin", "size": )" + std::to_string(size) + "}");
    return FromUtf8(ControlMember(answer, "id"));
}

namespace {

std::string ContentMember(const std::wstring& id, const char* name) {
    std::wstring path = L"/_emu/files/" + id + L"/content-sha256";
    return ControlMember(EmulatorControl(L"GET", path.c_str()), name);
}

} // namespace

std::string ContentSha256(const std::wstring& id) {
    return ContentMember(id, "sha256");
}

std::string ContentVersion(const std::wstring& id) {
    return ContentMember(id, "version");
}

} // namespace gd::test
