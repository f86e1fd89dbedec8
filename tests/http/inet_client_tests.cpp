// InetClient on the wire against the emulator's HTTP, HTTPS and FTP servers.
#include "errors/codes.h"
#include "http/encoding.h"
#include "http/inet_client.h"
#include "tests/support/emulator.h"

#include <gmock/gmock.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace gd {
namespace {

using ::testing::AnyOf;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::Eq;

constexpr HRESULT kStatus401 = static_cast<HRESULT>(0x82211191);
constexpr HRESULT kStatus407 = static_cast<HRESULT>(0x82211197);

std::wstring Url(const char* kind, const std::wstring& object) {
    test::ServerAddress address = test::EmulatorAddress(kind);
    return std::wstring(kind, kind + std::strlen(kind)) + L"://" + address.host + L":" +
           std::to_wstring(address.port) + object;
}

FormField Field(const wchar_t* name, const wchar_t* value) {
    FormField field;
    EXPECT_EQ(MakeFormField(name, value, field), S_OK);
    return field;
}

// Reads the rest of the body in chunks of `chunk` bytes.
std::string ReadAll(InetClient& client, DWORD chunk = 4096) {
    std::string body;
    std::vector<char> buffer(chunk);
    for (;;) {
        DWORD read = 0;
        HRESULT hr = client.ReadInto(buffer.data(), chunk, read);
        body.append(buffer.data(), read);
        if (FAILED(hr) || read == 0) {
            EXPECT_THAT(hr, AnyOf(Eq(S_OK), Eq(INET_E_END_OF_DATA)));
            return body;
        }
    }
}

// Records every callback; answers 401/407/redirect questions with `answer`
// until `approvals` run out, then refuses.
struct CallbackLog {
    std::vector<std::pair<DWORD, ULONG_PTR>> calls;
    std::vector<ULONGLONG> counts; // codes 2 and 3
    std::vector<std::wstring> locations;
    int approvals = 0;

    std::vector<DWORD> Codes(bool withStatus = false) const {
        std::vector<DWORD> codes;
        for (const auto& call : calls) {
            if (withStatus || call.first != kInetStatusNotification)
                codes.push_back(call.first);
        }
        return codes;
    }
};

HRESULT Record(DWORD code, ULONG_PTR argument, void* userData) {
    auto* log = static_cast<CallbackLog*>(userData);
    log->calls.emplace_back(code, argument);
    if (code == kInetReadProgress || code == kInetReadDone)
        log->counts.push_back(*reinterpret_cast<const ULONGLONG*>(argument));
    if (code == kInetRedirectOrAuth || code == kInetProxyAuth) {
        if (log->approvals == 0)
            return E_ABORT;
        --log->approvals;
    }
    return S_OK;
}

class InetClientTest : public ::testing::Test {
protected:
    void SetUp() override { test::ResetEmulator(); }
};

TEST_F(InetClientTest, ReadIntoFillsTheBufferThenReportsTheEnd) {
    InetClient client;
    ASSERT_EQ(client.OpenUrl(Url("http", L"/_test/bytes/25").c_str(), RequestMode::Get), S_OK);
    BYTE buffer[10];
    DWORD read = 0;
    EXPECT_EQ(client.ReadInto(buffer, 10, read), S_OK);
    EXPECT_EQ(read, 10u);
    EXPECT_EQ(buffer[9], 9);
    EXPECT_EQ(client.ReadInto(buffer, 10, read), S_OK);
    EXPECT_EQ(read, 10u);
    EXPECT_EQ(buffer[0], 10);
    EXPECT_EQ(client.ReadInto(buffer, 10, read), INET_E_END_OF_DATA);
    EXPECT_EQ(read, 5u);
    EXPECT_EQ(buffer[4], 24);
}

TEST_F(InetClientTest, CallbackSeesEachStep) {
    CallbackLog log;
    InetClient client;
    client.SetCallback(&Record, &log);
    ASSERT_EQ(client.OpenUrl(Url("http", L"/_test/bytes/25").c_str(), RequestMode::Get), S_OK);
    BYTE buffer[10];
    DWORD read = 0;
    client.ReadInto(buffer, 10, read);
    EXPECT_THAT(log.Codes(true), Contains(kInetStatusNotification));
    EXPECT_THAT(log.Codes(), ElementsAre(kInetRequestAccepted, kInetReadProgress, kInetReadDone));
    EXPECT_THAT(log.counts, ElementsAre(10u, 10u));
}

// Closing the handles makes WinINet report to their context; none of it may
// reach a callback whose owner is going away with the client.
TEST_F(InetClientTest, NoCallbackRunsOnceDestructionStarts) {
    CallbackLog log;
    auto client = std::make_unique<InetClient>();
    client->SetCallback(&Record, &log);
    ASSERT_EQ(client->OpenUrl(Url("http", L"/_test/bytes/25").c_str(), RequestMode::Get), S_OK);
    ASSERT_THAT(log.Codes(true), Contains(kInetStatusNotification));
    size_t before = log.calls.size();
    client.reset();
    EXPECT_EQ(log.calls.size(), before);
}

TEST_F(InetClientTest, GzipBodyArrivesDecoded) {
    InetClient client;
    ASSERT_EQ(client.OpenUrl(Url("http", L"/_test/bytes/50000?gzip=1").c_str(), RequestMode::Get),
              S_OK);
    std::string body = ReadAll(client);
    ASSERT_EQ(body.size(), 50000u);
    for (size_t i = 0; i < body.size(); i += 997)
        ASSERT_EQ(static_cast<BYTE>(body[i]), i % 251) << i;
    std::vector<test::LoggedRequest> log = test::RequestLog();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].headers["accept-encoding"], "gzip, deflate");
    EXPECT_EQ(log[0].headers["accept"], "*/*");
    EXPECT_EQ(log[0].headers["user-agent"], "Mozilla/4.0 (compatible; Lumo Editor 3.0; Windows)");
}

