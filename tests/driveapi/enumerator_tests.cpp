#include "driveapi/account_requests.h"
#include "driveapi/drive_errors.h"
#include "tests/driveapi/account_fixture.h"
#include "driveapi/files.h"
#include "http/encoding.h"
#include "tests/driveapi/drive_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace gd {
namespace {

using test::AccountTest;
using test::EmulatorControl;
using test::SeedId;

std::vector<std::wstring> Drain(FolderEnumerator& enumerator, HRESULT& last) {
    std::vector<std::wstring> titles;
    std::shared_ptr<DriveFile> entry;
    while ((last = enumerator.Next(entry)) == S_OK)
        titles.push_back(entry->item->title);
    EXPECT_FALSE(entry);
    return titles;
}

TEST_F(AccountTest, EnumeratorListsOnceAcrossRetriedPages) {
    EmulatorControl(L"POST", L"/_emu/drive", R"({"page_cap": 3})");
    test::AddFault(R"({"path": "/drive/v2/files?", "status": 503, "count": 1})");
    FolderEnumerator enumerator(
        SignedIn(), std::make_shared<DriveFile>(DriveFile{SeedId("1alicePaging"), nullptr}));
    HRESULT last = S_OK;
    auto titles = Drain(enumerator, last);
    EXPECT_EQ(last, S_FALSE);
    ASSERT_EQ(titles.size(), 7u);
    EXPECT_EQ(titles.front(), L"Page 1.pdf");
    EXPECT_EQ(titles.back(), L"Page 7.pdf");
    EXPECT_EQ(m_clock.sleeps.size(), 1u);
}

TEST_F(AccountTest, EnumeratorAsksForAPageOnlyOnceThePageBeforeIsHandedOut) {
    EmulatorControl(L"POST", L"/_emu/drive", R"({"page_cap": 3})");
    FolderEnumerator enumerator(
        SignedIn(), std::make_shared<DriveFile>(DriveFile{SeedId("1alicePaging"), nullptr}));
    auto pages = [] {
        auto log = test::RequestLog();
        return std::count_if(log.begin(), log.end(), [](const test::LoggedRequest& request) {
            return request.path.rfind("/drive/v2/files", 0) == 0;
        });
    };
    std::shared_ptr<DriveFile> entry;
    // Seven entries in pages of three.
    const std::vector<long> asked = {1, 1, 1, 2, 2, 2, 3};
    for (long expected : asked) {
        ASSERT_EQ(enumerator.Next(entry), S_OK);
        EXPECT_EQ(pages(), expected) << ToUtf8(entry->item->title);
    }
    EXPECT_EQ(enumerator.Next(entry), S_FALSE);
    EXPECT_EQ(pages(), 3);
}

TEST_F(AccountTest, EnumeratorResetFetchesAgain) {
    auto folder = std::make_shared<DriveFile>(DriveFile{SeedId("1aliceProjects"), nullptr});
    FolderEnumerator enumerator(SignedIn(), folder);
    std::shared_ptr<DriveFile> entry;
    ASSERT_EQ(enumerator.Next(entry), S_OK);
    EmulatorControl(L"POST", L"/_emu/files",
                    R"({"title": "New.pdf", "size": 10, "parent": ")" + ToUtf8(folder->id) +
                        R"("})");
    ASSERT_EQ(enumerator.Reset(), S_OK);
    HRESULT last = S_OK;
    EXPECT_EQ(Drain(enumerator, last),
              (std::vector<std::wstring>{L"2024", L"Design notes.pdf", L"New.pdf"}));
}

TEST_F(AccountTest, EnumeratorFailureIsReportedOnceThenTheEnd) {
    test::AddFault(R"({"path": "/drive/v2/files/?", "status": 404, "reason": "notFound"})");
    FolderEnumerator missing(SignedIn(),
                             std::make_shared<DriveFile>(DriveFile{SeedId("1aliceGone"), nullptr}));
    std::shared_ptr<DriveFile> entry;
    EXPECT_EQ(missing.Next(entry), DRIVE_E_NOT_FOUND);
    EXPECT_EQ(missing.Next(entry), S_FALSE);

    FolderEnumerator root(SignedIn(), nullptr);
    HRESULT last = S_OK;
    auto titles = Drain(root, last);
    EXPECT_EQ(last, S_FALSE);
    EXPECT_NE(std::find(titles.begin(), titles.end(), L"Welcome.pdf"), titles.end());

    FolderEnumerator orphan(nullptr, nullptr);
    EXPECT_EQ(orphan.Next(entry), GD_E_MISSING);
}

TEST_F(AccountTest, AccountReaderAndUploadTakeTheAccountsToken) {
    auto account = SignedIn();
    std::wstring id = test::CreatePatternFile(300);
    std::shared_ptr<DriveFile> file;
    ASSERT_EQ(
        AccountRunner(account)([&](const std::wstring& token) { return GetFile(token, id, file); }),
        S_OK);
    std::unique_ptr<DriveReader> reader;
    ASSERT_EQ(OpenAccountReader(account, file, reader), S_OK);
    BYTE bytes[300];
    DWORD read = 0;
    ASSERT_EQ(reader->Read(bytes, 300, &read), S_OK);
    EXPECT_EQ(read, 300u);
    EXPECT_EQ(bytes[299], test::PatternByte(299));

    std::unique_ptr<DriveUploadWriter> writer;
    ASSERT_EQ(OpenAccountUpload(account, file.get(), 300, writer), S_OK);
    ASSERT_EQ(writer->Write(bytes, 300, &read), S_OK);
    EXPECT_EQ(writer->Finish(), S_OK);
    EXPECT_EQ(test::ContentSha256(id), test::ContentSha256(test::CreatePatternFile(300)));
}

} // namespace
} // namespace gd
