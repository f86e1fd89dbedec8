// Proof Key for Code Exchange (RFC 7636) and the request's state: random
// values from the system's generator, the S256 challenge from its SHA-256.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace gd {

// RFC 4648 base64url without padding.
HRESULT Base64Url(const BYTE* data, DWORD size, std::wstring& text);
// bytes random bytes (BCryptGenRandom), base64url.
HRESULT RandomBase64Url(DWORD bytes, std::wstring& text);

struct Pkce {
    std::wstring verifier;  // 43 characters
    std::wstring challenge; // base64url(SHA-256(verifier))
};

// The S256 challenge of a verifier (BCryptHash).
HRESULT S256Challenge(std::wstring_view verifier, std::wstring& challenge);
// The same through the hash object's steps, which stand in for BCryptHash
// on systems older than Windows 10.
HRESULT S256ChallengeInSteps(std::wstring_view verifier, std::wstring& challenge);
// A fresh verifier (32 random bytes) and its challenge.
HRESULT MakePkce(Pkce& pkce);
// A fresh state: 32 random bytes.
HRESULT MakeState(std::wstring& state);

} // namespace gd
