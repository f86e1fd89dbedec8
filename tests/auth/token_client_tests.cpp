#include "auth/token_client.h"

#include "errors/check.h"
#include "tests/auth/auth_support.h"
#include "tests/support/trace_collector.h"

#include <gtest/gtest.h>

namespace gd {
namespace {

using test::kAlice;
using test::kAliceId;
using test::kBob;
using test::kBobId;
using test::kDemoClientId;
using test::kDemoClientSecret;

constexpr HRESULT kAnswerInvalid = 0x82210011;
constexpr HRESULT kNoAccessToken = static_cast<HRESULT>(0x82211004);
constexpr HRESULT kBadRequest = static_cast<HRESULT>(0x82211190);
constexpr HRESULT kBodyNotBuilt = static_cast<HRESULT>(0x822103E8);

class TokenClientTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::ResetEmulator();
        test::UseEmulator();
    }
    void TearDown() override { SetEnvironmentVariableW(L"DRIVE_EMULATOR_HOST", nullptr); }

    // A code from the consent page, approved as user.
    static std::wstring ApprovedCode(const char* user = kAlice) {
        test::ConsentScript script;
        script.user = user;
        std::wstring url, code;
        EXPECT_EQ(BuildAuthorizationUrl(AuthorizationEndpointUrl(), kDemoClientId,
                                        ScopesFromMask(kSignInScopes), url),
                  S_OK);
        EXPECT_EQ(test::WalkConsent(script, url, code), S_OK);
        return code;
    }

    // A fault that answers the token endpoint with 200 and body.
    static std::string TokenAnswer(const std::string& body) {
        std::string quoted;
        for (char c : body) {
            if (c == '"' || c == '\\')
                quoted += '\\';
            quoted += c;
        }
        return R"({"path": "/oauth2/v3/token", "status": 200, "body": ")" + quoted + "\"}";
    }
};

TEST(ScopeTable, MasksSelectRowsInTableOrder) {
    const auto& table = ScopeTable();
    ASSERT_EQ(table.size(), 15u);
    for (size_t i = 0; i < table.size(); ++i)
        EXPECT_EQ(table[i].bit, 1u << i);
    EXPECT_EQ(ScopesFromMask(0x4001),
              (std::vector<std::wstring>{L"https://www.googleapis.com/auth/drive",
                                         L"https://www.googleapis.com/auth/userinfo.profile"}));
    EXPECT_EQ(ScopesFromMask(0x2080),
              (std::vector<std::wstring>{L"https://mail.google.com/", L"email"}));
    EXPECT_TRUE(ScopesFromMask(0).empty());
    EXPECT_EQ(ScopesFromMask(0x7FFF).size(), 15u);
}

TEST(AuthorizationUrl, JoinsTheScopesWithPlusAndEscapesNothing) {
    std::wstring url;
    ASSERT_EQ(BuildAuthorizationUrl(L"https://accounts.example/o/oauth2/auth", L"id with space",
                                    ScopesFromMask(kSignInScopes), url),
              S_OK);
    EXPECT_EQ(url, L"https://accounts.example/o/oauth2/auth?response_type=code"
                   L"&client_id=id with space"
                   L"&redirect_uri=urn:ietf:wg:oauth:2.0:oob:auto"
                   L"&scope=https://www.googleapis.com/auth/drive"
                   L"+https://www.googleapis.com/auth/userinfo.profile"
                   L"&include_granted_scopes=true");
}

