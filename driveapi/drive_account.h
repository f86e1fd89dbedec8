// One signed-in Google account: the OAuth client it was created with, its
// tokens and its user. Any thread may use it: requests copy the token text
// out under the lock; a refresh or a sign-in builds new values aside and
// swaps them in.
#pragma once

#include "auth/token_client.h"
#include "driveapi/user_info.h"

#include <windows.h>

#include <memory>
#include <mutex>
#include <string>

namespace gd {

class DriveAccount {
public:
    DriveAccount(std::wstring clientId, std::wstring clientSecret);
    DriveAccount(const DriveAccount&) = delete;
    DriveAccount& operator=(const DriveAccount&) = delete;

    const std::wstring& ClientId() const { return m_client_id; }
    const std::wstring& ClientSecret() const { return m_client_secret; }

    // Snapshots; null until the first sign-in or userinfo answer.
    std::shared_ptr<const TokenSet> Tokens() const;
    std::shared_ptr<const DriveUserInfo> UserInfo() const;
    // The account's name: its user id, empty before the first sign-in.
    std::wstring Name() const;

    void SetTokens(std::shared_ptr<const TokenSet> tokens);
    // Swaps in tokens only while the account still holds expected, so that a
    // late refresh cannot undo a sign-in made meanwhile.
    bool ReplaceTokens(const std::shared_ptr<const TokenSet>& expected,
                       std::shared_ptr<const TokenSet> tokens);
    void SetUserInfo(std::shared_ptr<const DriveUserInfo> info);
    // Replaces both at once, so no request sees the tokens of one user with
    // the name of another.
    void SetIdentity(std::shared_ptr<const TokenSet> tokens,
                     std::shared_ptr<const DriveUserInfo> info);

    // EnsureAccessToken, then the access token's text. 0x82220011 when the
    // account still has no tokens.
    HRESULT GetAccessToken(std::wstring& token);

    // The token check's verdict: tokens that Google gave or confirmed with
    // lifetime seconds left count as valid, without asking again, until
    // kVerdictMargin before that lifetime ends. A shorter lifetime gives none.
    void TrustTokens(const std::shared_ptr<const TokenSet>& tokens, int lifetime);
    bool Trusts(const std::shared_ptr<const TokenSet>& tokens) const;
    // Drive refused the token: the next request checks it again.
    void DropVerdict();

private:
    const std::wstring m_client_id;
    const std::wstring m_client_secret;
    mutable std::mutex m_lock;
    std::shared_ptr<const TokenSet> m_tokens;
    std::shared_ptr<const DriveUserInfo> m_user_info;
    std::shared_ptr<const TokenSet> m_trusted;
    ULONGLONG m_trusted_until = 0; // GetTickCount64
};

inline constexpr int kVerdictMargin = 5 * 60; // seconds

// What a sign-in asked for on the host's UI thread gives while another one
// runs: that one's dialog is the modal loop the caller runs in, so waiting
// for it would never end.
inline constexpr HRESULT kSignInBusy = E_FAIL;

// Makes sure the account holds a token that tokeninfo accepts: refreshes an
// expired one, signs in when there are no tokens or Google refuses the
// refresh. A failed sign-in gives 0x82221191, a cancelled or busy one keeps
// its code.
HRESULT EnsureAccessToken(DriveAccount& account);

// Refreshes a copy of the account's tokens and swaps it in. 0x82220010 when
// the account has none; a refusal's OAuth error goes to oauthError.
HRESULT RefreshAccountTokens(DriveAccount& account, std::wstring* oauthError = nullptr);

// Refreshes the account's tokens; a refresh that Google refuses with an OAuth
// error falls back to a sign-in of the same account.
HRESULT RenewAccessToken(DriveAccount& account);

// Consent for Drive and the profile, code exchange, then the user's id and
// name. A sign-in as another user than the account's is refused (0x82221191)
// and changes nothing; any other failure drops the tokens the sign-in started
// from (not newer ones installed meanwhile), so the next request signs in
// again.
// One sign-in runs at a time in the process: a caller for the account being
// signed in waits and takes that sign-in's outcome, a caller for another
// account waits its turn, and a caller on the host's UI thread gets
// kSignInBusy at once. Tokens that another caller installed while this one
// waited count as its outcome.
HRESULT SignInAccount(DriveAccount& account);

} // namespace gd
