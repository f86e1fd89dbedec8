#include "auth/endpoints.h"

#include <gtest/gtest.h>

namespace gd {
namespace {

TEST(EmulatorOverride, AcceptsOnlyLoopbackHostsWithAPort) {
    struct Case {
        const wchar_t* text;
        const wchar_t* host; // nullptr: ignored
        INTERNET_PORT port;
    } cases[] = {
        {L"127.0.0.1:8080", L"127.0.0.1", 8080},
        {L"127.1.2.3:1", L"127.1.2.3", 1},
        {L"LocalHost:65535", L"LocalHost", 65535},
        {L"[::1]:9000", L"::1", 9000},
        {L"128.0.0.1:80", nullptr, 0},
        {L"127.0.0.1.evil.com:80", nullptr, 0},
        {L"127.0.0:80", nullptr, 0},
        {L"127.0.0.256:80", nullptr, 0},
        // Parts with leading zeros resolve as octal: "0127" is 87, off the machine.
        {L"0127.0.0.1:80", nullptr, 0},
        {L"127.0.0.010:80", nullptr, 0},
        {L"127.00000.0.1:80", nullptr, 0},
        {L"localhost.example.com:80", nullptr, 0},
        {L"www.googleapis.com:443", nullptr, 0},
        {L"127.0.0.1", nullptr, 0},
        {L"127.0.0.1:", nullptr, 0},
        {L"127.0.0.1:0", nullptr, 0},
        {L"127.0.0.1:65536", nullptr, 0},
        {L"127.0.0.1:80x", nullptr, 0},
        {L"", nullptr, 0},
    };
    for (const Case& c : cases) {
        auto endpoint = ParseEmulatorHost(c.text);
        if (!c.host) {
            EXPECT_FALSE(endpoint.has_value()) << c.text;
            continue;
        }
        ASSERT_TRUE(endpoint.has_value()) << c.text;
        EXPECT_EQ(endpoint->host, c.host);
        EXPECT_EQ(endpoint->port, c.port);
        EXPECT_FALSE(endpoint->secure);
    }
}

TEST(EmulatorOverride, IsReadEachTimeAnEndpointIsBuilt) {
    SetEnvironmentVariableW(L"DRIVE_EMULATOR_HOST", L"127.0.0.1:4567");
    Endpoint api = DriveApiEndpoint();
    EXPECT_EQ(api.host, L"127.0.0.1");
    EXPECT_EQ(api.port, 4567);
    EXPECT_FALSE(api.secure);
    EXPECT_EQ(AuthorizationEndpointUrl(), L"http://127.0.0.1:4567/o/oauth2/auth");

    SetEnvironmentVariableW(L"DRIVE_EMULATOR_HOST", L"10.0.0.1:4567");
    api = DriveApiEndpoint();
    EXPECT_EQ(api.host, L"www.googleapis.com");
    EXPECT_EQ(api.port, 443);
    EXPECT_TRUE(api.secure);
    EXPECT_EQ(AuthorizationEndpointUrl(), L"https://accounts.google.com/o/oauth2/auth");
    SetEnvironmentVariableW(L"DRIVE_EMULATOR_HOST", nullptr);
}

} // namespace
} // namespace gd
