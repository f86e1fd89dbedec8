#include "driveapi/retry.h"

#include "auth/endpoints.h"
#include "driveapi/drive_errors.h"
#include "driveapi/request_common.h"
#include "http/one_shot.h"
#include "tests/driveapi/account_fixture.h"

#include <string>
#include <vector>

namespace gd {
namespace {

using test::AccountTest;
using test::FakeClock;

constexpr char kFilePath[] = "/drive/v2/files/1aliceWelcome____________________";

// A plain Drive GET: what the wire adds to the driver is the status and body.
HRESULT GetWelcome(const std::wstring& token) {
    MemoryStream body;
    std::wstring headers = BearerHeaderLine(token);
    std::wstring object(std::begin(kFilePath), std::end(kFilePath) - 1);
    HRESULT hr = HttpGetToStream(DriveApiEndpoint(), object.c_str(), body, headers.c_str());
    return FAILED(hr) ? MapDriveError(hr, BodyText(body)) : hr;
}

std::string Fault(int status, const char* reason, int count) {
    std::string fault = std::string(R"({"path": "/drive/v2/files/", "status": )") +
                        std::to_string(status) + R"(, "count": )" + std::to_string(count);
    if (reason)
        fault += std::string(R"(, "reason": ")") + reason + R"(", "message": ")" + reason + "\"";
    return fault + "}";
}

constexpr DWORD kJitter = FakeClock::kTicks & 255;

std::vector<DWORD> Waits(std::initializer_list<DWORD> delays) {
    std::vector<DWORD> waits;
    for (DWORD delay : delays)
        waits.push_back(delay + kJitter);
    return waits;
}

constexpr HRESULT Http(unsigned status) {
    return MakeHttpStatusError(kSubsystemInetUtils, status);
}

class RetryTest : public AccountTest {};

TEST_F(RetryTest, WaitsAndRenewalsFollowTheFailures) {
    std::vector<std::string> alternating;
    for (int i = 0; i < 12; ++i)
        alternating.push_back(Fault(i % 2 ? 502 : 503, nullptr, 1));
    struct Case {
        const char* name;
        std::vector<std::string> faults;
        HRESULT expected;
        std::vector<DWORD> waits;
        size_t attempts;
        size_t refreshes;
    } cases[] = {
        {"403 rate limit", {Fault(403, "rateLimitExceeded", 2)}, S_OK, Waits({1000, 2000}), 3, 0},
        {"403 user rate limit",
         {Fault(403, "userRateLimitExceeded", 1)},
         S_OK,
         Waits({1000}),
         2,
         0},
        {"429 like 503", {Fault(429, nullptr, 2)}, S_OK, Waits({1000, 2000}), 3, 0},
        {"503 five waits at most",
         {Fault(503, nullptr, -1)},
         Http(503),
         Waits({1000, 2000, 4000, 8000, 16000}),
         6,
         0},
        {"a different failure restarts the count",
         {Fault(500, nullptr, 2), Fault(502, nullptr, 2)},
         S_OK,
         Waits({1000, 2000, 1000, 2000}),
         5,
         0},
        {"ten waits in all", alternating, Http(503),
         Waits({1000, 1000, 1000, 1000, 1000, 1000, 1000, 1000, 1000, 1000}), 11, 0},
        {"400 is never retried", {Fault(400, "badRequest", -1)}, Http(400), {}, 1, 0},
        {"other 403 reasons are final",
         {Fault(403, "insufficientFilePermissions", -1)},
         DRIVE_E_INSUFFICIENT_PERMISSIONS,
         {},
         1,
         0},
        {"401 refreshes once", {Fault(401, "authError", 1)}, S_OK, {}, 2, 1},
        {"the third 401 ends the call", {Fault(401, "authError", -1)}, DRIVE_E_AUTH, {}, 3, 2},
        {"the token check waits on a busy server too",
         {R"({"path": "/oauth2/v1/tokeninfo", "status": 503, "count": 1})"},
         S_OK,
         Waits({1000}),
         1,
         0},
        {"a 401 of the token check is final: it has renewed already",
         {R"({"path": "/oauth2/v1/tokeninfo", "status": 401, "count": -1})"},
         Http(401),
         {},
         0,
         0},
        {"a renewal restarts the waits",
         {Fault(503, nullptr, 3), Fault(401, "authError", 1), Fault(503, nullptr, 2)},
         S_OK,
         Waits({1000, 2000, 4000, 1000, 2000}),
         7,
         1},
    };
    for (const Case& c : cases) {
        test::ResetEmulator();
        m_clock.sleeps.clear();
        auto account = SignedIn();
        for (const std::string& fault : c.faults)
            test::AddFault(fault);
        EXPECT_EQ(RunWithRetry(*account, GetWelcome), c.expected) << c.name;
        EXPECT_EQ(m_clock.sleeps, c.waits) << c.name;
        EXPECT_EQ(test::RequestsTo(kFilePath).size(), c.attempts) << c.name;
        EXPECT_EQ(test::RequestsTo("/oauth2/v3/token").size(), c.refreshes) << c.name;
        EXPECT_TRUE(m_consent.Script().urls.empty()) << c.name;
    }
}

TEST_F(RetryTest, TheTokenIsCheckedOnceForEveryAttempt) {
    auto account = SignedIn();
    test::AddFault(Fault(503, nullptr, 1));
    ASSERT_EQ(RunWithRetry(*account, GetWelcome), S_OK);
    std::vector<std::string> paths;
    for (const auto& request : test::RequestLog())
        paths.push_back(request.path);
    EXPECT_EQ(paths, (std::vector<std::string>{"/oauth2/v1/tokeninfo", kFilePath, kFilePath}));
}

TEST_F(RetryTest, A401WhoseRefreshFailsSignsInAndKeepsACancellation) {
    for (const char* decision : {"approve", "deny"}) {
        test::ResetEmulator();
        auto account = SignedIn();
        m_consent.Script().decision = decision;
        m_consent.Script().urls.clear();
        test::AddFault(Fault(401, "authError", 1));
        test::AddFault(R"({"path": "/oauth2/v3/token", "status": 500, "count": 1})");
        HRESULT hr = RunWithRetry(*account, GetWelcome);
        EXPECT_EQ(m_consent.Script().urls.size(), 1u) << decision;
        if (std::string(decision) == "approve") {
            EXPECT_EQ(hr, S_OK);
            EXPECT_EQ(account->Name(), test::kAliceId);
            EXPECT_EQ(test::RequestsTo(kFilePath).size(), 2u);
        } else {
            EXPECT_EQ(hr, GD_E_CANCELLED);
            EXPECT_EQ(test::RequestsTo(kFilePath).size(), 1u);
        }
    }
}

TEST_F(RetryTest, StatusesAreReadOnlyFromHttpCodes) {
    EXPECT_EQ(HttpStatusOf(Http(503)), 503u);
    EXPECT_EQ(HttpStatusOf(DRIVE_E_AUTH), 401u);
    EXPECT_EQ(HttpStatusOf(DRIVE_E_NOT_FOUND), 404u);
    EXPECT_EQ(HttpStatusOf(MakeWin32Failure(0x11F7)), 0u);
    EXPECT_EQ(HttpStatusOf(static_cast<HRESULT>(0x800711F7)), 0u);
    EXPECT_EQ(HttpStatusOf(DRIVE_E_RATE_LIMIT), 0u);
}

} // namespace
} // namespace gd
