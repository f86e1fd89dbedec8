// What the auth and the Drive tests share (header-only): the emulator's demo
// client, token sets issued by its control interface, and a stand-in for the
// sign-in dialog that walks the emulator's consent page over HTTP the way a
// person in the browser would (load the page, submit its form as a chosen
// user, read the final page's title).
#pragma once

#include "auth/endpoints.h"
#include "auth/token_client.h"
#include "errors/codes.h"
#include "http/encoding.h"
#include "http/memory_stream.h"
#include "http/one_shot.h"
#include "tests/support/emulator.h"

#include <rapidjson/document.h>

#include <memory>
#include <regex>
#include <string>
#include <vector>

namespace gd::test {

inline constexpr wchar_t kDemoClientId[] =
    L"123456789012-gdriveemulatordemoclient00000001.apps.googleusercontent.com";
inline constexpr wchar_t kDemoClientSecret[] = L"Emulator_Demo_Secret_001";
inline constexpr char kAlice[] = "alice.emulator@example.com";
inline constexpr char kBob[] = "bob.emulator@example.org";
inline constexpr wchar_t kAliceId[] = L"108012345678901234567";
inline constexpr wchar_t kBobId[] = L"108098765432109876543";

// Points the product's endpoints at the emulator's plain HTTP port.
inline void UseEmulator() {
    ServerAddress address = EmulatorAddress("http");
    std::wstring value = address.host + L":" + std::to_wstring(address.port);
    SetEnvironmentVariableW(L"DRIVE_EMULATOR_HOST", value.c_str());
}

// A fresh token set of user for the demo client, as a code exchange gives it.
inline TokenSet IssueTokenSet(const char* user = kAlice, const char* clientId = nullptr) {
    std::string request = std::string(R"({"issue": {"user": ")") + user + "\"";
    if (clientId)
        request += std::string(R"(, "client_id": ")") + clientId + "\"";
    request += "}}";
    std::string answer = EmulatorControl(L"POST", L"/_emu/tokens", request);
    rapidjson::Document document;
    document.Parse(answer.c_str());
    TokenSet tokens;
    tokens.client_id = kDemoClientId;
    tokens.client_secret = kDemoClientSecret;
    tokens.access_token = FromUtf8(document["access_token"].GetString());
    tokens.refresh_token = FromUtf8(document["refresh_token"].GetString());
    tokens.expires_in = document["expires_in"].GetInt();
    return tokens;
}

inline std::string Utf8(const std::wstring& text) {
    return ToUtf8(text);
}

// Whose token it is, as Google's tokeninfo names it ("user_id"), asked
// independently of the token client.
inline std::wstring TokenOwnerId(const std::wstring& accessToken) {
    std::wstring path = L"/oauth2/v1/tokeninfo?access_token=" + accessToken;
    rapidjson::Document document;
    document.Parse(EmulatorControl(L"GET", path.c_str()).c_str());
    if (!document.IsObject() || !document.HasMember("user_id") || !document["user_id"].IsString())
        return {};
    return FromUtf8(document["user_id"].GetString());
}

// The logged requests whose path starts with prefix.
inline std::vector<LoggedRequest> RequestsTo(const std::string& prefix) {
    std::vector<LoggedRequest> found;
    for (LoggedRequest& request : RequestLog()) {
        if (request.path.rfind(prefix, 0) == 0)
            found.push_back(std::move(request));
    }
    return found;
}

struct ConsentScript {
    std::string user = "alice.emulator@example.com";
    // "approve", "deny", or "close" (the dialog closed before a decision).
    std::string decision = "approve";
    std::vector<std::wstring> urls; // every consent URL shown
};

inline std::string BodyOf(const MemoryStream& body) {
    return body.Data() ? std::string(reinterpret_cast<const char*>(body.Data()), body.GetSize())
                       : std::string();
}

inline std::string HtmlUnescape(std::string text) {
    static const std::pair<const char*, const char*> entities[] = {
        {"&quot;", "\""}, {"&#x27;", "'"}, {"&lt;", "<"}, {"&gt;", ">"}, {"&amp;", "&"}};
    for (const auto& [entity, plain] : entities) {
        for (size_t at = text.find(entity); at != std::string::npos; at = text.find(entity, at + 1))
            text.replace(at, std::char_traits<char>::length(entity), plain);
    }
    return text;
}

inline std::string FormPair(const std::string& name, const std::string& value) {
    std::string encoded;
    EncodeFormValue(FromUtf8(value), encoded);
    return name + "=" + encoded;
}

// The path and query of an http://host:port/... URL.
inline std::wstring ObjectOf(const std::wstring& url) {
    size_t slash = url.find(L'/', url.find(L"://") + 3);
    return slash == std::wstring::npos ? L"/" : url.substr(slash);
}

// Shows url to the scripted user; the code of the "Success code=..." title.
inline HRESULT WalkConsent(ConsentScript& script, const std::wstring& url, std::wstring& code) {
    script.urls.push_back(url);
    if (script.decision == "close")
        return GD_E_CANCELLED;
    Endpoint endpoint = DriveApiEndpoint();
    MemoryStream page;
    HRESULT hr = HttpGetToStream(endpoint, ObjectOf(url).c_str(), page);
    if (FAILED(hr))
        return hr;
    std::string html = BodyOf(page);
    std::smatch match;
    if (!std::regex_search(html, match, std::regex(R"re(<form method="post" action="([^"]+)">)re")))
        return E_FAIL;
    std::wstring action = FromUtf8(match[1].str());
    std::string form;
    std::regex hidden(R"re(<input type="hidden" name="([^"]*)" value="([^"]*)">)re");
    for (std::sregex_iterator it(html.begin(), html.end(), hidden), end; it != end; ++it)
        form += FormPair(HtmlUnescape((*it)[1]), HtmlUnescape((*it)[2])) + "&";
    form += FormPair("user", script.user) + "&" + FormPair("decision", script.decision);

    MemoryStream result;
    hr = HttpPostFormToStream(endpoint, action.c_str(), result, form.data(),
                              static_cast<DWORD>(form.size()));
    if (FAILED(hr))
        return hr;
    std::string outcome = BodyOf(result);
    if (!std::regex_search(outcome, match, std::regex("<title>([^<]*)</title>")))
        return E_FAIL;
    std::string title = HtmlUnescape(match[1]);
    if (title.rfind("Denied", 0) == 0)
        return GD_E_CANCELLED;
    size_t at = title.find("code=");
    if (title.rfind("Success", 0) != 0 || at == std::string::npos)
        return E_FAIL;
    code = FromUtf8(title.substr(at + 5, title.find('&', at) - (at + 5)));
    return S_OK;
}

// Installs the walker as the process's sign-in while it lives.
class ScopedConsent {
public:
    ScopedConsent() : m_script(std::make_shared<ConsentScript>()) {
        std::shared_ptr<ConsentScript> script = m_script;
        m_previous = SetInteractiveSignIn([script](const std::wstring& clientId,
                                                   const std::vector<std::wstring>& scopes,
                                                   AuthorizationCode& grant) {
            std::wstring url;
            HRESULT hr = BuildAuthorizationUrl(AuthorizationEndpointUrl(), clientId, scopes, url);
            grant = AuthorizationCode{};
            return SUCCEEDED(hr) ? WalkConsent(*script, url, grant.code) : hr;
        });
    }
    ~ScopedConsent() { SetInteractiveSignIn(m_previous); }
    ScopedConsent(const ScopedConsent&) = delete;
    ScopedConsent& operator=(const ScopedConsent&) = delete;

    ConsentScript& Script() { return *m_script; }

private:
    std::shared_ptr<ConsentScript> m_script;
    InteractiveSignIn m_previous;
};

} // namespace gd::test
