#include "driveapi/account_requests.h"
#include "driveapi/files.h"
#include "drivefs/drive_stream.h"
#include "drivefs/fs_errors.h"
#include "http/encoding.h"
#include "tests/drivefs/fs_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <thread>

namespace gd {
namespace {

using test::FsTest;
using test::Pattern;
using test::SeedId;

constexpr DWORD kRead = Lumo::AFS_Open_Read | Lumo::AFS_Open_OpenExisting;
constexpr HRESULT kEndOfFile = HRESULT_FROM_WIN32(ERROR_HANDLE_EOF);

std::vector<BYTE> ReadAt(Lumo::IAfsFileHandle* handle, LONGLONG at, ULONG count,
                         HRESULT expected = S_OK) {
    LONGLONG position = -1;
    EXPECT_EQ(handle->Seek(at, Lumo::AFS_Seek_Begin, &position), S_OK);
    EXPECT_EQ(position, at);
    std::vector<BYTE> bytes(count);
    ULONG read = 0;
    EXPECT_EQ(handle->Read(bytes.data(), count, &read, nullptr, nullptr), expected);
    bytes.resize(read);
    return bytes;
}

// The way a PDF viewer opens a document: the end first, blocks spread over
// the file, then all of it in order.
TEST_F(FsTest, ReadsAFileTheWayAViewerDoes) {
    const size_t size = 3 * 1024 * 1024 + 123;
    std::wstring id = test::CreatePatternFile(size);
    ComPtr<Lumo::IAfsFileHandle> handle = Open(Link(id), kRead);
    ASSERT_TRUE(handle);
    LONGLONG total = 0;
    ASSERT_EQ(handle->GetSize(&total, nullptr, nullptr), S_OK);
    EXPECT_EQ(total, static_cast<LONGLONG>(size));
    EXPECT_EQ(ReadAt(handle.Get(), total - 1024, 1024), Pattern(size - 1024, 1024));
    unsigned seed = 12345;
    for (int i = 0; i < 32; ++i) {
        seed = seed * 1103515245u + 12345u;
        size_t at = (seed >> 8) % (size - 65536);
        EXPECT_EQ(ReadAt(handle.Get(), static_cast<LONGLONG>(at), 65536), Pattern(at, 65536));
    }
    ASSERT_EQ(ReadAt(handle.Get(), 0, 1).size(), 1u);
    std::vector<BYTE> rest = ReadToEnd(handle.Get(), 65536);
    EXPECT_EQ(rest.size(), size - 1);
    EXPECT_TRUE(rest == Pattern(1, size - 1));
}

TEST_F(FsTest, ReadsAtAndPastTheEnd) {
    std::wstring id = test::CreatePatternFile(5000);
    ComPtr<Lumo::IAfsFileHandle> handle = Open(Link(id), kRead);
    ASSERT_TRUE(handle);
    // A read that reaches the end gives what there is, with S_FALSE.
    EXPECT_EQ(ReadAt(handle.Get(), 4000, 4096, S_FALSE), Pattern(4000, 1000));
    // At the end: nothing, end of file.
    EXPECT_TRUE(ReadAt(handle.Get(), 5000, 10, kEndOfFile).empty());
    // Seeks stay within 0 and the size.
    LONGLONG position = -1;
    EXPECT_EQ(handle->Seek(-10, Lumo::AFS_Seek_Begin, &position), S_OK);
    EXPECT_EQ(position, 0);
    EXPECT_EQ(handle->Seek(5, Lumo::AFS_Seek_End, &position), S_OK);
    EXPECT_EQ(position, 5000);
    EXPECT_EQ(handle->Seek(-100, Lumo::AFS_Seek_Current, &position), S_OK);
    EXPECT_EQ(position, 4900);
    EXPECT_EQ(handle->Seek(0, 7, &position), GD_E_INVALID_ARG);
    EXPECT_EQ(handle->Seek(0, Lumo::AFS_Seek_Begin, nullptr), E_POINTER);
}

TEST_F(FsTest, ABackwardSeekReadsFromANewRangeOnTheSameConnectionAndAForwardOneDownloadsNothing) {
    std::wstring id = test::CreatePatternFile(1 << 20);
    ComPtr<Lumo::IAfsFileHandle> handle = Open(Link(id), kRead);
    ASSERT_TRUE(handle);
    EXPECT_EQ(ReadAt(handle.Get(), 0, 4096), Pattern(0, 4096));
    EXPECT_EQ(ReadAt(handle.Get(), 0, 4096), Pattern(0, 4096));
    EXPECT_EQ(ReadAt(handle.Get(), 900000, 100), Pattern(900000, 100));
    EXPECT_EQ(ReadAt(handle.Get(), 100, 100), Pattern(100, 100));
    std::vector<std::string> ranges;
    std::set<int> connections;
    for (const auto& request : test::RequestLog()) {
        if (request.path.find("alt=media") == std::string::npos)
            continue;
        ranges.push_back(request.headers.at("range"));
        connections.insert(request.client_port);
    }
    ASSERT_EQ(ranges.size(), 4u);
    EXPECT_EQ(ranges[0].rfind("bytes=0-", 0), 0u);
    EXPECT_EQ(ranges[1].rfind("bytes=0-", 0), 0u);
    EXPECT_EQ(ranges[2].rfind("bytes=900000-", 0), 0u);
    EXPECT_EQ(ranges[3].rfind("bytes=100-", 0), 0u);
    // Over a real network a new connection costs its handshakes.
    EXPECT_EQ(connections.size(), 1u);
}

size_t MediaRequestsFrom(size_t mark) {
    size_t count = 0;
    for (const auto& request : test::RequestLogFrom(mark))
        count += request.path.find("alt=media") != std::string::npos;
    return count;
}

TEST_F(FsTest, SizesAndSeeksAnswerFromTheFetchedItemUntilAWrite) {
    std::wstring id = test::CreatePatternFile(5000);
    ComPtr<Lumo::IAfsFileHandle> handle = Open(Link(id), kRead | Lumo::AFS_Open_Write);
    ASSERT_TRUE(handle);
    const size_t mark = test::RequestLog().size();
    LONGLONG size = 0, position = -1;
    for (int i = 0; i < 10; ++i) {
        ASSERT_EQ(handle->GetSize(&size, nullptr, nullptr), S_OK);
        EXPECT_EQ(size, 5000);
        ASSERT_EQ(handle->Seek(-100 * i, Lumo::AFS_Seek_End, &position), S_OK);
        EXPECT_EQ(ReadAt(handle.Get(), position, 10, i == 0 ? kEndOfFile : S_OK),
                  Pattern(static_cast<size_t>(position), i == 0 ? 0 : 10));
    }
    size_t metadata = 0;
    for (const auto& request : test::RequestLogFrom(mark))
        metadata += request.path.rfind("/drive/v2/files/", 0) == 0;
    EXPECT_EQ(metadata, 1u);
    // A write changes the content: the size is asked for again.
    ASSERT_EQ(WritePattern(handle.Get(), 10), S_OK);
    ASSERT_EQ(handle->GetSize(&size, nullptr, nullptr), S_OK);
    EXPECT_EQ(size, 10);
    EXPECT_EQ(ReadAt(handle.Get(), 0, 100, S_FALSE), Pattern(0, 10));
}

TEST_F(FsTest, SequentialReadsShareOneOpenRangeThatSurvivesACut) {
    const size_t size = 100 * 65536 + 5;
    std::wstring id = test::CreatePatternFile(size);
    ComPtr<Lumo::IAfsFileHandle> handle = Open(Link(id), kRead);
    ASSERT_TRUE(handle);
    const size_t mark = test::RequestLog().size();
    EXPECT_EQ(ReadToEnd(handle.Get(), 65536), Pattern(0, size));
    // The first read asks for its bytes; the rest follow in one range.
    EXPECT_EQ(MediaRequestsFrom(mark), 2u);

    // An open range cut off: that read goes the plain way, the next opens anew.
    const size_t cut = test::RequestLog().size();
    EXPECT_EQ(ReadAt(handle.Get(), 0, 65536), Pattern(0, 65536));
    test::AddFault(R"({"path": "/drive/v3/files/)" + ToUtf8(id) +
                   R"(", "drop_after_bytes": 100000})");
    EXPECT_EQ(ReadToEnd(handle.Get(), 65536), Pattern(65536, size - 65536));
    EXPECT_EQ(MediaRequestsFrom(cut), 4u);
}

