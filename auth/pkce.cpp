#include "auth/pkce.h"

#include "errors/check.h"
#include "errors/codes.h"
#include "http/encoding.h"

#include <bcrypt.h>
#include <wincrypt.h>

#include <new>
#include <vector>

namespace gd {
namespace {

constexpr DWORD kRandomBytes = 32;
constexpr DWORD kSha256Bytes = 32;

HRESULT FromStatus(NTSTATUS status) {
    return status >= 0 ? S_OK : HRESULT_FROM_NT(status);
}

// BCryptHash is there from Windows 10 on; the module builds for older
// systems, so it is looked up, and the hash object steps stand in for it.
using BCryptHashFunction = NTSTATUS(WINAPI*)(BCRYPT_ALG_HANDLE, PUCHAR, ULONG, PUCHAR, ULONG,
                                             PUCHAR, ULONG);

BCryptHashFunction FindBCryptHash() {
    HMODULE bcrypt = GetModuleHandleW(L"bcrypt.dll");
    if (bcrypt == nullptr)
        return nullptr;
    return reinterpret_cast<BCryptHashFunction>(
        reinterpret_cast<void (*)()>(GetProcAddress(bcrypt, "BCryptHash")));
}

NTSTATUS HashInSteps(BCRYPT_ALG_HANDLE algorithm, PUCHAR input, ULONG size, PUCHAR output,
                     ULONG outputSize) {
    BCRYPT_HASH_HANDLE hash = nullptr;
    NTSTATUS status = BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0);
    if (status < 0)
        return status;
    status = BCryptHashData(hash, input, size, 0);
    if (status >= 0)
        status = BCryptFinishHash(hash, output, outputSize, 0);
    BCryptDestroyHash(hash);
    return status;
}

NTSTATUS Sha256(BCRYPT_ALG_HANDLE algorithm, PUCHAR input, ULONG size, PUCHAR output,
                ULONG outputSize) {
    static const BCryptHashFunction hashAtOnce = FindBCryptHash();
    if (hashAtOnce != nullptr)
        return hashAtOnce(algorithm, nullptr, 0, input, size, output, outputSize);
    return HashInSteps(algorithm, input, size, output, outputSize);
}

using HashFunction = decltype(&Sha256);

HRESULT Challenge(std::wstring_view verifier, HashFunction hash, std::wstring& challenge) {
    // The verifier's characters are ASCII by definition.
    std::string ascii = ToAnsi(verifier);
    BCRYPT_ALG_HANDLE sha256 = nullptr;
    RETURN_IF_FAILED(
        FromStatus(BCryptOpenAlgorithmProvider(&sha256, BCRYPT_SHA256_ALGORITHM, nullptr, 0)));
    BYTE digest[kSha256Bytes] = {};
    HRESULT hr = FromStatus(hash(sha256, reinterpret_cast<PUCHAR>(ascii.data()),
                                 static_cast<ULONG>(ascii.size()), digest, kSha256Bytes));
    BCryptCloseAlgorithmProvider(sha256, 0);
    RETURN_IF_FAILED(hr);
    return Base64Url(digest, kSha256Bytes, challenge);
}

} // namespace

HRESULT Base64Url(const BYTE* data, DWORD size, std::wstring& text) {
    return RunGuarded([&]() -> HRESULT {
        constexpr DWORD flags = CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF;
        DWORD length = 0;
        RETURN_HR_IF(LastWin32Error(), !CryptBinaryToStringW(data, size, flags, nullptr, &length));
        std::wstring encoded(length, L'\0');
        RETURN_HR_IF(LastWin32Error(),
                     !CryptBinaryToStringW(data, size, flags, encoded.data(), &length));
        encoded.resize(length);
        while (!encoded.empty() && (encoded.back() == L'=' || encoded.back() == L'\0'))
            encoded.pop_back();
        for (wchar_t& c : encoded) {
            if (c == L'+')
                c = L'-';
            else if (c == L'/')
                c = L'_';
        }
        text = std::move(encoded);
        return S_OK;
    });
}

HRESULT RandomBase64Url(DWORD bytes, std::wstring& text) {
    std::vector<BYTE> random(bytes);
    RETURN_IF_FAILED(FromStatus(
        BCryptGenRandom(nullptr, random.data(), bytes, BCRYPT_USE_SYSTEM_PREFERRED_RNG)));
    HRESULT hr = Base64Url(random.data(), bytes, text);
    SecureZeroMemory(random.data(), random.size());
    return hr;
}

HRESULT S256Challenge(std::wstring_view verifier, std::wstring& challenge) {
    return Challenge(verifier, &Sha256, challenge);
}

HRESULT S256ChallengeInSteps(std::wstring_view verifier, std::wstring& challenge) {
    return Challenge(verifier, &HashInSteps, challenge);
}

HRESULT MakePkce(Pkce& pkce) {
    Pkce made;
    RETURN_IF_FAILED(RandomBase64Url(kRandomBytes, made.verifier));
    RETURN_IF_FAILED(S256Challenge(made.verifier, made.challenge));
    pkce = std::move(made);
    return S_OK;
}

HRESULT MakeState(std::wstring& state) {
    return RandomBase64Url(kRandomBytes, state);
}

} // namespace gd
