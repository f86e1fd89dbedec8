// Shared by the Drive request tests: the emulator as the API host and a fresh
// token of the seeded user.
#pragma once

#include "tests/support/emulator.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace gd::test {

class DriveTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Alice's access token by default.
    static std::wstring IssueToken(const char* user = "alice.emulator@example.com");

    std::wstring m_token;
};

// A member of a control answer's JSON object, as text.
std::string ControlMember(const std::string& json, const char* name);
// The request log from entry first on.
std::vector<LoggedRequest> RequestLogFrom(size_t first);
// A seeded id: the name padded with "_" to 33 characters.
std::wstring SeedId(const char* name);
// A file of size pattern bytes (byte i = i % 251) in Alice's root; its id.
std::wstring CreatePatternFile(long long size);
// The emulator's SHA-256 of a file's content.
std::string ContentSha256(const std::wstring& id);
// The file's revision ("version") on the emulator.
std::string ContentVersion(const std::wstring& id);
// Byte i of the pattern.
inline unsigned char PatternByte(long long i) {
    return static_cast<unsigned char>(i % 251);
}

} // namespace gd::test