// Every read of a random pattern through the stream answers what a plain
// range reader positioned there answers: bytes, count and code.
TEST_F(FsTest, ReadsAnswerAsThePlainRangeReaderDoes) {
    const std::int64_t size = 700001;
    std::wstring id = test::CreatePatternFile(size);
    std::shared_ptr<DriveFile> file;
    ASSERT_EQ(
        RunWithRetry(*m_alice, [&](const std::wstring& token) { return GetFile(token, id, file); }),
        S_OK);
    std::shared_ptr<DriveStream> stream;
    ASSERT_EQ(DriveStream::Create(file, m_alice, &stream), S_OK);
    const DWORD counts[] = {1, 100, 4096, 65536, 65537, 300000};
    unsigned seed = 777;
    auto next = [&seed](unsigned range) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 8) % range;
    };
    std::int64_t end = 0;
    for (int i = 0; i < 150; ++i) {
        std::int64_t at = end; // sequential half the time
        switch (next(8)) {
        case 0:
            at = size - next(2000);
            break;
        case 1:
            at = end > 0 ? next(static_cast<unsigned>(end)) : 0;
            break;
        case 2:
            at = next(static_cast<unsigned>(size));
            break;
        case 3:
            at = std::min<std::int64_t>(size, end + next(5000));
            break;
        default:
            break;
        }
        DWORD count = counts[next(6)];
        std::vector<BYTE> got(count), expected(count);
        DWORD read = 0, plain = 0;
        HRESULT hr = stream->ReadAt(at, got.data(), count, &read, nullptr);

        std::unique_ptr<DriveReader> reader;
        ASSERT_EQ(OpenAccountReader(m_alice, file, reader), S_OK);
        ULONGLONG skipped = 0;
        ASSERT_EQ(reader->Skip(static_cast<ULONGLONG>(at), &skipped), S_OK);
        HRESULT plainHr = reader->Read(expected.data(), count, &plain);
        if (SUCCEEDED(plainHr) && plain == 0)
            plainHr = kEndOfFile;
        ASSERT_EQ(hr, plainHr) << i << " at " << at << " count " << count;
        ASSERT_EQ(read, plain) << i << " at " << at << " count " << count;
        got.resize(read);
        expected.resize(plain);
        ASSERT_TRUE(got == expected) << i << " at " << at;
        end = at + read;
    }
}

