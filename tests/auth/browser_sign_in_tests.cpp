// The browser sign-in end to end in-process: the real ShellExecuteW starts
// the prefix's test browser (tools/test-browser), which answers the
// emulator's consent page as the host's browser script says and follows the
// redirect to the plug-in's listener.
#include "auth/browser_sign_in.h"

#include "auth/loopback_listener.h"
#include "auth/pkce.h"
#include "auth/token_client.h"
#include "errors/codes.h"
#include "host/ui_thread.h"
#include "tests/auth/auth_support.h"
#include "tests/auth/loopback_client.h"
#include "tests/support/host_sign_in.h"
#include "tests/support/trace_collector.h"

#include <gtest/gtest.h>

#include <future>
#include <regex>

namespace gd {
namespace {

using test::kBob;
using test::kBobId;
using test::kDemoClientId;
using test::kDemoClientSecret;

constexpr HRESULT kBadRequest = static_cast<HRESULT>(0x82211190);

// The value of name in the query of a logged request line.
std::string Param(const std::string& text, const std::string& name) {
    std::smatch match;
    if (!std::regex_search(text, match, std::regex("[?&]" + name + "=([^&]*)")))
        return {};
    return match[1];
}

class BrowserSignInTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::ResetEmulator();
        test::UseEmulator();
    }
    void TearDown() override { SetEnvironmentVariableW(L"DRIVE_EMULATOR_HOST", nullptr); }

    HRESULT SignIn(BrowserAction consent, AuthorizationCode& grant, const wchar_t* user = L"",
                   bool strays = false) {
        BrowserScript script{consent, user};
        script.stray_requests = strays;
        m_sign_in.Host().SetBrowserScript(script);
        return m_sign_in.Run([&] {
            return SignInThroughBrowser(kDemoClientId, ScopesFromMask(kSignInScopes), grant);
        });
    }

    // A sign-in whose browser never answers, on a thread of its own, and its
    // wait dialog (null when none shows).
    ComPtr<HostDialog> StartUnanswered(AuthorizationCode& grant) {
        m_sign_in.Host().SetBrowserScript({BrowserAction::Close, L""});
        m_waiting = std::async(std::launch::async, [&] {
            return SignInThroughBrowser(kDemoClientId, ScopesFromMask(kSignInScopes), grant);
        });
        return m_sign_in.Host().Uix().WaitForDialog(L"DlgSignInWait", test::kSignInDeadline);
    }
    HRESULT WaitingResult() {
        if (m_waiting.wait_for(std::chrono::milliseconds(test::kSignInDeadline)) !=
            std::future_status::ready) {
            m_sign_in.Host().OnUi(
                [this] { return m_sign_in.Host().Uix().CancelModalDialogs(), S_OK; });
            return E_PENDING;
        }
        return m_waiting.get();
    }

    test::HostSignIn m_sign_in;
    std::future<HRESULT> m_waiting;
};

