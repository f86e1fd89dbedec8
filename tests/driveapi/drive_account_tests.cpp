#include "driveapi/drive_account.h"

#include "driveapi/account_requests.h"
#include "driveapi/drive_errors.h"
#include "driveapi/files.h"
#include "tests/driveapi/account_fixture.h"
#include "tests/driveapi/drive_fixture.h"

namespace gd {
namespace {

using test::AccountTest;
using test::kAlice;
using test::kAliceId;
using test::kBob;
using test::kBobId;

TEST_F(AccountTest, WithoutTokensTheAccountSignsInAndLearnsItsUser) {
    auto account = AccountTest::NewAccount();
    EXPECT_TRUE(account->Name().empty());
    m_consent.Script().user = kBob;
    std::wstring token;
    ASSERT_EQ(account->GetAccessToken(token), S_OK);

    EXPECT_EQ(m_consent.Script().urls.size(), 1u);
    EXPECT_EQ(account->Name(), kBobId);
    ASSERT_TRUE(account->UserInfo());
    EXPECT_FALSE(account->UserInfo()->name.empty());
    ASSERT_TRUE(account->Tokens());
    EXPECT_EQ(token, account->Tokens()->access_token);
    EXPECT_EQ(account->Tokens()->client_id, test::kDemoClientId);
    auto userinfo = test::RequestsTo("/oauth2/v2/userinfo");
    ASSERT_EQ(userinfo.size(), 1u);
    EXPECT_EQ(userinfo[0].headers["authorization"], "Bearer " + test::Utf8(token));
}

TEST_F(AccountTest, AGoodTokenIsOnlyChecked) {
    auto account = SignedIn();
    auto before = account->Tokens();
    ASSERT_EQ(EnsureAccessToken(*account), S_OK);
    EXPECT_EQ(account->Tokens(), before);
    auto log = test::RequestLog();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].path, "/oauth2/v1/tokeninfo");
    EXPECT_TRUE(m_consent.Script().urls.empty());
}

TEST_F(AccountTest, GooglesTokenInfoWithoutUseridServesDriveRequests) {
    // Google's tokeninfo names the user "user_id": the reader's userid stays
    // empty, and neither the token check nor a Drive request depends on it.
    auto account = SignedIn();
    auto before = account->Tokens();
    TokenInfo info;
    std::wstring error;
    ASSERT_EQ(QueryTokenInfo(before->access_token, info, error), S_OK);
    EXPECT_TRUE(info.userid.empty());
    bool expired = true;
    ASSERT_EQ(ValidateAccessToken(*before, expired), S_OK);
    EXPECT_FALSE(expired);

    std::shared_ptr<DriveFile> file;
    ASSERT_EQ(RunWithRetry(*account,
                           [&](const std::wstring& token) {
                               return GetFile(token, L"1aliceWelcome____________________", file);
                           }),
              S_OK);
    ASSERT_TRUE(file && file->item);
    EXPECT_EQ(file->item->title, L"Welcome.pdf");
    EXPECT_EQ(account->Tokens(), before);
    EXPECT_TRUE(test::RequestsTo("/oauth2/v3/token").empty());
    EXPECT_TRUE(m_consent.Script().urls.empty());
}

TEST_F(AccountTest, AnExpiredTokenIsRefreshed) {
    auto account = SignedIn();
    auto before = account->Tokens();
    ControlTokens(R"({"expire_all": true})");
    ASSERT_EQ(EnsureAccessToken(*account), S_OK);

    auto after = account->Tokens();
    ASSERT_TRUE(after);
    EXPECT_NE(after->access_token, before->access_token);
    EXPECT_EQ(after->refresh_token, before->refresh_token);
    EXPECT_NE(test::RequestsTo("/oauth2/v3/token").at(0).body.find("grant_type=refresh_token"),
              std::string::npos);
    EXPECT_TRUE(m_consent.Script().urls.empty());
    bool expired = true;
    ASSERT_EQ(ValidateAccessToken(*after, expired), S_OK);
    EXPECT_FALSE(expired);
}

TEST_F(AccountTest, ARefusedRefreshFallsBackToSigningInTheSameUser) {
    auto account = SignedIn();
    auto before = account->Tokens();
    ControlTokens(R"({"revoke": "all"})"); // its access token goes with it
    ASSERT_EQ(EnsureAccessToken(*account), S_OK);

    EXPECT_EQ(m_consent.Script().urls.size(), 1u);
    EXPECT_EQ(account->Name(), kAliceId);
    ASSERT_TRUE(account->Tokens());
    EXPECT_NE(account->Tokens()->refresh_token, before->refresh_token);
}

TEST_F(AccountTest, ASignInAsAnotherUserIsRefusedAndChangesNothing) {
    auto account = SignedIn(kAlice);
    auto tokens = account->Tokens();
    auto info = account->UserInfo();
    ControlTokens(R"({"revoke": "all"})");
    m_consent.Script().user = kBob;
    EXPECT_EQ(EnsureAccessToken(*account), DRIVE_E_AUTH);
    EXPECT_EQ(SignInAccount(*account), DRIVE_E_AUTH);
    EXPECT_EQ(account->Tokens(), tokens);
    EXPECT_EQ(account->UserInfo(), info);
}

