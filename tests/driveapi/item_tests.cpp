#include "driveapi/drive_item.h"

#include <gtest/gtest.h>

#include <string>

namespace gd {
namespace {

DriveItem Parse(const char* json) {
    rapidjson::Document document;
    document.Parse(json);
    DriveItem item;
    EXPECT_EQ(ParseFileResource(document, &item), S_OK) << json;
    return item;
}

TEST(ParseFileResource, ReadsABinaryFile) {
    DriveItem item = Parse(R"({
        "id": "1aliceWelcome", "title": "Bericht \u00fcber \ud83d\ude00.pdf",
        "mimeType": "application/pdf", "fileSize": "5368709120",
        "modifiedDate": "2024-03-01T10:00:00.000Z", "createdDate": "2024-03-01T09:00:00.000Z",
        "ownerNames": ["Alice Emulator", "Bob"],
        "parents": [{"id": "0AEmuAliceRoot", "isRoot": true}, {"id": "second", "isRoot": false}],
        "downloadUrl": "https://x/download", "alternateLink": "https://drive.google.com/a",
        "webContentLink": "https://drive.google.com/w", "labels": {"trashed": false}})");
    EXPECT_EQ(item.title, L"Bericht \u00fcber \U0001F600.pdf");
    EXPECT_FALSE(item.is_folder);
    EXPECT_EQ(item.file_size, 5368709120LL);
    ULARGE_INTEGER modified{{item.modified.dwLowDateTime, item.modified.dwHighDateTime}};
    ULARGE_INTEGER created{{item.created.dwLowDateTime, item.created.dwHighDateTime}};
    EXPECT_EQ(modified.QuadPart - created.QuadPart, 3600ULL * 10000000ULL);
    EXPECT_EQ(item.owner_names, L"Alice Emulator,Bob");
    EXPECT_TRUE(item.parent_is_root);
    EXPECT_EQ(item.parent_id, L"0AEmuAliceRoot");
    EXPECT_EQ(item.download_url, L"https://x/download");
    EXPECT_EQ(item.alternate_link, L"https://drive.google.com/a");
    EXPECT_EQ(item.web_content_link, L"https://drive.google.com/w");
    EXPECT_TRUE(item.pdf_export_link.empty());
    EXPECT_FALSE(item.trashed);
}

TEST(ParseFileResource, ReadsADocsDocumentThroughItsPdfLink) {
    DriveItem item = Parse(R"({"title": "Meeting notes",
        "mimeType": "application/vnd.google-apps.document",
        "exportLinks": {"text/plain": "https://docs.google.com/t",
                        "application/pdf": "https://docs.google.com/p"},
        "labels": {"trashed": true}, "parents": [{"id": "p", "isRoot": "true"}]})");
    EXPECT_EQ(item.file_size, 0);
    EXPECT_EQ(item.pdf_export_link, L"https://docs.google.com/p");
    EXPECT_TRUE(item.download_url.empty());
    EXPECT_TRUE(item.trashed);
    EXPECT_FALSE(item.parent_is_root); // only the literal true counts
    EXPECT_EQ(item.parent_id, L"p");
}

TEST(ParseFileResource, FolderTypeInAnyCaseAndOddMembers) {
    struct Case {
        const char* json;
        bool folder;
        long long size;
    } cases[] = {
        {R"({"mimeType": "application/vnd.google-apps.folder"})", true, 0},
        {R"({"mimeType": "Application/VND.Google-Apps.FOLDER"})", true, 0},
        {R"({"mimeType": "application/vnd.google-apps.folder2"})", false, 0},
        {R"({"mimeType": 5, "fileSize": 12})", false, 0},
        {R"({"fileSize": "12x"})", false, 0},
        {R"({"fileSize": "-"})", false, 0},
        {R"({"fileSize": "592"})", false, 592},
        {R"({})", false, 0},
    };
    for (const Case& c : cases) {
        DriveItem item = Parse(c.json);
        EXPECT_EQ(item.is_folder, c.folder) << c.json;
        EXPECT_EQ(item.file_size, c.size) << c.json;
    }
}

TEST(ParseFileResource, KeepsTheCallersDescriptionAndRefusesNoItem) {
    rapidjson::Document document;
    document.Parse(R"({"id": "abc", "title": "t", "description": "from the service"})");
    DriveFile file;
    ASSERT_EQ(FillDriveFile(document, file), S_OK);
    ASSERT_TRUE(file.item);
    EXPECT_EQ(file.id, L"abc");
    EXPECT_TRUE(file.item->description.empty());
    EXPECT_EQ(ParseFileResource(document, nullptr), static_cast<HRESULT>(0x82220001));
}

} // namespace
} // namespace gd