TEST_F(TokenClientTest, ExchangeSendsTheFormAndKeepsTheAnswer) {
    std::wstring code = ApprovedCode(kBob);
    std::shared_ptr<TokenSet> tokens;
    ASSERT_EQ(ExchangeCode({kDemoClientId, kDemoClientSecret}, {code, kOobRedirectUri, {}}, tokens),
              S_OK);
    ASSERT_TRUE(tokens);
    EXPECT_EQ(tokens->client_id, kDemoClientId);
    EXPECT_EQ(tokens->client_secret, kDemoClientSecret);
    EXPECT_EQ(tokens->access_token.rfind(L"ya29.", 0), 0u);
    EXPECT_EQ(tokens->refresh_token.rfind(L"1//0e", 0), 0u);
    EXPECT_EQ(tokens->expires_in, 3599);

    auto sent = test::RequestsTo("/oauth2/v3/token");
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].method, "POST");
    EXPECT_EQ(sent[0].headers["content-type"], "application/x-www-form-urlencoded");
    EXPECT_EQ(sent[0].body, "code=" + test::Utf8(code) + "&client_id=" + test::Utf8(kDemoClientId) +
                                "&client_secret=" + test::Utf8(kDemoClientSecret) +
                                "&redirect_uri=urn:ietf:wg:oauth:2.0:oob:auto"
                                "&grant_type=authorization_code");

    // The token is Bob's and names the demo client.
    EXPECT_EQ(test::TokenOwnerId(tokens->access_token), kBobId);
    TokenInfo info;
    std::wstring error;
    ASSERT_EQ(QueryTokenInfo(tokens->access_token, info, error), S_OK);
    EXPECT_EQ(info.audience, kDemoClientId);
    EXPECT_TRUE(error.empty());
}

TEST_F(TokenClientTest, ExchangeRefusesIncompleteAnswers) {
    struct Case {
        const char* fault; // nullptr: the emulator's own answer
        const wchar_t* code;
        HRESULT expected;
        bool sent;
    } cases[] = {
        {R"({"access_token": "a", "refresh_token": "r", "expires_in": "3600"})", L"c",
         kAnswerInvalid, true},
        {R"({"access_token": "a", "expires_in": 3600})", L"c", kAnswerInvalid, true},
        {R"({"refresh_token": "r", "expires_in": 3600})", L"c", kAnswerInvalid, true},
        {R"({"access_token": "a", "refresh_token": "r"})", L"c", kAnswerInvalid, true},
        {"not json", L"c", kAnswerInvalid, true},
        {"[1, 2]", L"c", kAnswerInvalid, true},
        {nullptr, L"4/0Aunknown-code", kBadRequest, true}, // invalid_grant
        {nullptr, L"", kBodyNotBuilt, false},
    };
    for (const Case& c : cases) {
        test::ResetEmulator();
        if (c.fault)
            test::AddFault(TokenAnswer(c.fault));
        auto tokens = std::make_shared<TokenSet>();
        auto before = tokens;
        EXPECT_EQ(
            ExchangeCode({kDemoClientId, kDemoClientSecret}, {c.code, kOobRedirectUri, {}}, tokens),
            c.expected)
            << (c.fault ? c.fault : "");
        EXPECT_EQ(tokens, before);
        EXPECT_EQ(test::RequestsTo("/oauth2/v3/token").size(), c.sent ? 1u : 0u);
    }
}

TEST_F(TokenClientTest, RefreshRenewsTheAccessTokenAndKeepsTheRefreshToken) {
    TokenSet tokens = test::IssueTokenSet();
    TokenSet before = tokens;
    ASSERT_EQ(RefreshAccessToken(tokens), S_OK);
    EXPECT_NE(tokens.access_token, before.access_token);
    EXPECT_EQ(tokens.refresh_token, before.refresh_token);
    EXPECT_EQ(tokens.expires_in, 3599);

    auto sent = test::RequestsTo("/oauth2/v3/token");
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].method, "POST");
    EXPECT_EQ(sent[0].body, "refresh_token=" + test::Utf8(before.refresh_token) +
                                "&client_id=" + test::Utf8(kDemoClientId) + "&client_secret=" +
                                test::Utf8(kDemoClientSecret) + "&grant_type=refresh_token");
    bool expired = true;
    ASSERT_EQ(ValidateAccessToken(tokens, expired), S_OK);
    EXPECT_FALSE(expired);
}