TEST_F(AccountTest, AFailedSignInKeepsACancellationAndDropsTheTokens) {
    struct Case {
        const char* decision; // nullptr: no sign-in installed (no host)
        bool signedIn;
        HRESULT expected;
    } cases[] = {
        {"deny", false, GD_E_CANCELLED}, {"close", false, GD_E_CANCELLED},
        {"deny", true, GD_E_CANCELLED},  {"close", true, GD_E_CANCELLED},
        {nullptr, false, DRIVE_E_AUTH},  {nullptr, true, DRIVE_E_AUTH},
    };
    for (const Case& c : cases) {
        test::ResetEmulator();
        auto account = c.signedIn ? SignedIn() : NewAccount();
        ControlTokens(R"({"revoke": "all"})");
        InteractiveSignIn installed;
        if (c.decision)
            m_consent.Script().decision = c.decision;
        else
            installed = SetInteractiveSignIn(nullptr);
        std::wstring token;
        HRESULT hr = account->GetAccessToken(token);
        if (!c.decision)
            SetInteractiveSignIn(installed);
        EXPECT_EQ(hr, c.expected) << (c.decision ? c.decision : "no host") << c.signedIn;
        EXPECT_FALSE(account->Tokens());
        EXPECT_TRUE(token.empty());
        // The account stays who it was: the next sign-in must be the same user.
        EXPECT_EQ(account->Name(), c.signedIn ? kAliceId : L"");
    }
}

TEST_F(AccountTest, AFailedSignInKeepsTokensInstalledMeanwhile) {
    auto account = SignedIn();
    auto stale = account->Tokens();
    auto fresh = std::make_shared<const TokenSet>(test::IssueTokenSet());
    // Another thread's refresh lands while the consent is open, then the user
    // cancels.
    InteractiveSignIn previous = SetInteractiveSignIn(
        [&](const std::wstring&, const std::vector<std::wstring>&, AuthorizationCode&) {
            account->ReplaceTokens(stale, fresh);
            return GD_E_CANCELLED;
        });
    HRESULT hr = SignInAccount(*account);
    SetInteractiveSignIn(previous);
    EXPECT_EQ(hr, GD_E_CANCELLED);
    EXPECT_TRUE(account->Tokens() == fresh); // as pointers: no token text in the output
    EXPECT_EQ(account->Name(), kAliceId);
}

size_t CountFrom(size_t mark, const std::string& prefix) {
    size_t count = 0;
    for (const auto& request : test::RequestLogFrom(mark))
        count += request.path.rfind(prefix, 0) == 0;
    return count;
}

// Reads of 100 bytes spread over a pattern file, through the account.
void ReadSpread(const std::shared_ptr<DriveAccount>& account, const std::wstring& id, int reads) {
    auto file = std::make_shared<DriveFile>();
    file->id = id;
    ASSERT_EQ(
        RunWithRetry(*account, [&](const std::wstring& token) { return GetFile(token, id, file); }),
        S_OK);
    std::unique_ptr<DriveReader> reader;
    ASSERT_EQ(OpenAccountReader(account, file, reader), S_OK);
    for (int i = 0; i < reads; ++i) {
        BYTE bytes[100] = {};
        DWORD read = 0;
        ULONGLONG skipped = 0;
        ASSERT_EQ(reader->Skip(900, &skipped), S_OK);
        ASSERT_EQ(reader->Read(bytes, 100, &read), S_OK) << i;
        ASSERT_EQ(read, 100u);
        EXPECT_EQ(bytes[99], test::PatternByte(1000LL * i + 999)) << i;
    }
}

TEST_F(AccountTest, TheTokenChecksVerdictServesUntilDriveRefusesTheToken) {
    std::wstring id = test::CreatePatternFile(100000);
    auto account = SignedIn();
    ReadSpread(account, id, 100);
    EXPECT_EQ(test::RequestsTo("/oauth2/v1/tokeninfo").size(), 1u);

    // Expired behind the verdict's back: Drive's 401 renews it, the read succeeds.
    const size_t mark = test::RequestLog().size();
    ControlTokens(R"({"expire_all": true})");
    auto before = account->Tokens();
    ReadSpread(account, id, 3);
    EXPECT_NE(account->Tokens(), before);
    EXPECT_EQ(CountFrom(mark, "/oauth2/v3/token"), 1u);
    // The refresh gave the new token's lifetime: no check for it either.
    EXPECT_EQ(CountFrom(mark, "/oauth2/v1/tokeninfo"), 0u);
    EXPECT_TRUE(m_consent.Script().urls.empty());

    // Drive refuses even the renewed tokens: the next call checks them again.
    test::AddFault(R"({"path": "/drive/v2/files/", "status": 401, "reason": "authError",
                       "message": "Invalid Credentials", "count": 3})");
    std::shared_ptr<DriveFile> file;
    auto getFile = [&](const std::wstring& token) { return GetFile(token, id, file); };
    EXPECT_TRUE(FAILED(RunWithRetry(*account, getFile)));
    const size_t refused = test::RequestLog().size();
    EXPECT_EQ(RunWithRetry(*account, getFile), S_OK);
    EXPECT_EQ(CountFrom(refused, "/oauth2/v1/tokeninfo"), 1u);
}

TEST_F(AccountTest, ATokenWithLessThanTheMarginLeftIsCheckedEachTime) {
    ControlTokens(R"({"lifetime": 299})");
    std::wstring id = test::CreatePatternFile(10000);
    auto account = SignedIn();
    ReadSpread(account, id, 5);
    // The metadata request, the reader's opening and each read.
    EXPECT_EQ(test::RequestsTo("/oauth2/v1/tokeninfo").size(), 7u);
    EXPECT_TRUE(test::RequestsTo("/oauth2/v3/token").empty());
}

} // namespace
} // namespace gd