TEST_F(FsTest, AGoogleDocumentReadsAsItsPdfExport) {
    std::wstring id = SeedId("1aliceMeetingDoc");
    ComPtr<Lumo::IAfsFileHandle> handle = Open(Link(id), kRead);
    ASSERT_TRUE(handle);
    LONGLONG size = 0;
    ASSERT_EQ(handle->GetSize(&size, nullptr, nullptr), S_OK);
    std::vector<BYTE> bytes = ReadToEnd(handle.Get(), 100);
    EXPECT_EQ(static_cast<LONGLONG>(bytes.size()), size);
    std::string text(bytes.begin(), bytes.end());
    EXPECT_EQ(text.rfind("%PDF-", 0), 0u);
    EXPECT_NE(text.find("%%EOF"), std::string::npos);
    // Backward again: from the copy, not exported anew.
    EXPECT_EQ(ReadAt(handle.Get(), 0, 5), std::vector<BYTE>(bytes.begin(), bytes.begin() + 5));
    size_t exports = 0;
    for (const auto& request : test::RequestLog())
        exports += request.path.find("export") != std::string::npos;
    EXPECT_EQ(exports, 1u);
    // The listing's information of a document says size 0, not a folder.
    ComPtr<Lumo::IAfsFileInfo> info;
    ComPtr<Lumo::IAfsName> name = Resolve(Link(id));
    ASSERT_EQ(m_fs->GetFileInfo(name.Get(), nullptr, nullptr, info.Put()), S_OK);
    LONGLONG listed = -1;
    DWORD attributes = 1;
    EXPECT_EQ(info->get_Size(&listed), S_OK);
    EXPECT_EQ(info->get_Attributes(&attributes), S_OK);
    EXPECT_EQ(listed, 0);
    EXPECT_EQ(attributes, 0u);
}

