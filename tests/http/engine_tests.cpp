// The handle owners and the one-shot requests, on the wire against the emulator.
#include "errors/codes.h"
#include "http/endpoint.h"
#include "http/inet_handles.h"
#include "http/memory_stream.h"
#include "http/one_shot.h"
#include "tests/support/emulator.h"

#include <gmock/gmock.h>
#include <psapi.h>

#include <algorithm>
#include <string>
#include <vector>

namespace gd {
namespace {

using ::testing::ElementsAre;
using ::testing::Eq;

constexpr HRESULT kStatus404 = static_cast<HRESULT>(0x82211194);

Endpoint Emulator(const char* kind = "http") {
    test::ServerAddress address = test::EmulatorAddress(kind);
    return Endpoint{address.host, address.port, std::string(kind) == "https"};
}

std::string Text(const MemoryStream& stream) {
    return std::string(reinterpret_cast<const char*>(stream.Data()), stream.GetSize());
}

// The emulator's test bodies: byte i is i % 251.
bool IsPattern(const BYTE* data, size_t size) {
    for (size_t i = 0; i < size; ++i) {
        if (data[i] != static_cast<BYTE>(i % 251))
            return false;
    }
    return true;
}

class EngineTest : public ::testing::Test {
protected:
    void SetUp() override { test::ResetEmulator(); }
};

TEST_F(EngineTest, ErrorStatusKeepsItsBody) {
    MemoryStream response;
    EXPECT_EQ(HttpGetToStream(Emulator(), L"/_test/status/404", response), kStatus404);
    EXPECT_EQ(Text(response), "status 404");
}

TEST_F(EngineTest, StatusCodesMapToResults) {
    struct Case {
        const wchar_t* object;
        HRESULT expected;
    };
    const Case cases[] = {
        {L"/_test/status/200", S_OK},
        {L"/_test/status/204", S_OK},
        {L"/_test/status/302", static_cast<HRESULT>(0x8221112E)}, // no Location: not followed
        {L"/_test/status/401", static_cast<HRESULT>(0x82211191)},
        {L"/_test/status/503", static_cast<HRESULT>(0x822111F7)},
        {L"/_test/status/599", static_cast<HRESULT>(0x82211257)},
        {L"/_test/status/600", E_FAIL},
    };
    for (const Case& c : cases) {
        MemoryStream response;
        EXPECT_EQ(HttpGetToStream(Emulator(), c.object, response), c.expected) << c.object;
    }
}

// Bodies of every framing arrive whole, whatever their size relative to the
// first guess (4097) and the read chunk (1 MiB).
TEST_F(EngineTest, BodiesArriveWholeInEveryFraming) {
    const wchar_t* framings[] = {L"", L"?nolength=1", L"?chunked=1"};
    const size_t sizes[] = {1, 4097, 4098, 70000, (3u << 20) + 17};
    for (const wchar_t* framing : framings) {
        for (size_t size : sizes) {
            std::wstring object = L"/_test/bytes/" + std::to_wstring(size) + framing;
            MemoryStream response;
            ASSERT_EQ(HttpGetToStream(Emulator(), object.c_str(), response), S_OK) << object;
            ASSERT_EQ(response.GetSize(), size) << object;
            EXPECT_TRUE(IsPattern(response.Data(), size)) << object;
        }
    }
}

// Fewer bytes than announced, on a success or an error answer, is a cut
// connection, never a shorter body.
TEST_F(EngineTest, ABodyShortOfItsContentLengthIsACutConnection) {
    struct Case {
        const char* fault;
        const wchar_t* object;
    } cases[] = {
        {R"({"path": "/_test/bytes", "drop_after_bytes": 1000})", L"/_test/bytes/70000"},
        {R"({"path": "/_test/echo", "content_length": 100000})", L"/_test/echo/x"},
        {R"({"path": "/_test/status", "content_length": 100})", L"/_test/status/503"},
    };
    for (const Case& c : cases) {
        test::AddFault(c.fault);
        MemoryStream response;
        EXPECT_EQ(HttpGetToStream(Emulator(), c.object, response), INET_E_BODY_CUT_OFF) << c.fault;
    }
}

TEST_F(EngineTest, ZeroContentLengthGivesEmptyBody) {
    MemoryStream response;
    EXPECT_EQ(HttpGetToStream(Emulator(), L"/_test/bytes/10?zerolength=1", response), S_OK);
    EXPECT_EQ(response.GetSize(), 0u);
}

TEST_F(EngineTest, GetSendsHeadersAndBody) {
    MemoryStream response;
    const char body[] = "x=1";
    ASSERT_EQ(HttpGetToStream(Emulator(), L"/_test/echo/get", response,
                              L"Authorization: Bearer token-1\r\n", body, 3),
              S_OK);
    std::vector<test::LoggedRequest> log = test::RequestLog();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].method, "GET");
    EXPECT_EQ(log[0].path, "/_test/echo/get");
    EXPECT_EQ(log[0].headers["authorization"], "Bearer token-1");
    EXPECT_EQ(log[0].headers["content-type"], "application/x-www-form-urlencoded");
    EXPECT_EQ(log[0].body, "x=1");
}

