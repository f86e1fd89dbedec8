#include "driveapi/drive_account.h"

#include "driveapi/drive_errors.h"
#include "driveapi/retry.h"
#include "errors/check.h"
#include "errors/codes.h"
#include "plugin/host_instance.h"

#include <condition_variable>

namespace gd {
namespace {

// The sign-in running in the process, and how it ended.
struct SignInAttempt {
    const DriveAccount* account = nullptr;
    HRESULT result = S_OK;
    bool done = false;
};

struct SignInGate {
    std::mutex lock;
    std::condition_variable ended;
    std::shared_ptr<SignInAttempt> running;
};

SignInGate& Gate() {
    static SignInGate gate;
    return gate;
}

// Runs signIn as the process's only sign-in, or takes the outcome of the
// account's running one.
template <class SignIn> HRESULT RunAlone(const DriveAccount& account, SignIn&& signIn) {
    const bool onUiThread = HostInstance::OnUiThread();
    SignInGate& gate = Gate();
    std::unique_lock<std::mutex> held(gate.lock);
    while (gate.running) {
        RETURN_HR_IF(kSignInBusy, onUiThread);
        std::shared_ptr<SignInAttempt> other = gate.running;
        gate.ended.wait(held, [&other] { return other->done; });
        if (other->account == &account)
            return other->result;
    }
    auto mine = std::make_shared<SignInAttempt>();
    mine->account = &account;
    gate.running = mine;
    held.unlock();
    HRESULT hr = signIn();
    held.lock();
    mine->result = hr;
    mine->done = true;
    gate.running.reset();
    gate.ended.notify_all();
    return hr;
}

// The sign-in itself; it replaces start, the tokens it began from.
HRESULT SignInOver(DriveAccount& account, const std::shared_ptr<const TokenSet>& start) {
    return RunGuarded([&]() -> HRESULT {
        std::shared_ptr<TokenSet> tokens;
        std::shared_ptr<DriveUserInfo> info;
        HRESULT hr =
            AuthorizeInteractive(account.ClientId(), account.ClientSecret(), kSignInScopes, tokens);
        if (SUCCEEDED(hr))
            hr = RunWithBackoff([&] { return GetUserInfo(tokens->access_token, info); });
        if (FAILED(hr)) {
            account.ReplaceTokens(start, nullptr);
            return hr;
        }
        // The account is its user: another user's consent must not take it over.
        std::wstring name = account.Name();
        RETURN_HR_IF(DRIVE_E_AUTH, !name.empty() && info->id != name);
        std::shared_ptr<const TokenSet> installed = std::move(tokens);
        account.SetIdentity(installed, std::move(info));
        account.TrustTokens(installed, installed->expires_in);
        return S_OK;
    });
}

// A sign-in needed because of start (none, or refused tokens).
HRESULT SignInFrom(DriveAccount& account, const std::shared_ptr<const TokenSet>& start) {
    return RunGuarded([&] {
        return RunAlone(account, [&] {
            std::shared_ptr<const TokenSet> now = account.Tokens();
            if (now && now != start)
                return S_OK; // another caller signed in or refreshed meanwhile
            return SignInOver(account, now);
        });
    });
}

// A sign-in the account needs: its failure is an authorization failure,
// unless the user cancelled it or it could not run.
HRESULT SignInOrRefuse(DriveAccount& account, const std::shared_ptr<const TokenSet>& start) {
    HRESULT hr = SignInFrom(account, start);
    if (FAILED(hr) && !IsCancellation(hr) && hr != kSignInBusy)
        return DRIVE_E_AUTH;
    return hr;
}

} // namespace

DriveAccount::DriveAccount(std::wstring clientId, std::wstring clientSecret)
    : m_client_id(std::move(clientId)), m_client_secret(std::move(clientSecret)) {}

std::shared_ptr<const TokenSet> DriveAccount::Tokens() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_tokens;
}

std::shared_ptr<const DriveUserInfo> DriveAccount::UserInfo() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_user_info;
}

std::wstring DriveAccount::Name() const {
    std::shared_ptr<const DriveUserInfo> info = UserInfo();
    return info ? info->id : std::wstring();
}

void DriveAccount::SetTokens(std::shared_ptr<const TokenSet> tokens) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_tokens.swap(tokens);
}

bool DriveAccount::ReplaceTokens(const std::shared_ptr<const TokenSet>& expected,
                                 std::shared_ptr<const TokenSet> tokens) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_tokens != expected)
        return false;
    m_tokens.swap(tokens);
    return true;
}

void DriveAccount::SetUserInfo(std::shared_ptr<const DriveUserInfo> info) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_user_info.swap(info);
}

void DriveAccount::SetIdentity(std::shared_ptr<const TokenSet> tokens,
                               std::shared_ptr<const DriveUserInfo> info) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_tokens.swap(tokens);
    m_user_info.swap(info);
}

HRESULT DriveAccount::GetAccessToken(std::wstring& token) {
    RETURN_IF_FAILED(EnsureAccessToken(*this));
    std::lock_guard<std::mutex> guard(m_lock);
    RETURN_HR_IF(GD_E_UNEXPECTED, m_tokens == nullptr);
    token = m_tokens->access_token;
    return S_OK;
}

void DriveAccount::TrustTokens(const std::shared_ptr<const TokenSet>& tokens, int lifetime) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (lifetime <= kVerdictMargin) {
        m_trusted.reset();
        return;
    }
    m_trusted = tokens;
    m_trusted_until = GetTickCount64() + static_cast<ULONGLONG>(lifetime - kVerdictMargin) * 1000;
}

bool DriveAccount::Trusts(const std::shared_ptr<const TokenSet>& tokens) const {
    std::lock_guard<std::mutex> guard(m_lock);
    return tokens && tokens == m_trusted && GetTickCount64() < m_trusted_until;
}

void DriveAccount::DropVerdict() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_trusted.reset();
}

HRESULT EnsureAccessToken(DriveAccount& account) {
    std::shared_ptr<const TokenSet> tokens = account.Tokens();
    if (tokens == nullptr)
        return SignInOrRefuse(account, tokens);
    if (account.Trusts(tokens))
        return S_OK;
    bool expired = true;
    int lifetime = 0;
    RETURN_IF_FAILED(ValidateAccessToken(*tokens, expired, &lifetime));
    if (expired)
        return RenewAccessToken(account);
    account.TrustTokens(tokens, lifetime);
    return S_OK;
}

HRESULT RefreshAccountTokens(DriveAccount& account, std::wstring* oauthError) {
    return RunGuarded([&]() -> HRESULT {
        std::shared_ptr<const TokenSet> current = account.Tokens();
        RETURN_HR_IF_NULL(GD_E_MISSING, current);
        auto renewed = std::make_shared<TokenSet>(*current);
        RETURN_IF_FAILED(RefreshAccessToken(*renewed, oauthError));
        if (account.ReplaceTokens(current, renewed))
            account.TrustTokens(renewed, renewed->expires_in);
        return S_OK;
    });
}

HRESULT RenewAccessToken(DriveAccount& account) {
    std::shared_ptr<const TokenSet> start = account.Tokens();
    std::wstring oauthError;
    HRESULT hr = RefreshAccountTokens(account, &oauthError);
    if (FAILED(hr) && !oauthError.empty())
        return SignInOrRefuse(account, start); // revoked or expired refresh token
    return hr;
}

HRESULT SignInAccount(DriveAccount& account) {
    return SignInFrom(account, account.Tokens());
}

} // namespace gd