// What the server receives for each way of sending the same two fields.
TEST_F(InetClientTest, FormFieldsAsReceived) {
    struct Case {
        RequestMode mode;
        const char* method;
        const char* path;
        const char* contentType;
        std::string body;
    };
    const char multipart[] = "--MULTI-PARTS-FORM-DATA-BOUNDARY\r\n"
                             "Content-Disposition: form-data; name=\"q\";\r\n\r\n"
                             "x\0 \0y\0\r\n"
                             "--MULTI-PARTS-FORM-DATA-BOUNDARY\r\n"
                             "Content-Disposition: form-data; name=\"n\";\r\n\r\n"
                             "\xE9\0\r\n"
                             "--MULTI-PARTS-FORM-DATA-BOUNDARY--";
    const Case cases[] = {
        {RequestMode::Get, "GET", "/_test/echo?q=x%20y&n=%C3%A9", "", ""},
        {RequestMode::PostUrlEncoded, "POST", "/_test/echo", "application/x-www-form-urlencoded",
         "q=x%20y&n=%C3%A9"},
        {RequestMode::PostMultipart, "POST", "/_test/echo",
         "multipart/form-data; boundary=MULTI-PARTS-FORM-DATA-BOUNDARY",
         std::string(multipart, sizeof(multipart) - 1)},
    };
    for (const Case& c : cases) {
        test::ResetEmulator();
        InetClient client;
        client.AddFormField(Field(L"q", L"x y"));
        client.AddFormField(Field(L"n", L"\u00E9"));
        ASSERT_EQ(client.OpenUrl(Url("http", L"/_test/echo").c_str(), c.mode), S_OK) << c.method;
        std::vector<test::LoggedRequest> log = test::RequestLog();
        ASSERT_EQ(log.size(), 1u);
        EXPECT_EQ(log[0].method, c.method);
        EXPECT_EQ(log[0].path, c.path);
        EXPECT_EQ(log[0].headers["content-type"], c.contentType);
        EXPECT_EQ(log[0].body, c.body) << c.method;
    }
}