TEST_F(FsTest, AnExportLargerThanDriveExportsFails) {
    // Drive refuses exports over 10 MB; a server that sends more is cut off.
    test::AddFault(R"({"path": "/feeds/download/documents/export", "status": 200,
                       "body": ")" +
                   std::string(11 * 1024 * 1024, 'x') + R"("})");
    ComPtr<Lumo::IAfsFileHandle> handle = Open(Link(SeedId("1aliceMeetingDoc")), kRead);
    ASSERT_TRUE(handle);
    BYTE byte = 0;
    ULONG read = 0;
    EXPECT_EQ(handle->Read(&byte, 1, &read, nullptr, nullptr), DRIVEFS_E_EXPORT_TOO_LARGE);
    EXPECT_EQ(read, 0u);
}

TEST_F(FsTest, DuplicatedHandlesShareTheStreamAcrossThreads) {
    const size_t size = 600000;
    std::wstring id = test::CreatePatternFile(size);
    ComPtr<Lumo::IAfsFileHandle> first = Open(Link(id), kRead);
    ASSERT_TRUE(first);
    ReadAt(first.Get(), 1000, 10);
    ComPtr<Lumo::IAfsFileHandle> second;
    ASSERT_EQ(first->Duplicate(second.Put()), S_OK);
    LONGLONG position = -1;
    EXPECT_EQ(second->get_Position(&position), S_OK);
    EXPECT_EQ(position, 0);
    long same = 0;
    EXPECT_EQ(first->IsSameFile(second.Get(), &same), S_OK);
    EXPECT_EQ(same, Lumo::AFS_True);
    first->Seek(0, Lumo::AFS_Seek_Begin, &position);
    std::vector<BYTE> one, two;
    std::thread a([&] { one = ReadToEnd(first.Get(), 4093); });
    std::thread b([&] { two = ReadToEnd(second.Get(), 65536); });
    a.join();
    b.join();
    EXPECT_TRUE(one == Pattern(0, size));
    EXPECT_TRUE(two == Pattern(0, size));
}

TEST_F(FsTest, AHandleKeepsToItsAccess) {
    std::wstring id = test::CreatePatternFile(100);
    ComPtr<Lumo::IAfsFileHandle> reader = Open(Link(id), kRead);
    ASSERT_TRUE(reader);
    BYTE byte = 0;
    ULONG count = 7;
    EXPECT_EQ(reader->Write(&byte, 1, &count, nullptr, nullptr), DRIVEFS_E_OUT_OF_ORDER);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(reader->SetSize(1, nullptr, nullptr), DRIVEFS_E_OUT_OF_ORDER);
    EXPECT_EQ(reader->BeginWrite(nullptr, nullptr), DRIVEFS_E_OUT_OF_ORDER);
    ComPtr<Lumo::IAfsFileHandle> writer =
        Open(Link(id), Lumo::AFS_Open_Write | Lumo::AFS_Open_OpenExisting);
    ASSERT_TRUE(writer);
    EXPECT_EQ(writer->Read(&byte, 1, &count, nullptr, nullptr), DRIVEFS_E_NOT_READABLE);
    ComPtr<Lumo::IAfsFileHandle> copy;
    EXPECT_EQ(writer->Duplicate(copy.Put()), DRIVEFS_E_ACCESS_MODE);
    // The title, in any letter case; other properties are unknown.
    Variant title;
    EXPECT_EQ(reader->GetProperty(L"title", title.Put()), S_OK);
    ASSERT_EQ(V_VT(&title.Get()), VT_BSTR);
    EXPECT_EQ(std::wstring(V_BSTR(&title.Get())), L"pattern.bin");
    EXPECT_EQ(reader->GetProperty(L"Name", title.Put()), GD_E_INVALID_ARG);
    DWORD flags = 0;
    EXPECT_EQ(reader->get_AccessFlags(&flags), S_OK);
    EXPECT_EQ(flags, kRead);
    // Reopened for writing, the same handle writes.
    EXPECT_EQ(reader->Reopen(Lumo::AFS_Open_Write, nullptr, nullptr), S_OK);
    EXPECT_EQ(reader->get_AccessFlags(&flags), S_OK);
    EXPECT_EQ(flags, Lumo::AFS_Open_Write | Lumo::AFS_Open_OpenExisting);
    EXPECT_EQ(WritePattern(reader.Get(), 10), S_OK);
    EXPECT_EQ(test::ContentSha256(id), test::ContentSha256(test::CreatePatternFile(10)));
}

} // namespace
} // namespace gd
