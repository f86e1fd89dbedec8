#include "tests/driveapi/drive_fixture.h"

#include "http/encoding.h"

#include <rapidjson/document.h>

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

std::string DriveTest::ControlMember(const std::string& json, const char* name) {
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

} // namespace gd::test
