// OAuth 2.0 for installed applications: the consent URL, the code exchange,
// the refresh and the tokeninfo check. Nothing is kept between calls and
// nothing is written anywhere; tokens never enter a trace text.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace gd {

// Rows of the scope table, selected by a mask.
constexpr unsigned kScopeDrive = 0x0001;
constexpr unsigned kScopeUserInfoProfile = 0x4000;
constexpr unsigned kSignInScopes = kScopeDrive | kScopeUserInfoProfile;

enum class ScopeGroup { kDrive = 0, kMail = 1, kProfile = 2 };

struct ScopeRow {
    unsigned bit;
    const wchar_t* scope;
    ScopeGroup group;
};

// All 15 rows, in table order.
const std::vector<ScopeRow>& ScopeTable();
// The scope strings a mask selects, in table order.
std::vector<std::wstring> ScopesFromMask(unsigned mask);

constexpr wchar_t kOobRedirectUri[] = L"urn:ietf:wg:oauth:2.0:oob:auto";

struct TokenSet {
    std::wstring client_id;
    std::wstring client_secret;
    std::wstring access_token;
    std::wstring refresh_token;
    int expires_in = 0;
};

// The credentials of one code exchange.
struct TokenClient {
    std::wstring client_id;
    std::wstring client_secret;
};

// The answer of the tokeninfo endpoint.
struct TokenInfo {
    std::wstring audience;
    std::wstring scope;
    std::wstring userid;
    int expires_in = 0;
    std::wstring error;
};

// What the consent URL carries besides the client and its scopes: the
// redirect URI, and for the browser flow the PKCE challenge (S256) and state.
struct ConsentRequest {
    std::wstring redirect_uri = kOobRedirectUri;
    std::wstring code_challenge; // empty: no PKCE
    std::wstring state;          // empty: none
};

// base?response_type=code&client_id=..&redirect_uri=..&scope=a+b&include_granted_scopes=true,
// then &code_challenge=..&code_challenge_method=S256 and &state=.. when given;
// nothing escaped. 0x822203E8 when memory runs out.
HRESULT BuildAuthorizationUrl(const std::wstring& baseUrl, const std::wstring& clientId,
                              const std::vector<std::wstring>& scopes, std::wstring& url,
                              const ConsentRequest& request = {});

// What a consent flow yields: the code, the redirect URI it was issued for
// (the exchange must name the same) and the PKCE verifier, if any.
struct AuthorizationCode {
    std::wstring code;
    std::wstring redirect_uri = kOobRedirectUri;
    std::wstring code_verifier;
};

// Exchanges an authorization code for a new TokenSet; on failure tokens stays
// as it was.
HRESULT ExchangeCode(const TokenClient& client, const AuthorizationCode& grant,
                     std::shared_ptr<TokenSet>& tokens);

// Renews the access token and expires_in in place; the refresh token is kept.
// When the token endpoint refuses with an OAuth error (a 400 with "error"),
// the error text goes to oauthError.
HRESULT RefreshAccessToken(TokenSet& tokens, std::wstring* oauthError = nullptr);

// Asks the tokeninfo endpoint about a token. A 400 answer keeps its code, and
// an "error" it carries is still read into errorText.
HRESULT QueryTokenInfo(const std::wstring& accessToken, TokenInfo& info, std::wstring& errorText);

// expired = false only when tokeninfo knows the token and names the TokenSet's
// client as its audience. Google answers an expired token with 400 and an
// "error": that is success with expired = true, not a failure. lifetime, when
// given, receives the seconds tokeninfo says a valid token has left (else 0).
HRESULT ValidateAccessToken(const TokenSet& tokens, bool& expired, int* lifetime = nullptr);

// Shows the consent page for a client and its scopes and returns the
// authorization code. By default the flow the build picked runs (the system
// browser with a loopback redirect, or the host's sign-in dialog), with its
// dialog on the host's UI thread while the calling thread waits (GD_E_MISSING
// without a host); a refused or closed consent answers a code whose low 16
// bits are 1223.
using InteractiveSignIn =
    std::function<HRESULT(const std::wstring& clientId, const std::vector<std::wstring>& scopes,
                          AuthorizationCode& grant)>;
// Installs another sign-in for the whole process (tests) and returns the
// previous one; an empty function restores the build's own flow.
InteractiveSignIn SetInteractiveSignIn(InteractiveSignIn signIn);
// The flow the build picked (GDRIVE_SIGN_IN).
InteractiveSignIn BuiltInSignIn();

// The consent flow for the scopes of mask, then the code exchange.
HRESULT AuthorizeInteractive(const std::wstring& clientId, const std::wstring& clientSecret,
                             unsigned scopeMask, std::shared_ptr<TokenSet>& tokens);

} // namespace gd