TEST_F(BrowserSignInTest, ApprovalYieldsACodeForTheLoopbackRedirectWithPkce) {
    test::TraceCollector collector;
    AuthorizationCode grant;
    ASSERT_EQ(SignIn(BrowserAction::Approve, grant, L"bob.emulator@example.org"), S_OK);
    EXPECT_EQ(grant.redirect_uri.rfind(L"http://127.0.0.1:", 0), 0u);
    EXPECT_EQ(grant.code_verifier.size(), 43u);

    // The consent request on the wire: loopback redirect, S256 challenge, state.
    std::vector<test::LoggedRequest> consent = test::RequestsTo("/o/oauth2/auth?");
    ASSERT_EQ(consent.size(), 1u);
    std::wstring challenge;
    ASSERT_EQ(S256Challenge(grant.code_verifier, challenge), S_OK);
    EXPECT_EQ(Param(consent[0].path, "redirect_uri"), test::Utf8(grant.redirect_uri));
    EXPECT_EQ(Param(consent[0].path, "code_challenge"), test::Utf8(challenge));
    EXPECT_EQ(Param(consent[0].path, "code_challenge_method"), "S256");
    EXPECT_EQ(Param(consent[0].path, "state").size(), 43u);

    // The listener answered the callback and then closed.
    EXPECT_EQ(m_sign_in.Host().SystemBrowserStatuses(), std::vector<int>{200});
    USHORT port = static_cast<USHORT>(std::stoi(grant.redirect_uri.substr(17)));
    EXPECT_EQ(test::LoopbackStatus(port, "/"), "");

    // A tampered verifier is refused; the code is spent with it, as Google does.
    AuthorizationCode tampered = grant;
    tampered.code_verifier.back() = tampered.code_verifier.back() == L'A' ? L'B' : L'A';
    std::shared_ptr<TokenSet> tokens;
    EXPECT_EQ(ExchangeCode({kDemoClientId, kDemoClientSecret}, tampered, tokens), kBadRequest);
    EXPECT_FALSE(tokens);

    ASSERT_EQ(SignIn(BrowserAction::Approve, grant, L"bob.emulator@example.org"), S_OK);
    ASSERT_EQ(ExchangeCode({kDemoClientId, kDemoClientSecret}, grant, tokens), S_OK);
    EXPECT_EQ(test::TokenOwnerId(tokens->access_token), kBobId);
    std::vector<test::LoggedRequest> exchanges = test::RequestsTo("/oauth2/v3/token");
    ASSERT_FALSE(exchanges.empty());
    std::string form = "?" + exchanges.back().body;
    EXPECT_EQ(Param(form, "code_verifier"), test::Utf8(grant.code_verifier));
    // ":" and "/" may stand unescaped in a form value.
    EXPECT_EQ(Param(form, "redirect_uri"), test::Utf8(grant.redirect_uri));

    // The refused exchange left a trace, and no trace holds a secret.
    std::vector<std::wstring> secrets = {tampered.code,        tampered.code_verifier,
                                         grant.code,           grant.code_verifier,
                                         tokens->access_token, tokens->refresh_token};
    for (const test::LoggedRequest& request : test::RequestsTo("/o/oauth2/auth?"))
        secrets.push_back(FromUtf8(Param(request.path, "state")));
    EXPECT_FALSE(collector.Traces().empty());
    for (const std::wstring& trace : collector.Traces()) {
        for (const std::wstring& secret : secrets)
            EXPECT_EQ(trace.find(secret), std::wstring::npos) << test::Utf8(trace);
    }
}

TEST_F(BrowserSignInTest, StrayRequestsLeaveTheListenerWaitingForTheCallback) {
    AuthorizationCode grant;
    ASSERT_EQ(SignIn(BrowserAction::Approve, grant, L"bob.emulator@example.org", true), S_OK);
    // Another path, then the callback with another state, then the real one.
    EXPECT_EQ(m_sign_in.Host().SystemBrowserStatuses(), (std::vector<int>{404, 400, 200}));
    std::shared_ptr<TokenSet> tokens;
    ASSERT_EQ(ExchangeCode({kDemoClientId, kDemoClientSecret}, grant, tokens), S_OK);
    EXPECT_EQ(test::TokenOwnerId(tokens->access_token), kBobId);
}

TEST_F(BrowserSignInTest, DenialIsACancellation) {
    AuthorizationCode grant;
    HRESULT hr = SignIn(BrowserAction::Deny, grant);
    EXPECT_EQ(hr, GD_E_CANCELLED);
    EXPECT_TRUE(grant.code.empty());
}

TEST_F(BrowserSignInTest, CancelInTheWaitDialogEndsTheSignIn) {
    AuthorizationCode grant;
    ComPtr<HostDialog> dialog = StartUnanswered(grant);
    ASSERT_TRUE(dialog);
    EXPECT_EQ(m_sign_in.Host().OnUi([&] { return dialog->Control(L"btn.cancel")->Click(); }), S_OK);
    EXPECT_EQ(WaitingResult(), GD_E_CANCELLED);
    EXPECT_TRUE(grant.code.empty());
}

TEST_F(BrowserSignInTest, NoCallbackInFiveMinutesIsACancellation) {
    ULONGLONG now = 0;
    SignInClock previous = SetSignInClock([&now] { return now += 30000; });
    AuthorizationCode grant;
    HRESULT hr = SignIn(BrowserAction::Close, grant);
    SetSignInClock(previous);
    EXPECT_EQ(hr, GD_E_CANCELLED);
    EXPECT_EQ(m_sign_in.Host().Uix().WaitForDialog(L"DlgSignInWait", 0).Get(), nullptr);
}

} // namespace
} // namespace gd
