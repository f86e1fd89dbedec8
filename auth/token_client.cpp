#include "auth/token_client.h"

#include "auth/browser_sign_in.h"
#include "auth/endpoints.h"
#include "auth/sign_in_dialog.h"
#include "errors/check.h"
#include "errors/codes.h"
#include "errors/seam.h"
#include "http/encoding.h"
#include "http/memory_stream.h"
#include "http/one_shot.h"

#include <rapidjson/document.h>

#include <climits>
#include <initializer_list>
#include <new>

namespace gd {
namespace {

constexpr HRESULT kAnswerInvalid = INET_E_INTERNAL;                            // 0x82210011
constexpr HRESULT kNoAccessToken = MakeError(kSubsystemInetUtils, 0x1004);     // 0x82211004
constexpr HRESULT kBadRequest = MakeHttpStatusError(kSubsystemInetUtils, 400); // 0x82211190

constexpr wchar_t kExchangeObject[] = L"/oauth2/v3/token";
// The transport puts the leading slash in front.
constexpr wchar_t kRefreshObject[] = L"oauth2/v3/token";
constexpr wchar_t kTokenInfoObject[] = L"oauth2/v1/tokeninfo";

struct FormValue {
    const char* name;
    const std::wstring& value;
};

// name=escaped&name=escaped, then tail as it stands. An empty value or a
// failed escape leaves nothing to send.
HRESULT BuildForm(std::initializer_list<FormValue> fields, const char* tail, std::string& body) {
    try {
        body.clear();
        for (const FormValue& field : fields) {
            std::wstring escaped;
            if (!EscapeUrlText(field.value, escaped)) {
                body.clear();
                return INET_E_OUTOFMEMORY;
            }
            if (!body.empty())
                body += '&';
            body += field.name;
            body += '=';
            body += ToAnsi(escaped);
        }
        body += tail;
        return S_OK;
    } catch (const std::bad_alloc&) {
        return INET_E_OUTOFMEMORY;
    }
}

HRESULT PostForm(const wchar_t* object, const std::string& body, MemoryStream& response) {
    return HttpPostFormToStream(DriveApiEndpoint(), object, response, body.data(),
                                static_cast<DWORD>(body.size()));
}

bool ParseObject(const MemoryStream& response, rapidjson::Document& document) {
    // A zero-terminated copy for the parser.
    std::string text;
    if (response.Data() != nullptr)
        text.assign(reinterpret_cast<const char*>(response.Data()), response.GetSize());
    document.Parse(text.c_str());
    return !document.HasParseError() && document.IsObject();
}

const rapidjson::Value* Member(const rapidjson::Value& object, const char* name) {
    auto member = object.FindMember(name);
    return member == object.MemberEnd() ? nullptr : &member->value;
}

// The values are plain ASCII.
std::wstring WideString(const rapidjson::Value& value) {
    return FromUtf8({value.GetString(), value.GetStringLength()});
}

std::wstring StringMember(const rapidjson::Value& object, const char* name) {
    const rapidjson::Value* value = Member(object, name);
    return value && value->IsString() ? WideString(*value) : std::wstring();
}

int IntMember(const rapidjson::Value& object, const char* name) {
    const rapidjson::Value* value = Member(object, name);
    return value && value->IsInt() ? value->GetInt() : 0;
}

int ClampToInt(double value) {
    if (!(value > INT_MIN)) // also NaN
        return INT_MIN;
    return value < INT_MAX ? static_cast<int>(value) : INT_MAX;
}

// The "error" of a refused request's body, or empty.
std::wstring OAuthErrorOf(const MemoryStream& response) {
    rapidjson::Document document;
    return ParseObject(response, document) ? StringMember(document, "error") : std::wstring();
}

HRESULT ParseTokenAnswer(const MemoryStream& response, TokenSet& tokens) {
    rapidjson::Document document;
    RETURN_HR_IF(kAnswerInvalid, !ParseObject(response, document));
    const rapidjson::Value* access = Member(document, "access_token");
    const rapidjson::Value* refresh = Member(document, "refresh_token");
    const rapidjson::Value* expires = Member(document, "expires_in");
    RETURN_HR_IF(kAnswerInvalid, !access || !access->IsString());
    RETURN_HR_IF(kAnswerInvalid, !refresh || !refresh->IsString());
    RETURN_HR_IF(kAnswerInvalid, !expires || !expires->IsNumber());
    tokens.access_token = WideString(*access);
    tokens.refresh_token = WideString(*refresh);
    tokens.expires_in = expires->IsInt() ? expires->GetInt() : ClampToInt(expires->GetDouble());
    return S_OK;
}

Seam<InteractiveSignIn>& SignInSeam() {
    static Seam<InteractiveSignIn> seam;
    return seam;
}

InteractiveSignIn CurrentSignIn() {
    InteractiveSignIn signIn = SignInSeam().Get();
    return signIn ? signIn : BuiltInSignIn();
}

} // namespace

const std::vector<ScopeRow>& ScopeTable() {
    static const std::vector<ScopeRow> table = {
        {0x0001, L"https://www.googleapis.com/auth/drive", ScopeGroup::kDrive},
        {0x0002, L"https://www.googleapis.com/auth/drive.appdata", ScopeGroup::kDrive},
        {0x0004, L"https://www.googleapis.com/auth/drive.apps.readonly", ScopeGroup::kDrive},
        {0x0008, L"https://www.googleapis.com/auth/drive.file", ScopeGroup::kDrive},
        {0x0010, L"https://www.googleapis.com/auth/drive.metadata.readonly", ScopeGroup::kDrive},
        {0x0020, L"https://www.googleapis.com/auth/drive.readonly", ScopeGroup::kDrive},
        {0x0040, L"https://www.googleapis.com/auth/drive.scripts", ScopeGroup::kDrive},
        {0x0080, L"https://mail.google.com/", ScopeGroup::kMail},
        {0x0100, L"https://www.googleapis.com/auth/gmail.compose", ScopeGroup::kMail},
        {0x0200, L"https://www.googleapis.com/auth/gmail.modify", ScopeGroup::kMail},
        {0x0400, L"https://www.googleapis.com/auth/gmail.readonly", ScopeGroup::kMail},
        {0x0800, L"https://www.googleapis.com/auth/plus.login", ScopeGroup::kProfile},
        {0x1000, L"https://www.googleapis.com/auth/plus.me", ScopeGroup::kProfile},
        {0x2000, L"email", ScopeGroup::kProfile},
        {0x4000, L"https://www.googleapis.com/auth/userinfo.profile", ScopeGroup::kProfile},
    };
    return table;
}

std::vector<std::wstring> ScopesFromMask(unsigned mask) {
    std::vector<std::wstring> scopes;
    for (const ScopeRow& row : ScopeTable()) {
        if (mask & row.bit)
            scopes.emplace_back(row.scope);
    }
    return scopes;
}

HRESULT BuildAuthorizationUrl(const std::wstring& baseUrl, const std::wstring& clientId,
                              const std::vector<std::wstring>& scopes, std::wstring& url,
                              const ConsentRequest& request) {
    try {
        std::wstring text = baseUrl + L"?response_type=code&client_id=" + clientId +
                            L"&redirect_uri=" + request.redirect_uri + L"&scope=";
        for (size_t i = 0; i < scopes.size(); ++i) {
            if (i > 0)
                text += L'+';
            text += scopes[i];
        }
        text += L"&include_granted_scopes=true";
        if (!request.code_challenge.empty())
            text += L"&code_challenge=" + request.code_challenge + L"&code_challenge_method=S256";
        if (!request.state.empty())
            text += L"&state=" + request.state;
        url = std::move(text);
        return S_OK;
    } catch (const std::bad_alloc&) {
        return GD_E_OUTOFMEMORY;
    }
}

HRESULT ExchangeCode(const TokenClient& client, const AuthorizationCode& grant,
                     std::shared_ptr<TokenSet>& tokens) {
    return RunGuarded([&]() -> HRESULT {
        // The verifier is base64url: nothing in it needs escaping.
        std::string tail = "&grant_type=authorization_code";
        if (!grant.code_verifier.empty())
            tail += "&code_verifier=" + ToAnsi(grant.code_verifier);
        std::string body;
        RETURN_IF_FAILED(BuildForm({{"code", grant.code},
                                    {"client_id", client.client_id},
                                    {"client_secret", client.client_secret},
                                    {"redirect_uri", grant.redirect_uri}},
                                   tail.c_str(), body));
        MemoryStream response;
        RETURN_IF_FAILED(PostForm(kExchangeObject, body, response));
        auto result = std::make_shared<TokenSet>();
        RETURN_IF_FAILED(ParseTokenAnswer(response, *result));
        result->client_id = client.client_id;
        result->client_secret = client.client_secret;
        tokens = std::move(result);
        return S_OK;
    });
}

HRESULT RefreshAccessToken(TokenSet& tokens, std::wstring* oauthError) {
    return RunGuarded([&]() -> HRESULT {
        std::string body;
        RETURN_IF_FAILED(BuildForm({{"refresh_token", tokens.refresh_token},
                                    {"client_id", tokens.client_id},
                                    {"client_secret", tokens.client_secret}},
                                   "&grant_type=refresh_token", body));
        MemoryStream response;
        HRESULT hr = PostForm(kRefreshObject, body, response);
        if (FAILED(hr)) {
            if (hr == kBadRequest && oauthError)
                *oauthError = OAuthErrorOf(response);
            return hr;
        }
        rapidjson::Document document;
        RETURN_HR_IF(kAnswerInvalid, !ParseObject(response, document));
        tokens.access_token = StringMember(document, "access_token");
        RETURN_HR_IF(kNoAccessToken, tokens.access_token.empty());
        tokens.expires_in = IntMember(document, "expires_in");
        return S_OK;
    });
}

HRESULT QueryTokenInfo(const std::wstring& accessToken, TokenInfo& info, std::wstring& errorText) {
    return RunGuarded([&]() -> HRESULT {
        std::string body;
        RETURN_IF_FAILED(BuildForm({{"access_token", accessToken}}, "", body));
        MemoryStream response;
        HRESULT hr = PostForm(kTokenInfoObject, body, response);
        if (FAILED(hr)) {
            if (hr == kBadRequest)
                errorText = OAuthErrorOf(response);
            return hr;
        }
        rapidjson::Document document;
        RETURN_HR_IF(kAnswerInvalid, !ParseObject(response, document));
        errorText = StringMember(document, "error");
        info.audience = StringMember(document, "audience");
        info.scope = StringMember(document, "scope");
        info.userid = StringMember(document, "userid");
        info.expires_in = IntMember(document, "expires_in");
        info.error = errorText;
        return S_OK;
    });
}

HRESULT ValidateAccessToken(const TokenSet& tokens, bool& expired, int* lifetime) {
    expired = true;
    if (lifetime)
        *lifetime = 0;
    TokenInfo info;
    std::wstring errorText;
    HRESULT hr = QueryTokenInfo(tokens.access_token, info, errorText);
    if (hr == kBadRequest && !errorText.empty())
        return S_OK; // expired or revoked: the caller refreshes it
    RETURN_IF_FAILED(hr);
    if (!errorText.empty())
        return S_OK;
    expired = CompareStringW(GetThreadLocale(), 0, info.audience.c_str(),
                             static_cast<int>(info.audience.size()), tokens.client_id.c_str(),
                             static_cast<int>(tokens.client_id.size())) != CSTR_EQUAL;
    if (lifetime && !expired)
        *lifetime = info.expires_in;
    return S_OK;
}

InteractiveSignIn BuiltInSignIn() {
#if GD_SIGN_IN_EMBEDDED
    return SignInThroughHost;
#else
    return SignInThroughBrowser;
#endif
}

InteractiveSignIn SetInteractiveSignIn(InteractiveSignIn signIn) {
    return SignInSeam().Replace(signIn);
}

HRESULT AuthorizeInteractive(const std::wstring& clientId, const std::wstring& clientSecret,
                             unsigned scopeMask, std::shared_ptr<TokenSet>& tokens) {
    return RunGuarded([&]() -> HRESULT {
        AuthorizationCode grant;
        RETURN_IF_FAILED(CurrentSignIn()(clientId, ScopesFromMask(scopeMask), grant));
        TokenClient client{clientId, clientSecret};
        return ExchangeCode(client, grant, tokens);
    });
}

} // namespace gd