TEST_F(EngineTest, PostSendsForm) {
    MemoryStream response;
    const std::string form = "code=a%2Fb&grant_type=authorization_code";
    ASSERT_EQ(HttpPostFormToStream(Emulator(), L"/_test/echo/token", response, form.data(),
                                   static_cast<DWORD>(form.size())),
              S_OK);
    EXPECT_THAT(Text(response), ::testing::HasSubstr("\"method\": \"POST\""));
    std::vector<test::LoggedRequest> log = test::RequestLog();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].method, "POST");
    EXPECT_EQ(log[0].body, form);
}

TEST_F(EngineTest, MissingArguments) {
    MemoryStream response;
    Endpoint noHost{L"", 80, false};
    EXPECT_EQ(HttpGetToStream(noHost, L"/", response), E_INVALIDARG);
    EXPECT_EQ(HttpGetToStream(Emulator(), nullptr, response), E_INVALIDARG);
    EXPECT_EQ(HttpPostFormToStream(noHost, L"/", response, "a", 1), E_POINTER);
    EXPECT_EQ(HttpPostFormToStream(Emulator(), nullptr, response, "a", 1), E_POINTER);
    EXPECT_TRUE(test::RequestLog().empty());
}

// Security: a certificate the machine does not trust ends the request before
// anything of it (here a bearer token) reaches the server.
TEST_F(EngineTest, UntrustedCertificateIsRefusedBeforeSending) {
    MemoryStream response;
    HRESULT hr = HttpGetToStream(Emulator("https"), L"/_test/echo/secret", response,
                                 L"Authorization: Bearer secret-token\r\n", "body", 4);
    EXPECT_THAT(hr, ::testing::AnyOf(Eq(MakeWin32Failure(ERROR_INTERNET_INVALID_CA)),
                                     Eq(MakeWin32Failure(ERROR_INTERNET_SEC_CERT_CN_INVALID)),
                                     Eq(MakeWin32Failure(ERROR_INTERNET_SEC_CERT_DATE_INVALID))));
    EXPECT_TRUE(test::RequestLog().empty());
}

TEST(Win32Mapping, FailuresBecomeTransportCodes) {
    EXPECT_EQ(ResultFromWin32(0), S_OK);
    EXPECT_EQ(ResultFromWin32(ERROR_INTERNET_CANNOT_CONNECT), static_cast<HRESULT>(0x83FF2EFD));
    EXPECT_EQ(ResultFromWin32(0x80070005), static_cast<HRESULT>(0x80070005));
    EXPECT_EQ(ResultFromWin32(0x12345678), static_cast<HRESULT>(0x83FF5678));
}

