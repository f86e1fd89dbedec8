#include "driveapi/drive_errors.h"
#include "driveapi/user_info.h"
#include "tests/driveapi/drive_fixture.h"

#include <gtest/gtest.h>

namespace gd {
namespace {

constexpr HRESULT kTransport = MakeHttpStatusError(kSubsystemInetUtils, 403);

TEST(MapDriveError, TranslatesDriveErrorBodies) {
    struct Case {
        const char* body;
        HRESULT expected;
    } cases[] = {
        // The real shape: the reason only inside errors[0].
        {R"({"error":{"errors":[{"domain":"usageLimits","reason":"dailyLimitExceeded"}],"code":403,"message":"x"}})",
         DRIVE_E_DAILY_LIMIT},
        {R"({"error":{"errors":[{"reason":"USERRATELIMITEXCEEDED"}],"code":403}})",
         DRIVE_E_USER_RATE_LIMIT},
        {R"({"error":{"errors":[{"reason":"rateLimitExceeded"}],"code":403}})", DRIVE_E_RATE_LIMIT},
        {R"({"error":{"reason":"appNotAuthorizedToFile","code":403}})", DRIVE_E_APP_NOT_AUTHORIZED},
        {R"({"error":{"errors":[{"reason":"insufficientFilePermissions"}],"code":403}})",
         DRIVE_E_INSUFFICIENT_PERMISSIONS},
        {R"({"error":{"errors":[{"reason":"domainPolicy"}],"code":403}})", DRIVE_E_DOMAIN_POLICY},
        // The object's own reason wins over the array's.
        {R"({"error":{"reason":"domainPolicy","errors":[{"reason":"rateLimitExceeded"}],"code":403}})",
         DRIVE_E_DOMAIN_POLICY},
        // An empty own reason falls back to the array.
        {R"({"error":{"reason":"","errors":[{"reason":"rateLimitExceeded"}],"code":403}})",
         DRIVE_E_RATE_LIMIT},
        {R"({"error":{"errors":[{"reason":"abuse"}],"code":403,"message":"This file has been identified as malware or spam"}})",
         DRIVE_E_MALWARE},
        {R"({"error":{"code":403,"message":"Identified as MALWARE"}})", kTransport},
        {R"({"error":{"errors":[{"reason":"forbidden"}],"code":403,"message":"Forbidden"}})",
         kTransport},
        {R"({"error":{"errors":[{"reason":"authError"}],"code":401}})", DRIVE_E_AUTH},
        {R"({"error":{"errors":[{"reason":"required"}],"code":401}})", kTransport},
        {R"({"error":{"code":400,"message":"PARSE ERROR"}})", DRIVE_E_PARSE_ERROR},
        {R"({"error":{"code":400,"message":"Invalid Value"}})", kTransport},
        {R"({"error":{"code":404}})", DRIVE_E_NOT_FOUND},
        {R"({"error":{"code":"404"}})", kTransport},
        {R"({"error":{"code":500,"message":"Backend Error"}})", kTransport},
        {R"({"error":{"errors":[{"reason":"rateLimitExceeded"}]}})", kTransport},
        {R"({"error":"invalid_token"})", kTransport},
        {R"([{"error":{"code":404}}])", kTransport},
        {"<html>Not Found</html>", kTransport},
        {"", kTransport},
    };
    for (const Case& c : cases)
        EXPECT_EQ(MapDriveError(kTransport, c.body), c.expected) << c.body;
}

using test::DriveTest;

TEST_F(DriveTest, UserInfoNamesTheTokensUser) {
    std::shared_ptr<DriveUserInfo> info;
    ASSERT_EQ(GetUserInfo(m_token, info), S_OK);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->id, L"108012345678901234567");
    EXPECT_FALSE(info->name.empty());

    std::shared_ptr<DriveUserInfo> none;
    EXPECT_EQ(GetUserInfo(L"not-a-token", none), DRIVE_E_AUTH);
    EXPECT_FALSE(none);
}

} // namespace
} // namespace gd
