#include "driveapi/drive_errors.h"
#include "driveapi/files.h"
#include "http/encoding.h"
#include "http/one_shot.h"
#include "tests/driveapi/drive_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

namespace gd {
namespace {

using test::DriveTest;
using test::EmulatorControl;
using test::RequestLog;
using test::SeedId;

std::vector<std::wstring> Titles(const DriveListing& listing) {
    std::vector<std::wstring> titles;
    for (const auto& file : listing.files)
        titles.push_back(file->item->title);
    return titles;
}

TEST_F(DriveTest, GetFileReadsTheResourceAndMapsUnknownIds) {
    std::shared_ptr<DriveFile> file;
    ASSERT_EQ(GetFile(m_token, SeedId("1aliceBudget2024"), file), S_OK);
    EXPECT_EQ(file->id, SeedId("1aliceBudget2024"));
    EXPECT_EQ(file->item->title, L"Budget 2024.pdf");
    EXPECT_EQ(file->item->file_size, 592);
    EXPECT_EQ(file->item->parent_id, SeedId("1alice2024"));

    ASSERT_EQ(GetFile(m_token, SeedId("1aliceQuoted"), file), S_OK);
    EXPECT_EQ(file->item->title, L"Report \"Q3\" \u2013 \u00dcberblick \u6771\u4eac.pdf");

    std::shared_ptr<DriveFile> none;
    EXPECT_EQ(GetFile(m_token, SeedId("1aliceNoSuchFile"), none), DRIVE_E_NOT_FOUND);
    EXPECT_EQ(GetFile(m_token, SeedId("1bobWelcome"), none), DRIVE_E_NOT_FOUND); // Bob's
    EXPECT_FALSE(none);
}

TEST_F(DriveTest, ListingFollowsNextLinksOnTheApiHost) {
    EmulatorControl(L"POST", L"/_emu/drive",
                    R"({"page_cap": 3, "next_link_base": "http://127.0.0.1:1"})");
    DriveFile folder{SeedId("1alicePaging"), nullptr};
    DriveListing listing;
    ASSERT_EQ(ListChildren(m_token, listing, &folder), S_OK);
    std::vector<std::wstring> expected;
    for (int i = 1; i <= 7; ++i)
        expected.push_back(L"Page " + std::to_wstring(i) + L".pdf");
    EXPECT_EQ(Titles(listing), expected);

    auto log = RequestLog();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0].path, "/drive/v2/files/?corpus=DEFAULT&maxResults=1000&q='" +
                               ToUtf8(SeedId("1alicePaging")) + "'+in+parents");
    for (size_t i = 1; i < 3; ++i) {
        EXPECT_EQ(log[i].path.rfind("/drive/v2/files", 0), 0u) << log[i].path;
        EXPECT_EQ(log[i].headers["host"], log[0].headers["host"]);
        EXPECT_NE(log[i].path.find("pageToken="), std::string::npos) << log[i].path;
        EXPECT_EQ(log[i].headers["authorization"], "Bearer " + ToUtf8(m_token));
    }
}

TEST_F(DriveTest, ListingSkipsTrashedEntries) {
    DriveFile projects{SeedId("1aliceProjects"), nullptr};
    DriveListing listing;
    ASSERT_EQ(ListChildren(m_token, listing, &projects), S_OK);
    EXPECT_EQ(Titles(listing), (std::vector<std::wstring>{L"2024", L"Design notes.pdf"}));
    EXPECT_TRUE(listing.files[0]->item->is_folder);

    DriveListing root;
    ASSERT_EQ(ListChildren(m_token, root, nullptr), S_OK);
    auto titles = Titles(root);
    EXPECT_EQ(std::count(titles.begin(), titles.end(), L"Trashed folder"), 0);
    EXPECT_EQ(std::count(titles.begin(), titles.end(), L"Meeting notes"), 1);
    EXPECT_NE(RequestLog().back().path.find("q='root'+in+parents"), std::string::npos);

    DriveFile empty{SeedId("1aliceEmpty"), nullptr};
    DriveListing none;
    EXPECT_EQ(ListChildren(m_token, none, &empty), S_OK);
    EXPECT_TRUE(none.files.empty());
}

TEST_F(DriveTest, ListingPagesThatAreNotListsEndIt) {
    EmulatorControl(L"POST", L"/_emu/drive", R"({"page_cap": 3})");
    test::AddFault(R"({"path": "/drive/v2/files/?corpus", "body": "{\"kind\": \"drive#fileList\"}",
                       "status": 200, "count": 1})");
    DriveFile folder{SeedId("1alicePaging"), nullptr};
    DriveListing listing;
    EXPECT_EQ(ListChildren(m_token, listing, &folder), DRIVE_E_PARSE_ERROR);

    test::ResetEmulator();
    test::AddFault(R"({"path": "/drive/v2/files/", "status": 200, "body": "{not json"})");
    EXPECT_EQ(ListChildren(IssueToken(), listing, &folder), DRIVE_E_PARSE_ERROR);

    test::AddFault(R"({"path": "/drive/v2/files/", "status": 403, "reason": "rateLimitExceeded"})");
    EXPECT_EQ(ListChildren(IssueToken(), listing, &folder), DRIVE_E_RATE_LIMIT);
}

TEST_F(DriveTest, AListingPageCutShortIsACutConnection) {
    EmulatorControl(L"POST", L"/_emu/drive", R"({"page_cap": 3})");
    test::AddFault(R"({"path": "/drive/v2/files?", "drop_after_bytes": 200})");
    DriveFile folder{SeedId("1alicePaging"), nullptr};
    DriveListing listing;
    EXPECT_EQ(ListChildren(m_token, listing, &folder), INET_E_BODY_CUT_OFF);
}

TEST_F(DriveTest, AListingEndsWhenANextLinkComesAgain) {
    // The second page names itself five times over before the listing goes on.
    EmulatorControl(L"POST", L"/_emu/drive", R"({"page_cap": 3, "repeat_next_link": 5})");
    DriveFile folder{SeedId("1alicePaging"), nullptr};
    DriveListing listing;
    EXPECT_EQ(ListChildren(m_token, listing, &folder), GD_E_UNEXPECTED);
    auto log = RequestLog();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_NE(log[1].path.find("pageToken="), std::string::npos);
}

TEST_F(DriveTest, CraftedIdsNeverReachTheWire) {
    struct Case {
        const wchar_t* id;
        HRESULT expected;
    } cases[] = {
        {L"../../oauth2/v2/userinfo", GD_E_INVALID_ARG},
        {L"abc?alt=media", GD_E_INVALID_ARG},
        {L"abc&q=x", GD_E_INVALID_ARG},
        {L"abc def", GD_E_INVALID_ARG},
        {L"abc%2F", GD_E_INVALID_ARG},
        {L"abc'+or+'x", GD_E_INVALID_ARG},
        {L"\u00e4bc", GD_E_INVALID_ARG},
        {L"", GD_E_MISSING},
    };
    for (const Case& c : cases) {
        std::shared_ptr<DriveFile> file;
        EXPECT_EQ(GetFile(m_token, c.id, file), c.expected);
        DriveFile folder{c.id, nullptr};
        DriveListing listing;
        EXPECT_EQ(ListChildren(m_token, listing, &folder), c.expected);
    }
    EXPECT_TRUE(RequestLog().empty());
}

} // namespace
} // namespace gd