TEST(InetHandles, OperationsOnClosedHandles) {
    InetRequest request;
    DWORD value = 0;
    DWORD size = sizeof(value);
    std::wstring text;
    ULONGLONG total = 0;
    BYTE buffer[4];
    MemoryStream sink;
    EXPECT_EQ(request.Send(nullptr, nullptr, 0), INET_E_NOT_OPEN);
    EXPECT_EQ(request.SendEx(10), INET_E_NOT_OPEN);
    EXPECT_EQ(request.Write(buffer, 4, nullptr), INET_E_NOT_OPEN);
    EXPECT_EQ(request.End(), INET_E_NOT_OPEN);
    EXPECT_EQ(request.AddHeader(L"A", L"b"), INET_E_NOT_OPEN);
    EXPECT_EQ(request.QueryHeader(HTTP_QUERY_STATUS_CODE, text), INET_E_NOT_OPEN);
    EXPECT_EQ(request.ReadFile(buffer, 4, nullptr), INET_E_NOT_OPEN);
    EXPECT_EQ(request.StatusToResult(), INET_E_NOT_OPEN);
    EXPECT_EQ(request.ReadResponse(sink, total), INET_E_NOT_OPEN);
    EXPECT_EQ(request.QueryOption(INTERNET_OPTION_SECURITY_FLAGS, &value, &size),
              INET_E_OPTION_NOT_OPEN);
    EXPECT_EQ(request.SetOption(INTERNET_OPTION_SECURITY_FLAGS, 0), INET_E_OPTION_NOT_OPEN);

    InetSession session;
    InetConnection connection;
    EXPECT_EQ(connection.Open(session, INTERNET_SERVICE_HTTP, L"127.0.0.1", 80), E_INVALIDARG);
    EXPECT_EQ(request.Open(connection, L"GET", L"/", false), E_INVALIDARG);
    ASSERT_EQ(session.Open(L"test"), S_OK);
    EXPECT_EQ(connection.Open(session, INTERNET_SERVICE_HTTP, nullptr, 80), E_INVALIDARG);
    ASSERT_EQ(connection.Open(session, INTERNET_SERVICE_HTTP, L"127.0.0.1", 80), S_OK);
    EXPECT_EQ(request.Open(connection, L"GET", nullptr, false), E_INVALIDARG);
    ASSERT_EQ(request.Open(connection, L"GET", L"/", false), S_OK);
    EXPECT_EQ(request.AddHeader(nullptr, L"b"), E_INVALIDARG);
    EXPECT_EQ(request.AddHeader(L"A", static_cast<const wchar_t*>(nullptr)), E_INVALIDARG);
}

TEST(InetHandles, AttachAndDetach) {
    InetHandle handle;
    EXPECT_FALSE(handle.Attach(nullptr));
    EXPECT_FALSE(handle.Attach(reinterpret_cast<HINTERNET>(~std::uintptr_t{0})));
    HINTERNET session = InternetOpenW(L"test", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    EXPECT_TRUE(handle.Attach(session));
    EXPECT_EQ(handle.Detach(), session);
    EXPECT_FALSE(handle.IsOpen());
    EXPECT_TRUE(InternetCloseHandle(session)); // still open: Detach did not close it
}

// The Drive client's own requests: opened, headed and sent step by step.
class RequestTest : public EngineTest {
protected:
    void Open(const wchar_t* verb, const wchar_t* object) {
        Endpoint endpoint = Emulator();
        ASSERT_EQ(m_session.Open(L"test"), S_OK);
        ASSERT_EQ(m_connection.Open(m_session, INTERNET_SERVICE_HTTP, endpoint.host.c_str(),
                                    endpoint.port),
                  S_OK);
        ASSERT_EQ(m_request.Open(m_connection, verb, object, false), S_OK);
    }

    InetSession m_session;
    InetConnection m_connection;
    InetRequest m_request;
};

TEST_F(RequestTest, StreamedBodyAndSixtyFourBitHeader) {
    Open(L"PUT", L"/_test/echo/upload");
    ASSERT_EQ(m_request.AddHeader(L"X-Upload-Content-Length", std::int64_t{5000000000}), S_OK);
    const std::string part1 = "first part, ", part2 = "second part";
    ASSERT_EQ(m_request.SendEx(static_cast<DWORD>(part1.size() + part2.size())), S_OK);
    DWORD written = 0;
    ASSERT_EQ(m_request.Write(part1.data(), static_cast<DWORD>(part1.size()), &written), S_OK);
    EXPECT_EQ(written, part1.size());
    ASSERT_EQ(m_request.Write(part2.data(), static_cast<DWORD>(part2.size()), &written), S_OK);
    ASSERT_EQ(m_request.End(), S_OK);
    EXPECT_EQ(m_request.StatusToResult(), S_OK);

    std::wstring type;
    EXPECT_EQ(m_request.QueryHeader(HTTP_QUERY_CONTENT_TYPE, type), S_OK);
    EXPECT_THAT(type, ::testing::StartsWith(L"application/json"));

    std::vector<test::LoggedRequest> log = test::RequestLog();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].method, "PUT");
    EXPECT_EQ(log[0].headers["x-upload-content-length"], "5000000000");
    EXPECT_EQ(log[0].body, part1 + part2);
}

struct ProgressLog {
    std::vector<ULONGLONG> totals;
    ULONGLONG stopAt = 0;
};

HRESULT RecordProgress(ULONGLONG total, void* context) {
    auto* log = static_cast<ProgressLog*>(context);
    log->totals.push_back(total);
    return log->stopAt != 0 && total >= log->stopAt ? E_ABORT : S_OK;
}

