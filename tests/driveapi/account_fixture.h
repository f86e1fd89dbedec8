// Tests of accounts and the retry driver: the emulator as Google, the consent
// walker as the sign-in dialog, and a clock that records waits instead of
// sleeping.
#pragma once

#include "driveapi/drive_account.h"
#include "driveapi/retry.h"
#include "tests/auth/auth_support.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace gd::test {

class FakeClock : public RetryClock {
public:
    static constexpr DWORD kTicks = 0x1234; // 52 ms of jitter
    DWORD TickCount() override { return kTicks; }
    void Sleep(DWORD milliseconds) override { sleeps.push_back(milliseconds); }
    std::vector<DWORD> sleeps;
};

class AccountTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetEmulator();
        UseEmulator();
        m_previous_clock = SetRetryClock(&m_clock);
    }
    void TearDown() override {
        SetRetryClock(m_previous_clock);
        SetEnvironmentVariableW(L"DRIVE_EMULATOR_HOST", nullptr);
    }

    static std::shared_ptr<DriveAccount> NewAccount() {
        return std::make_shared<DriveAccount>(kDemoClientId, kDemoClientSecret);
    }
    // An account that signed in as user earlier, with fresh tokens.
    static std::shared_ptr<DriveAccount> SignedIn(const char* user = kAlice) {
        auto account = NewAccount();
        auto info = std::make_shared<DriveUserInfo>();
        info->id = std::string(user) == kAlice ? kAliceId : kBobId;
        account->SetIdentity(std::make_shared<TokenSet>(IssueTokenSet(user)), info);
        return account;
    }
    static void ControlTokens(const char* json) { EmulatorControl(L"POST", L"/_emu/tokens", json); }

    ScopedConsent m_consent;
    FakeClock m_clock;
    RetryClock* m_previous_clock = nullptr;
};

} // namespace gd::test