TEST_F(InetClientTest, RawBodyHeadersAndCookies) {
    InetClient client;
    client.SetExtraHeaders(L"X-Trace: one\r\nX-Other: two\r\n");
    client.AddCookie(L"sid", L"abc");
    const char body[] = "raw body";
    ASSERT_EQ(client.OpenUrl(Url("http", L"/_test/echo/raw?a=1#fragment").c_str(), RequestMode::Raw,
                             nullptr, L"PUT", body),
              S_OK);
    std::vector<test::LoggedRequest> log = test::RequestLog();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].method, "PUT");
    EXPECT_EQ(log[0].path, "/_test/echo/raw?a=1"); // the fragment never leaves the client
    EXPECT_EQ(log[0].body, "raw body");
    EXPECT_EQ(log[0].headers["x-trace"], "one");
    EXPECT_EQ(log[0].headers["x-other"], "two");
    EXPECT_THAT(log[0].headers["cookie"], ::testing::HasSubstr("sid=abc"));
}

TEST_F(InetClientTest, OpenOnlySendsNothing) {
    InetClient client;
    ASSERT_EQ(client.OpenUrl(Url("http", L"/_test/echo").c_str(), RequestMode::OpenOnly), S_OK);
    EXPECT_TRUE(client.Request().IsOpen());
    EXPECT_TRUE(test::RequestLog().empty());
}

TEST_F(InetClientTest, RedirectIsFollowedAndReported) {
    CallbackLog log;
    InetClient client;
    client.SetCallback(&Record, &log);
    ASSERT_EQ(client.OpenUrl(Url("http", L"/_test/status/302?location=/_test/bytes/7").c_str(),
                             RequestMode::Get),
              S_OK);
    EXPECT_EQ(ReadAll(client).size(), 7u);
    EXPECT_THAT(log.calls, Contains(std::pair<DWORD, ULONG_PTR>(kInetStatusNotification,
                                                                INTERNET_STATUS_REDIRECT)));
    std::vector<test::LoggedRequest> requests = test::RequestLog();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].path, "/_test/bytes/7");
}

// 401 asks code 4, 407 asks code 5, each with the client. An approval sends
// again; a refusal ends with the callback's answer.
TEST_F(InetClientTest, AuthenticationChallengesAskTheCallback) {
    struct Case {
        int status;
        DWORD code;
    };
    for (const Case c : {Case{401, kInetRedirectOrAuth}, Case{407, kInetProxyAuth}}) {
        test::ResetEmulator();
        test::AddFault(R"({"path": "/_test/echo", "status": )" + std::to_string(c.status) + "}");
        CallbackLog log;
        InetClient client;
        log.approvals = 1;
        client.SetCallback(&Record, &log);
        EXPECT_EQ(client.OpenUrl(Url("http", L"/_test/echo").c_str(), RequestMode::Get), S_OK);
        EXPECT_THAT(log.Codes(), ElementsAre(c.code, kInetRequestAccepted)) << c.status;
        EXPECT_EQ(log.calls.back().second, 0u);
        for (const auto& call : log.calls) {
            if (call.first == c.code) {
                EXPECT_EQ(call.second, reinterpret_cast<ULONG_PTR>(&client));
            }
        }
        EXPECT_EQ(test::RequestLog().size(), 2u) << c.status;

        test::ResetEmulator();
        test::AddFault(R"({"path": "/_test/echo", "status": )" + std::to_string(c.status) + "}");
        log = CallbackLog{};
        EXPECT_EQ(client.OpenUrl(Url("http", L"/_test/echo").c_str(), RequestMode::Get), E_ABORT);
        EXPECT_FALSE(client.Request().IsOpen());
    }
}

