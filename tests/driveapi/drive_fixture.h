// Shared by the Drive request tests: the emulator as the API host and a fresh
// token of the seeded user.
#pragma once

#include "tests/support/emulator.h"

#include <gtest/gtest.h>

#include <string>

namespace gd::test {

class DriveTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Alice's access token by default.
    static std::wstring IssueToken(const char* user = "alice.emulator@example.com");
    // A member of a control answer's JSON object, as text.
    static std::string ControlMember(const std::string& json, const char* name);

    std::wstring m_token;
};

} // namespace gd::test