TEST_F(RequestTest, ProgressSeesRunningTotals) {
    const size_t size = (2u << 20) + 5;
    Open(L"GET", (L"/_test/bytes/" + std::to_wstring(size)).c_str());
    ASSERT_EQ(m_request.Send(nullptr, nullptr, 0), S_OK);
    MemoryStream body;
    ProgressLog progress;
    ULONGLONG total = 0;
    ASSERT_EQ(m_request.ReadResponse(body, total, &RecordProgress, &progress), S_OK);
    EXPECT_EQ(total, size);
    EXPECT_EQ(body.GetSize(), size);
    EXPECT_TRUE(IsPattern(body.Data(), size));
    ASSERT_FALSE(progress.totals.empty());
    EXPECT_TRUE(std::is_sorted(progress.totals.begin(), progress.totals.end()));
    EXPECT_EQ(progress.totals.back(), size);
}

TEST_F(RequestTest, ProgressCanStopTheRead) {
    Open(L"GET", L"/_test/bytes/3000000");
    ASSERT_EQ(m_request.Send(nullptr, nullptr, 0), S_OK);
    MemoryStream body;
    ProgressLog progress;
    progress.stopAt = 1;
    ULONGLONG total = 0;
    EXPECT_EQ(m_request.ReadResponse(body, total, &RecordProgress, &progress), E_ABORT);
    EXPECT_THAT(progress.totals, ElementsAre(total));
    EXPECT_EQ(body.GetSize(), total);
}

// A body cut before its announced length never reads as complete.
TEST_F(RequestTest, BodyCutShortEndsWithAFailure) {
    test::AddFault(R"({"path": "/_test/bytes/", "drop_after_bytes": 1000})");
    Open(L"GET", L"/_test/bytes/5000");
    ASSERT_EQ(m_request.Send(nullptr, nullptr, 0), S_OK);
    MemoryStream body;
    ULONGLONG total = 0;
    EXPECT_TRUE(FAILED(m_request.ReadResponse(body, total)));
    EXPECT_LT(total, 5000u);
    EXPECT_EQ(body.GetSize(), total);
}

// A server that never answers ends the request instead of holding it.
TEST_F(RequestTest, ASilentServerEndsAsAFailure) {
    const DWORD previous = SetSocketTimeout(500);
    test::AddFault(R"({"path": "/_test/bytes/", "delay_ms": 3000})");
    Open(L"GET", L"/_test/bytes/5");
    HRESULT hr = m_request.Send(nullptr, nullptr, 0);
    SetSocketTimeout(previous);
    EXPECT_TRUE(FAILED(hr)) << std::hex << hr;
}

SIZE_T PeakWorkingSet() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof(counters);
    EXPECT_TRUE(GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters)));
    return counters.PeakWorkingSetSize;
}

// A server announcing gigabytes and sending five bytes gets room for what it
// sends, not for what it announced.
TEST_F(EngineTest, AnnouncedLengthReservesNoMemory) {
    test::AddFault(R"({"path": "/_test/bytes/5", "content_length": 3000000000})");
    MemoryStream response;
    HRESULT hr = HttpGetToStream(Emulator(), L"/_test/bytes/5", response);
    EXPECT_LE(response.GetSize(), 5u);
    EXPECT_TRUE(FAILED(hr) || response.GetSize() == 5u) << std::hex << hr;
    EXPECT_TRUE(IsPattern(response.Data(), response.GetSize()));
    EXPECT_LE(response.Capacity(), size_t{1} << 20);
    EXPECT_LT(PeakWorkingSet(), SIZE_T{200} << 20);
}

// A fixed buffer takes what fits; the rest stays for the next read.
TEST_F(RequestTest, FixedBufferReadsUntilFull) {
    Open(L"GET", L"/_test/bytes/25");
    ASSERT_EQ(m_request.Send(nullptr, nullptr, 0), S_OK);
    BYTE buffer[25] = {};
    BufferView first(buffer, 10);
    ULONGLONG total = 0;
    ASSERT_EQ(m_request.ReadResponse(first, total), S_OK);
    EXPECT_EQ(total, 10u);
    BufferView rest(buffer + 10, 15);
    ASSERT_EQ(m_request.ReadResponse(rest, total), S_OK);
    EXPECT_EQ(total, 15u);
    EXPECT_TRUE(IsPattern(buffer, 25));
}

} // namespace
} // namespace gd