TEST_F(TokenClientTest, RefreshAnswers) {
    struct Case {
        const char* fault;
        HRESULT expected;
        const wchar_t* access; // nullptr: unchanged
        int expiresIn;
    } cases[] = {
        {R"({"access_token": "fresh", "expires_in": 120})", S_OK, L"fresh", 120},
        {R"({"access_token": "fresh"})", S_OK, L"fresh", 0},
        {R"({"access_token": "fresh", "expires_in": "120"})", S_OK, L"fresh", 0},
        {R"({"expires_in": 120})", kNoAccessToken, L"", 3599},
        {"not json", kAnswerInvalid, nullptr, 3599},
    };
    for (const Case& c : cases) {
        test::ResetEmulator();
        TokenSet tokens = test::IssueTokenSet();
        TokenSet before = tokens;
        test::AddFault(TokenAnswer(c.fault));
        EXPECT_EQ(RefreshAccessToken(tokens), c.expected) << c.fault;
        EXPECT_EQ(tokens.access_token, c.access ? c.access : before.access_token) << c.fault;
        EXPECT_EQ(tokens.expires_in, c.expiresIn) << c.fault;
        EXPECT_EQ(tokens.refresh_token, before.refresh_token);
    }
}

TEST_F(TokenClientTest, RefreshRefusedByGoogleReportsTheOAuthError) {
    TokenSet tokens = test::IssueTokenSet();
    TokenSet before = tokens;
    test::EmulatorControl(L"POST", L"/_emu/tokens", R"({"revoke": "all"})");
    std::wstring oauthError;
    EXPECT_EQ(RefreshAccessToken(tokens, &oauthError), kBadRequest);
    EXPECT_EQ(oauthError, L"invalid_grant");
    EXPECT_EQ(tokens.access_token, before.access_token);

    // A 400 that is not an OAuth answer carries no error.
    test::AddFault(R"({"path": "/oauth2/v3/token", "status": 400, "body": "bad"})");
    oauthError.clear();
    EXPECT_EQ(RefreshAccessToken(tokens, &oauthError), kBadRequest);
    EXPECT_TRUE(oauthError.empty());
}

TEST_F(TokenClientTest, TokenInfoReadsTheAnswer) {
    TokenSet tokens = test::IssueTokenSet(kBob);
    TokenInfo info;
    std::wstring error;
    ASSERT_EQ(QueryTokenInfo(tokens.access_token, info, error), S_OK);
    EXPECT_EQ(info.audience, kDemoClientId);
    // Google's answer names the user "user_id"; "userid" is not in it.
    EXPECT_TRUE(info.userid.empty());
    EXPECT_NE(info.scope.find(L"https://www.googleapis.com/auth/drive"), std::wstring::npos);
    EXPECT_GT(info.expires_in, 3000);
    EXPECT_TRUE(error.empty());

    auto sent = test::RequestsTo("/oauth2/v1/tokeninfo");
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].method, "POST");
    EXPECT_EQ(sent[0].body, "access_token=" + test::Utf8(tokens.access_token));

    EXPECT_EQ(QueryTokenInfo(L"", info, error), kBodyNotBuilt);
}

TEST_F(TokenClientTest, ValidationTellsGoodTokensFromExpiredOnesAndFailures) {
    enum Setup { kNone, kExpire, kOtherClient, kClientCase, kFault, kNoServer };
    struct Case {
        const char* name;
        Setup setup;
        const char* fault;
        HRESULT expected;
        bool expired;
    } cases[] = {
        {"valid", kNone, nullptr, S_OK, false},
        {"expired: 400 with an error", kExpire, nullptr, S_OK, true},
        {"another client's token", kOtherClient, nullptr, S_OK, true},
        {"audience differs in case", kClientCase, nullptr, S_OK, true},
        {"200 with an error", kFault,
         R"({"status": 200, "body": "{\"error\": \"invalid_token\"}"})", S_OK, true},
        {"400 without JSON", kFault, R"({"status": 400, "body": "bad"})", kBadRequest, true},
        {"400 without error", kFault, R"({"status": 400, "body": "{\"x\": 1}"})", kBadRequest,
         true},
        {"503", kFault, R"({"status": 503, "body": "{\"error\": \"busy\"}"})",
         static_cast<HRESULT>(0x822111F7), true},
        {"200 not JSON", kFault, R"({"status": 200, "body": "<html>"})", kAnswerInvalid, true},
        {"no server", kNoServer, nullptr, E_FAIL, true},
    };
    for (const Case& c : cases) {
        test::ResetEmulator();
        test::UseEmulator();
        TokenSet tokens = test::IssueTokenSet(kAlice, c.setup == kOtherClient ? "other" : nullptr);
        tokens.client_id = kDemoClientId;
        if (c.setup == kExpire)
            test::EmulatorControl(L"POST", L"/_emu/tokens", R"({"expire_all": true})");
        if (c.setup == kClientCase)
            tokens.client_id[tokens.client_id.find(L"emulator")] = L'E';
        if (c.fault) {
            std::string fault = c.fault;
            fault.insert(1, R"("path": "/oauth2/v1/tokeninfo", )");
            test::AddFault(fault);
        }
        if (c.setup == kNoServer)
            SetEnvironmentVariableW(L"DRIVE_EMULATOR_HOST", L"127.0.0.1:1");
        bool expired = false;
        HRESULT hr = ValidateAccessToken(tokens, expired);
        if (c.expected == E_FAIL)
            EXPECT_TRUE(FAILED(hr)) << c.name;
        else
            EXPECT_EQ(hr, c.expected) << c.name;
        EXPECT_EQ(expired, c.expired) << c.name;
    }
}

