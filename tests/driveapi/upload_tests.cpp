#include "driveapi/account_requests.h"
#include "driveapi/drive_errors.h"
#include "driveapi/files.h"
#include "driveapi/upload.h"
#include "http/encoding.h"
#include "http/inet_handles.h"
#include "tests/driveapi/account_fixture.h"
#include "tests/driveapi/drive_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace gd {
namespace {

using test::AddFault;
using test::ContentSha256;
using test::ContentVersion;
using test::CreatePatternFile;
using test::DriveTest;
using test::EmulatorControl;
using test::PatternByte;
using test::RequestLog;
using test::SeedId;

TEST(WriteMetadataJson, WritesMembersByteForByte) {
    DriveFile parent{L"0AEmuAliceRootUk9PVA", nullptr};
    struct Case {
        const DriveFile* parent;
        std::wstring title, description, mime;
        std::string expected;
    } cases[] = {
        {&parent, L"a.pdf", L"", L"",
         R"({"title": "a.pdf","parents": [{"kind": "drive#parentReference","id": "0AEmuAliceRootUk9PVA","isRoot": false}]})"},
        {&parent, L"", L"", L"",
         R"({"parents": [{"kind": "drive#parentReference","id": "0AEmuAliceRootUk9PVA","isRoot": false}]})"},
        {nullptr, L"", L"", L"application/pdf", R"({"mimeType": "application/pdf"})"},
        {nullptr, L"", L"d", L"m", R"({"description": "d","mimeType": "m"})"},
        {nullptr, L"Report \"Q3\" \\ \t\x01", L"", L"",
         R"({"title": "Report \"Q3\" \\ \t\u0001"})"},
        {nullptr, L"\u00dcber \u6771\u4eac \U0001F600", L"", L"",
         "{\"title\": \"\xc3\x9c"
         "ber \xe6\x9d\xb1\xe4\xba\xac \xf0\x9f\x98\x80\"}"},
    };
    for (const Case& c : cases) {
        std::string body;
        ASSERT_EQ(WriteMetadataJson(c.parent, c.title, c.description, c.mime, body), S_OK);
        EXPECT_EQ(body, c.expected);
    }
    std::string body = "unchanged";
    EXPECT_EQ(WriteMetadataJson(nullptr, L"", L"", L"", body), static_cast<HRESULT>(0x82220001));
    EXPECT_EQ(body, "unchanged");
}

TEST_F(DriveTest, CreateFileMetadataSendsTheBodyAndReadsTheNewEntry) {
    DriveFile parent{SeedId("1aliceProjects"), nullptr};
    std::wstring title = L"Q\"3\" \u00dcberblick \U0001F600.pdf";
    std::shared_ptr<DriveFile> file;
    ASSERT_EQ(CreateFileMetadata(m_token, &parent, title, L"notes", L"application/pdf", file),
              S_OK);
    ASSERT_TRUE(file && file->item);
    EXPECT_FALSE(file->id.empty());
    EXPECT_EQ(file->item->title, title);
    EXPECT_EQ(file->item->parent_id, parent.id);
    EXPECT_EQ(file->item->description, L"notes");

    auto log = RequestLog();
    ASSERT_EQ(log.size(), 1u);
    std::string expected;
    ASSERT_EQ(WriteMetadataJson(&parent, title, L"notes", L"application/pdf", expected), S_OK);
    EXPECT_EQ(log[0].method, "POST");
    EXPECT_EQ(log[0].path, "/drive/v2/files");
    EXPECT_EQ(log[0].body, expected);
    EXPECT_EQ(log[0].headers["content-length"], std::to_string(expected.size()));
    EXPECT_EQ(log[0].headers["content-type"], "application/json; charset=UTF-8");

    DriveFile missing{SeedId("1aliceNoSuchFolder"), nullptr};
    EXPECT_EQ(CreateFileMetadata(m_token, &missing, L"x", L"", L"", file), DRIVE_E_NOT_FOUND);
    AddFault(R"({"path": "/drive/v2/files", "method": "POST", "status": 200, "body": "<html>"})");
    EXPECT_EQ(CreateFileMetadata(m_token, nullptr, L"x", L"", L"", file), DRIVE_E_PARSE_ERROR);
    AddFault(R"({"path": "/drive/v2/files", "method": "POST", "status": 403,
                 "reason": "insufficientFilePermissions"})");
    EXPECT_EQ(CreateFileMetadata(m_token, nullptr, L"x", L"", L"", file),
              DRIVE_E_INSUFFICIENT_PERMISSIONS);
}

class UploadTest : public DriveTest {
protected:
    // Writes size pattern bytes in chunks of chunk bytes.
    static HRESULT WritePattern(DriveUploadWriter& writer, long long size, DWORD chunk) {
        std::vector<BYTE> buffer(chunk);
        for (long long done = 0; done < size;) {
            DWORD count = static_cast<DWORD>(std::min<long long>(chunk, size - done));
            for (DWORD i = 0; i < count; ++i)
                buffer[i] = PatternByte(done + i);
            DWORD written = 0;
            HRESULT hr = writer.Write(buffer.data(), count, &written);
            if (FAILED(hr))
                return hr;
            done += written;
        }
        return S_OK;
    }
    // Uploads size pattern bytes in chunks of chunk bytes.
    HRESULT Upload(const std::wstring& id, long long size, DWORD chunk) {
        std::unique_ptr<DriveUploadWriter> writer;
        HRESULT hr = OpenUpload(RunWithToken(m_token), DriveFile{id, nullptr}, size, writer);
        if (FAILED(hr))
            return hr;
        hr = WritePattern(*writer, size, chunk);
        return FAILED(hr) ? hr : writer->Finish();
    }
};

TEST_F(UploadTest, ContentArrivesByteForByte) {
    for (long long size : {0LL, 5LL * 1024 * 1024 + 17}) {
        size_t mark = RequestLog().size();
        std::wstring target = SeedId("1aliceWelcome");
        std::wstring reference = CreatePatternFile(size);
        ASSERT_EQ(Upload(target, size, 64 * 1024 + 3), S_OK) << size;
        EXPECT_EQ(ContentSha256(target), ContentSha256(reference)) << size;

        auto log = test::RequestLogFrom(mark);
        ASSERT_EQ(log.size(), 2u);
        EXPECT_EQ(log[0].method, "PUT");
        EXPECT_EQ(log[0].path,
                  "/upload/drive/v2/files/" + ToUtf8(target) + "?uploadType=resumable");
        EXPECT_EQ(log[0].headers["x-upload-content-length"], std::to_string(size));
        EXPECT_EQ(log[0].headers["x-upload-content-type"], "application/octet-stream");
        EXPECT_EQ(log[0].headers["content-length"], "0");
        EXPECT_EQ(log[1].method, "PUT");
        EXPECT_NE(log[1].path.find("upload_id="), std::string::npos);
        EXPECT_EQ(log[1].headers["content-length"], std::to_string(size));
        EXPECT_EQ(log[1].headers["authorization"], "Bearer " + ToUtf8(m_token));
    }
}

TEST_F(UploadTest, SizesBeyond4GiBAreAnnouncedWhole) {
    std::wstring sessionUrl;
    ASSERT_EQ(StartResumableUpload(m_token, DriveFile{SeedId("1aliceWelcome"), nullptr}, 5LL << 30,
                                   sessionUrl),
              S_OK);
    EXPECT_NE(sessionUrl.find(L"upload_id="), std::wstring::npos);
    EXPECT_EQ(RequestLog().back().headers["x-upload-content-length"], "5368709120");
}

TEST_F(UploadTest, TheSessionUrlKeepsItsOwnHostAndPort) {
    // Sessions on another loopback name of the emulator: the content goes there.
    EmulatorControl(L"POST", L"/_emu/drive", R"({"session_base": "http://localhost:{http}"})");
    std::wstring target = SeedId("1aliceWelcome");
    ASSERT_EQ(Upload(target, 1000, 300), S_OK);
    EXPECT_EQ(ContentSha256(target), ContentSha256(CreatePatternFile(1000)));
    EXPECT_NE(RequestLog().back().headers["host"].find("localhost"), std::string::npos);
}

TEST_F(UploadTest, SessionUrlsOffTheMachineOrInClearTextAreRefused) {
    test::ServerAddress address = test::EmulatorAddress("http");
    std::wstring port = std::to_wstring(address.port);
    const std::wstring refused[] = {
        L"http://upload.example.com/upload?upload_id=1",
        L"ftp://127.0.0.1:" + port + L"/upload",
        L"http://10.0.0.1:" + port + L"/upload",
        L"http://0127.0.0.1:" + port + L"/upload", // octal: 87.0.0.1
        L"not a url",
        L"",
    };
    for (const std::wstring& url : refused) {
        std::unique_ptr<DriveUploadWriter> writer;
        EXPECT_EQ(BeginContentUpload(m_token, url, 10, writer), E_INVALIDARG) << ToUtf8(url);
        EXPECT_FALSE(writer);
    }
    std::wstring local = L"http://127.0.0.1:" + port + L"/upload/drive/v2/files/x";
    SetEnvironmentVariableW(L"DRIVE_EMULATOR_HOST", nullptr);
    std::unique_ptr<DriveUploadWriter> writer;
    EXPECT_EQ(BeginContentUpload(m_token, local, 10, writer), E_INVALIDARG);
    EXPECT_TRUE(RequestLog().empty());
}

TEST_F(UploadTest, ShortOrOverlongContentNeverCommits) {
    std::wstring target = SeedId("1aliceWelcome");
    std::string before = ContentSha256(target);
    std::unique_ptr<DriveUploadWriter> writer;
    ASSERT_EQ(OpenUpload(RunWithToken(m_token), DriveFile{target, nullptr}, 100, writer), S_OK);
    BYTE data[120] = {};
    DWORD written = 0;
    EXPECT_EQ(writer->Write(data, 120, &written), static_cast<HRESULT>(0x82220001));
    ASSERT_EQ(writer->Write(data, 60, &written), S_OK);
    EXPECT_TRUE(FAILED(writer->Finish()));
    writer.reset();
    EXPECT_EQ(ContentSha256(target), before);

    // Dropped halfway without a commit.
    ASSERT_EQ(OpenUpload(RunWithToken(m_token), DriveFile{target, nullptr}, 100, writer), S_OK);
    ASSERT_EQ(writer->Write(data, 60, &written), S_OK);
    writer.reset();
    // The next request must not complete the abandoned body.
    EXPECT_EQ(ContentSha256(target), before);
    std::shared_ptr<DriveFile> after;
    ASSERT_EQ(GetFile(m_token, target, after), S_OK);
    EXPECT_EQ(ContentSha256(target), before);

    DriveFile folder{SeedId("1aliceProjects"), nullptr};
    EXPECT_TRUE(FAILED(OpenUpload(RunWithToken(m_token), folder, 10, writer)));
    EXPECT_EQ(OpenUpload(RunWithToken(m_token), DriveFile{L"x/../y", nullptr}, 10, writer),
              static_cast<HRESULT>(0x82220001));
}

TEST_F(UploadTest, AWriterDroppedAfterItsLastByteLeavesTheFileAsItWas) {
    std::wstring target = SeedId("1aliceWelcome");
    const std::string sha = ContentSha256(target), version = ContentVersion(target);
    for (long long size : {0LL, 1LL, 70000LL}) {
        size_t mark = RequestLog().size();
        std::unique_ptr<DriveUploadWriter> writer;
        ASSERT_EQ(OpenUpload(RunWithToken(m_token), DriveFile{target, nullptr}, size, writer),
                  S_OK);
        ASSERT_EQ(WritePattern(*writer, size, 4096), S_OK) << size;
        EXPECT_EQ(writer->Written(), size);
        writer.reset();
        // Drive commits the moment the last byte arrives: give it the time to.
        for (int i = 0; i < 10 && ContentVersion(target) == version; ++i)
            Sleep(50);
        EXPECT_EQ(ContentVersion(target), version) << size;
        EXPECT_EQ(ContentSha256(target), sha) << size;
        if (size == 0) { // the content request itself would commit
            EXPECT_EQ(test::RequestLogFrom(mark).size(), 1u);
        }
    }

    // Finishing sends what was held back.
    for (long long size : {0LL, 70000LL}) {
        std::string previous = ContentVersion(target);
        ASSERT_EQ(Upload(target, size, 4096), S_OK) << size;
        EXPECT_EQ(ContentSha256(target), ContentSha256(CreatePatternFile(size))) << size;
        EXPECT_NE(ContentVersion(target), previous) << size;
    }
}

// Three chunks: two full ones and the rest with the last byte.
constexpr long long kChunked = 2LL * kUploadChunk + 4 * 1024 * 1024 + 17;
// Long enough for any socket operation on loopback, short enough for a test
// that waits it out.
constexpr DWORD kTestSocketTimeout = 3000;

// The Content-Range of bytes first..last of kChunked; without bytes, the
// status query's.
std::string ChunkedRange(long long first = -1, long long last = -1) {
    std::string range = "bytes ";
    if (first < 0) {
        range += "*";
    } else {
        range += std::to_string(first);
        range += "-";
        range += std::to_string(last);
    }
    range += "/";
    range += std::to_string(kChunked);
    return range;
}

// Writes the pattern through an account's upload in 1 MiB pieces; before the
// piece that begins stage's chunk, arm() scripts that chunk's trouble.
template <class Arm>
HRESULT UploadInChunks(const std::shared_ptr<DriveAccount>& account, const std::wstring& id,
                       int stage, Arm&& arm) {
    std::unique_ptr<DriveUploadWriter> writer;
    DriveFile file{id, nullptr};
    RETURN_IF_FAILED(OpenAccountUpload(account, &file, kChunked, writer));
    std::vector<BYTE> piece(1 << 20);
    for (long long done = 0; done < kChunked;) {
        if (done == stage * static_cast<long long>(kUploadChunk))
            arm();
        DWORD count = static_cast<DWORD>(std::min<long long>(piece.size(), kChunked - done));
        for (DWORD i = 0; i < count; ++i)
            piece[i] = PatternByte(done + i);
        DWORD written = 0;
        RETURN_IF_FAILED(writer->Write(piece.data(), count, &written));
        done += written;
    }
    return writer->Finish();
}

class ChunkedUploadTest : public test::AccountTest {
protected:
    void SetUp() override {
        AccountTest::SetUp();
        m_previous_timeout = SetSocketTimeout(kTestSocketTimeout);
    }
    void TearDown() override {
        SetSocketTimeout(m_previous_timeout);
        AccountTest::TearDown();
    }

    DWORD m_previous_timeout = 0;
};

TEST_F(ChunkedUploadTest, EveryBreakResumesFromWhatDriveKept) {
    const std::string expected = ContentSha256(CreatePatternFile(kChunked));
    const long long c1 = kUploadChunk, c2 = 2LL * kUploadChunk, end = kChunked - 1;
    const std::string first = ChunkedRange(0, c1 - 1), middle = ChunkedRange(c1, c2 - 1),
                      last = ChunkedRange(c2, end);
    const std::string ask = ChunkedRange();
    struct Case {
        const char* name;
        int stage;                       // the chunk it strikes
        std::string fault;               // of the content requests; empty: none
        const char* settings;            // of Drive; null: none
        std::vector<std::string> ranges; // the content requests' Content-Range
        size_t waits;
    } cases[] = {
        {"nothing goes wrong", 0, "", nullptr, {first, middle, last}, 0},
        {"dropped in the first chunk",
         0,
         R"("drop_request_after_bytes": 1000000)",
         nullptr,
         {first, ask, ChunkedRange(1000000, c1 - 1), middle, last},
         0},
        {"dropped in a middle chunk",
         1,
         R"("drop_request_after_bytes": 3000000)",
         nullptr,
         {first, middle, ask, ChunkedRange(c1 + 3000000, c2 - 1), last},
         0},
        {"dropped in the last chunk",
         2,
         R"("drop_request_after_bytes": 1000000)",
         nullptr,
         {first, middle, last, ask, ChunkedRange(c2 + 1000000, end)},
         0},
        // Drive committed at the last byte: the status query hears so.
        {"dropped after the last byte",
         2,
         R"("drop_request_after_bytes": )" + std::to_string(kChunked - c2),
         nullptr,
         {first, middle, last, ask},
         0},
        {"a 503 on a chunk",
         1,
         R"("status": 503, "reason": "backendError")",
         nullptr,
         {first, middle, ask, middle, last},
         1},
        // Nothing of the stalled chunk arrives before the socket times out.
        {"a chunk that stalls",
         1,
         R"("delay_ms": )" + std::to_string(3 * kTestSocketTimeout),
         nullptr,
         {first, middle, ask, middle, last},
         0},
        {"fewer bytes kept than sent",
         1,
         "",
         R"({"forget_upload_bytes": 100000})",
         {first, middle, ChunkedRange(c2 - 100000, c2 - 1), last},
         0},
    };
    for (const Case& c : cases) {
        // The log holds the head of every chunk: keep it to one case.
        test::ResetEmulator();
        auto account = SignedIn();
        std::wstring id = CreatePatternFile(10);
        m_clock.sleeps.clear();
        const std::string session =
            "/upload/drive/v2/files/" + ToUtf8(id) + "?uploadType=resumable&upload_id=";
        HRESULT hr = UploadInChunks(account, id, c.stage, [&] {
            if (!c.fault.empty())
                AddFault(R"({"path": ")" + session + R"(", "method": "PUT", )" + c.fault + "}");
            if (c.settings)
                EmulatorControl(L"POST", L"/_emu/drive", c.settings);
        });
        EXPECT_EQ(hr, S_OK) << c.name;
        EXPECT_EQ(ContentSha256(id), expected) << c.name;
        std::vector<std::string> ranges;
        for (const auto& request : RequestLog())
            if (request.path.rfind(session, 0) == 0)
                ranges.push_back(request.headers.at("content-range"));
        EXPECT_EQ(ranges, c.ranges) << c.name;
        EXPECT_EQ(m_clock.sleeps.size(), c.waits) << c.name;
    }
}

TEST_F(ChunkedUploadTest, ChunksNameTheirBytesAndTheLastWaitsForFinish) {
    auto account = SignedIn();
    std::wstring id = CreatePatternFile(10);
    const std::string before = ContentSha256(id);
    std::unique_ptr<DriveUploadWriter> writer;
    DriveFile file{id, nullptr};
    ASSERT_EQ(OpenAccountUpload(account, &file, kChunked, writer), S_OK);
    const size_t mark = RequestLog().size();
    std::vector<BYTE> all(static_cast<size_t>(kChunked));
    for (size_t i = 0; i < all.size(); ++i)
        all[i] = PatternByte(static_cast<long long>(i));
    DWORD written = 0;
    ASSERT_EQ(writer->Write(all.data(), static_cast<DWORD>(all.size()), &written), S_OK);
    EXPECT_EQ(written, all.size());
    std::vector<std::string> ranges;
    for (const auto& request : test::RequestLogFrom(mark))
        if (request.path.find("upload_id=") != std::string::npos)
            ranges.push_back(request.headers.at("content-range"));
    EXPECT_EQ(ranges, (std::vector<std::string>{ChunkedRange(0, 8388607),
                                                ChunkedRange(8388608, 16777215)}));
    // Everything written, nothing committed until Finish.
    EXPECT_EQ(ContentSha256(id), before);
    ASSERT_EQ(writer->Finish(), S_OK);
    EXPECT_EQ(ContentSha256(id), ContentSha256(CreatePatternFile(kChunked)));
}

} // namespace
} // namespace gd