TEST_F(InetClientTest, EndlessChallengesEndWithTheStatus) {
    test::AddFault(R"({"path": "/_test/echo", "status": 401, "count": -1})");
    InetClient silent;
    EXPECT_EQ(silent.OpenUrl(Url("http", L"/_test/echo").c_str(), RequestMode::Get), kStatus401);
    EXPECT_EQ(test::RequestLog().size(), 1u);

    test::ResetEmulator();
    test::AddFault(R"({"path": "/_test/echo", "status": 407, "count": -1})");
    CallbackLog log;
    InetClient approving;
    log.approvals = 1000;
    approving.SetCallback(&Record, &log);
    EXPECT_EQ(approving.OpenUrl(Url("http", L"/_test/echo").c_str(), RequestMode::Get), kStatus407);
    size_t sent = test::RequestLog().size();
    EXPECT_GT(sent, 1u);
    EXPECT_LE(sent, 10u);
}

TEST_F(InetClientTest, FtpReadAndWrite) {
    InetClient reader;
    ASSERT_EQ(reader.OpenUrl(Url("ftp", L"/hello.txt").c_str(), RequestMode::Get), S_OK);
    EXPECT_EQ(ReadAll(reader), "Hello from the emulator's FTP server.\r\n");

    const std::string content = "written over FTP";
    {
        InetClient writer;
        ASSERT_EQ(writer.OpenUrl(Url("ftp", L"/new%20file.txt").c_str(), RequestMode::Raw), S_OK);
        DWORD written = 0;
        ASSERT_EQ(
            writer.Request().Write(content.data(), static_cast<DWORD>(content.size()), &written),
            S_OK);
        EXPECT_EQ(written, content.size());
    }
    InetClient check;
    ASSERT_EQ(check.OpenUrl(Url("ftp", L"/new file.txt").c_str(), RequestMode::Get), S_OK);
    EXPECT_EQ(ReadAll(check), content);
}

// Security: the self-signed test certificate is refused unless the caller opts
// in, and nothing of the request reaches the server before that.
TEST_F(InetClientTest, InvalidCertificateNeedsTheOptIn) {
    const std::wstring url = Url("https", L"/_test/echo/secure");
    InetClient strict;
    strict.SetExtraHeaders(L"Authorization: Bearer secret-token\r\n");
    strict.AddFormField(Field(L"code", L"secret-code"));
    HRESULT hr = strict.OpenUrl(url.c_str(), RequestMode::PostUrlEncoded);
    EXPECT_THAT(hr, AnyOf(Eq(MakeWin32Failure(ERROR_INTERNET_INVALID_CA)),
                          Eq(MakeWin32Failure(ERROR_INTERNET_SEC_CERT_CN_INVALID)),
                          Eq(MakeWin32Failure(ERROR_INTERNET_SEC_CERT_DATE_INVALID))));
    EXPECT_FALSE(strict.Request().IsOpen());
    EXPECT_TRUE(test::RequestLog().empty());

    // WinINet pools the accepted connection per host name for the process; the
    // opt-in goes by another name so that the strict tests stay independent.
    std::wstring lenientUrl = url;
    lenientUrl.replace(lenientUrl.find(L"127.0.0.1"), 9, L"localhost");
    InetClient lenient;
    lenient.AllowInvalidCertificates(true);
    ASSERT_EQ(lenient.OpenUrl(lenientUrl.c_str(), RequestMode::Get), S_OK);
    EXPECT_THAT(ReadAll(lenient), ::testing::HasSubstr("/_test/echo/secure"));
    EXPECT_EQ(test::RequestLog().size(), 1u);
}

TEST_F(InetClientTest, MisuseGivesItsCodes) {
    InetClient client;
    BYTE buffer[4];
    DWORD read = 0;
    EXPECT_EQ(client.ReadInto(buffer, 4, read), INET_E_NOT_OPEN);
    EXPECT_EQ(client.SendRequest(L"/", RequestMode::Get), E_FAIL);
    EXPECT_EQ(client.OpenUrl(nullptr, RequestMode::Get), E_INVALIDARG);
    EXPECT_EQ(client.OpenUrl(L"file:///c:/windows/win.ini", RequestMode::Get), E_FAIL);
    EXPECT_TRUE(FAILED(client.OpenUrl(L"not a url", RequestMode::Get)));
}

} // namespace
} // namespace gd