TEST_F(TokenClientTest, InteractiveSignInShowsTheConsentUrlAndExchangesItsCode) {
    // Without a host there is no sign-in.
    std::shared_ptr<TokenSet> tokens;
    EXPECT_EQ(AuthorizeInteractive(kDemoClientId, kDemoClientSecret, kSignInScopes, tokens),
              GD_E_MISSING);
    EXPECT_FALSE(tokens);

    test::ScopedConsent consent;
    consent.Script().user = kBob;
    ASSERT_EQ(AuthorizeInteractive(kDemoClientId, kDemoClientSecret, kSignInScopes, tokens), S_OK);
    ASSERT_TRUE(tokens);
    std::wstring expectedUrl;
    BuildAuthorizationUrl(AuthorizationEndpointUrl(), kDemoClientId, ScopesFromMask(kSignInScopes),
                          expectedUrl);
    EXPECT_EQ(consent.Script().urls, std::vector<std::wstring>{expectedUrl});
    EXPECT_EQ(test::TokenOwnerId(tokens->access_token), kBobId);
}

TEST_F(TokenClientTest, RefusedOrClosedConsentKeepsTheCancellationCode) {
    test::ScopedConsent consent;
    for (const char* decision : {"deny", "close"}) {
        test::ResetEmulator();
        consent.Script().decision = decision;
        std::shared_ptr<TokenSet> tokens;
        HRESULT hr = AuthorizeInteractive(kDemoClientId, kDemoClientSecret, kSignInScopes, tokens);
        EXPECT_EQ(hr, GD_E_CANCELLED) << decision;
        EXPECT_TRUE(IsCancellation(hr));
        EXPECT_FALSE(tokens);
        EXPECT_TRUE(test::RequestsTo("/oauth2/v3/token").empty()) << decision;
    }
}

TEST_F(TokenClientTest, SecretsStayOutOfTraces) {
    test::TraceCollector collector;
    std::wstring code = ApprovedCode();
    std::shared_ptr<TokenSet> tokens;
    ExchangeCode({kDemoClientId, L"wrong secret"}, {code, kOobRedirectUri, {}}, tokens);
    TokenSet issued = test::IssueTokenSet();
    test::EmulatorControl(L"POST", L"/_emu/tokens", R"({"revoke": "all", "expire_all": true})");
    RefreshAccessToken(issued);
    bool expired = false;
    ValidateAccessToken(issued, expired);
    test::AddFault(TokenAnswer("not json"));
    RefreshAccessToken(issued);

    EXPECT_FALSE(collector.Traces().empty());
    for (const std::wstring& trace : collector.Traces()) {
        for (const std::wstring& secret :
             {code, std::wstring(kDemoClientSecret), issued.access_token, issued.refresh_token})
            EXPECT_EQ(trace.find(secret), std::wstring::npos) << test::Utf8(trace);
    }
}

} // namespace
} // namespace gd
