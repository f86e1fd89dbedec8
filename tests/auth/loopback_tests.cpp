#include "auth/loopback_listener.h"
#include "auth/pkce.h"

#include "errors/codes.h"
#include "tests/auth/loopback_client.h"

#include <gtest/gtest.h>

#include <future>
#include <string>
#include <vector>

namespace gd {
namespace {

bool IsBase64Url(const std::wstring& text) {
    return text.find_first_not_of(L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                                  L"0123456789-_") == std::wstring::npos;
}

TEST(Pkce, Base64UrlHasNoPaddingAndTheUrlAlphabet) {
    const struct {
        std::vector<BYTE> data;
        const wchar_t* expected;
    } cases[] = {
        {{'f'}, L"Zg"}, {{'f', 'o'}, L"Zm8"}, {{'f', 'o', 'o'}, L"Zm9v"}, {{0xFB, 0xFF}, L"-_8"}};
    for (const auto& c : cases) {
        std::wstring text;
        ASSERT_EQ(Base64Url(c.data.data(), static_cast<DWORD>(c.data.size()), text), S_OK);
        EXPECT_EQ(text, c.expected);
    }
}

TEST(Pkce, ChallengeIsTheS256OfTheVerifier) {
    // The example of RFC 7636, appendix B, with either hash call.
    for (auto challengeOf : {&S256Challenge, &S256ChallengeInSteps}) {
        std::wstring challenge;
        ASSERT_EQ(challengeOf(L"dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk", challenge), S_OK);
        EXPECT_EQ(challenge, L"E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM");
    }
}

TEST(Pkce, FreshValuesAreRandomAndWellFormed) {
    Pkce first, second;
    ASSERT_EQ(MakePkce(first), S_OK);
    ASSERT_EQ(MakePkce(second), S_OK);
    EXPECT_EQ(first.verifier.size(), 43u);
    EXPECT_TRUE(IsBase64Url(first.verifier));
    EXPECT_NE(first.verifier, second.verifier);
    std::wstring challenge;
    ASSERT_EQ(S256Challenge(first.verifier, challenge), S_OK);
    EXPECT_EQ(first.challenge, challenge);

    std::wstring state, other;
    ASSERT_EQ(MakeState(state), S_OK);
    ASSERT_EQ(MakeState(other), S_OK);
    EXPECT_EQ(state.size(), 43u);
    EXPECT_TRUE(IsBase64Url(state));
    EXPECT_NE(state, other);
}

using test::LoopbackStatus;

class LoopbackTest : public ::testing::Test {
protected:
    static constexpr wchar_t kState[] = L"st4te-_0123456789abcdefghijklmnopqrstuvwxy";

    void SetUp() override {
        ASSERT_EQ(m_listener.Open(), S_OK);
        m_port = m_listener.Port();
    }
    void TearDown() override {
        if (m_cancel)
            CloseHandle(m_cancel);
    }

    std::future<HRESULT> StartWait(DWORD timeout = 60000) {
        return std::async(std::launch::async, [this, timeout] {
            return m_listener.Wait(kState, m_cancel, timeout, m_answer);
        });
    }

    LoopbackListener m_listener;
    USHORT m_port = 0;
    HANDLE m_cancel = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    LoopbackAnswer m_answer;
};

TEST_F(LoopbackTest, TakesOnlyTheCallbackWithItsStateThenCloses) {
    EXPECT_NE(m_port, 0);
    EXPECT_EQ(m_listener.RedirectUri(), L"http://127.0.0.1:" + std::to_wstring(m_port) + L"/");
    std::future<HRESULT> waiting = StartWait();
    const std::string state = "st4te-_0123456789abcdefghijklmnopqrstuvwxy";
    EXPECT_EQ(LoopbackStatus(m_port, "/favicon.ico"), "HTTP/1.1 404 Not Found");
    EXPECT_EQ(LoopbackStatus(m_port, "/callback?code=x&state=" + state), "HTTP/1.1 404 Not Found");
    EXPECT_EQ(LoopbackStatus(m_port, "/?code=x&state=wrong"), "HTTP/1.1 400 Bad Request");
    EXPECT_EQ(LoopbackStatus(m_port, "/?code=x"), "HTTP/1.1 400 Bad Request");
    EXPECT_EQ(LoopbackStatus(m_port, "/?state=" + state), "HTTP/1.1 400 Bad Request");
    EXPECT_EQ(waiting.wait_for(std::chrono::milliseconds(0)), std::future_status::timeout);

    EXPECT_EQ(LoopbackStatus(m_port, "/?state=" + state + "&code=4%2F0Aa-b_c&scope=a+b"),
              "HTTP/1.1 200 OK");
    ASSERT_EQ(waiting.get(), S_OK);
    EXPECT_EQ(m_answer.code, L"4/0Aa-b_c");
    EXPECT_TRUE(m_answer.error.empty());
    EXPECT_FALSE(m_listener.IsOpen());
    EXPECT_EQ(LoopbackStatus(m_port, "/?state=" + state + "&code=again"), "");
}

TEST_F(LoopbackTest, AnErrorEndsTheWaitWithIt) {
    std::future<HRESULT> waiting = StartWait();
    EXPECT_EQ(LoopbackStatus(m_port,
                             "/?error=access_denied&state=st4te-_0123456789abcdefghijklmnopqrstu"
                             "vwxy"),
              "HTTP/1.1 200 OK");
    ASSERT_EQ(waiting.get(), S_OK);
    EXPECT_EQ(m_answer.error, L"access_denied");
    EXPECT_TRUE(m_answer.code.empty());
}

TEST_F(LoopbackTest, CancelEndsTheWaitAndClosesTheListener) {
    std::future<HRESULT> waiting = StartWait();
    SetEvent(m_cancel);
    EXPECT_EQ(waiting.get(), GD_E_CANCELLED);
    EXPECT_FALSE(m_listener.IsOpen());
    EXPECT_EQ(LoopbackStatus(m_port, "/"), "");
}

TEST_F(LoopbackTest, TimeoutOnTheSignInClockIsACancellation) {
    // Every look at the clock is a minute later: five minutes pass at once.
    ULONGLONG now = 0;
    SignInClock previous = SetSignInClock([&now] { return now += 60000; });
    std::future<HRESULT> waiting = StartWait(5 * 60000);
    ASSERT_EQ(waiting.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    SetSignInClock(previous);
    EXPECT_EQ(waiting.get(), GD_E_CANCELLED);
    EXPECT_FALSE(m_listener.IsOpen());
}

} // namespace
} // namespace gd
