#include "drivefs/fs_errors.h"
#include "http/encoding.h"
#include "tests/drivefs/fs_fixture.h"

#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <algorithm>
#include <thread>

namespace gd {
namespace {

using test::CancelAfter;
using test::EmulatorControl;
using test::FsTest;
using test::SeedId;

constexpr DWORD kCreateNew = Lumo::AFS_Open_Write | Lumo::AFS_Open_CreateNew;
constexpr DWORD kOverwrite = Lumo::AFS_Open_Write | Lumo::AFS_Open_OpenExisting;

struct Entry {
    std::wstring title;
    DWORD attributes;
    LONGLONG size;
};

std::vector<Entry> List(DriveFileSystem& fs, Lumo::IAfsName* folder) {
    std::vector<Entry> entries;
    ComPtr<Lumo::IAfsEnumFolder> enumerator;
    EXPECT_EQ(fs.EnumFolder(folder, nullptr, nullptr, enumerator.Put()), S_OK);
    ComPtr<Lumo::IAfsFileInfo> item;
    HRESULT hr;
    while ((hr = enumerator->Next(item.Put())) == S_OK) {
        Entry entry{};
        Bstr title;
        EXPECT_EQ(item->get_Title(title.Put()), S_OK);
        entry.title = title.Text();
        EXPECT_EQ(item->get_Attributes(&entry.attributes), S_OK);
        EXPECT_EQ(item->get_Size(&entry.size), S_OK);
        ComPtr<Lumo::IAfsName> name;
        EXPECT_EQ(item->get_Name(name.Put()), S_OK);
        ComPtr<Lumo::IAfsName> parent;
        EXPECT_EQ(fs.NameGetParent(name.Get(), parent.Put()), S_OK);
        EXPECT_EQ(parent.Get(), folder);
        entries.push_back(entry);
    }
    EXPECT_EQ(hr, S_FALSE);
    return entries;
}

// The parent the emulator keeps for a file.
std::string ParentOf(const std::wstring& id) {
    rapidjson::Document files;
    files.Parse(test::EmulatorControl(L"GET", L"/_emu/files").c_str());
    for (const auto& file : files["files"].GetArray()) {
        if (FromUtf8(file["id"].GetString()) == id)
            return file["parent"].GetString();
    }
    return {};
}

TEST_F(FsTest, AnswersItsPropertiesAndIdentity) {
    Bstr name;
    EXPECT_EQ(m_fs->get_DisplayName(name.Put()), S_OK);
    EXPECT_STREQ(name.Text(), L"Google Drive File System");
    DWORD capabilities = 0;
    EXPECT_EQ(m_fs->get_Capabilities(&capabilities), S_OK);
    EXPECT_EQ(capabilities, 0x300027FFu);
    for (const wchar_t* property : {L"CheckedOut", L"checkedout"}) {
        Bstr key;
        key.Assign(property);
        Variant value;
        EXPECT_EQ(m_fs->GetProperty(key.Get(), value.Put()), S_OK);
        EXPECT_EQ(V_VT(&value.Get()), VT_BOOL);
        EXPECT_EQ(V_BOOL(&value.Get()), VARIANT_FALSE);
    }
    Bstr other, clientId;
    other.Assign(L"ClientID");
    Variant value;
    EXPECT_EQ(m_fs->GetProperty(other.Get(), value.Put()), GD_E_INVALID_ARG);
    VARIANT number;
    VariantInit(&number);
    V_VT(&number) = VT_I4;
    V_I4(&number) = 42;
    EXPECT_EQ(m_fs->SetProperty(other.Get(), number), GD_E_INVALID_ARG);
    clientId.Assign(L"Colour");
    EXPECT_EQ(m_fs->SetProperty(clientId.Get(), number), E_NOTIMPL);
    EXPECT_EQ(m_fs->Reserved1(), E_NOTIMPL);
    EXPECT_EQ(m_fs->Reserved14(), E_NOTIMPL);
}

TEST_F(FsTest, ListsAFolderPageByPage) {
    EmulatorControl(L"POST", L"/_emu/drive", R"({"page_cap": 3})");
    ComPtr<Lumo::IAfsName> paging = Resolve(Link(SeedId("1alicePaging")));
    std::vector<Entry> entries = List(*m_fs.Get(), paging.Get());
    ASSERT_EQ(entries.size(), 7u);
    for (size_t i = 0; i < entries.size(); ++i) {
        EXPECT_EQ(entries[i].title, L"Page " + std::to_wstring(i + 1) + L".pdf");
        EXPECT_EQ(entries[i].attributes, 0u);
        EXPECT_EQ(entries[i].size, 587);
    }
    size_t pages = 0;
    for (const auto& request : test::RequestLog())
        pages += request.path.find("maxResults=") != std::string::npos;
    EXPECT_EQ(pages, 3u);
}

TEST_F(FsTest, ListsMyDriveWithFoldersMarked) {
    ComPtr<Lumo::IAfsName> root = Resolve(L"https://drive.google.com");
    std::vector<Entry> entries = List(*m_fs.Get(), root.Get());
    std::vector<std::wstring> titles;
    for (const Entry& entry : entries)
        titles.push_back(entry.title);
    EXPECT_EQ(titles.front(), L"Projects");
    EXPECT_EQ(entries.front().attributes, Lumo::AFS_Attribute_Folder);
    EXPECT_EQ(std::count(titles.begin(), titles.end(), L"Trashed folder"), 0);
    EXPECT_EQ(std::count(titles.begin(), titles.end(), L"Meeting notes"), 1);
    // The root itself is a folder without any request for its item.
    const size_t mark = test::RequestLog().size();
    ComPtr<Lumo::IAfsFileInfo> info;
    ASSERT_EQ(m_fs->GetFileInfo(root.Get(), nullptr, nullptr, info.Put()), S_OK);
    DWORD attributes = 0;
    EXPECT_EQ(info->get_Attributes(&attributes), S_OK);
    EXPECT_EQ(attributes, Lumo::AFS_Attribute_Folder);
    EXPECT_TRUE(test::RequestLogFrom(mark).empty());
}

// A name by titles tells of the file they lead to; of the file it would
// make while there is none.
TEST_F(FsTest, InformationOfANameByTitlesIsThatOfItsFile) {
    const struct {
        std::wstring text;
        std::wstring title;
        LONGLONG size;
    } cases[] = {
        {L"gd://drive.google.com/googledriveidroot/Projects/2024/budget 2024.pdf",
         L"Budget 2024.pdf", 592},
        {L"gd://drive.google.com/googledriveidroot/Projects/New.pdf", L"New.pdf", 0},
    };
    for (const auto& c : cases) {
        ComPtr<Lumo::IAfsName> name = Resolve(c.text);
        ComPtr<Lumo::IAfsFileInfo> info;
        ASSERT_EQ(m_fs->GetFileInfo(name.Get(), nullptr, nullptr, info.Put()), S_OK);
        Bstr title;
        LONGLONG size = -1;
        EXPECT_EQ(info->get_Title(title.Put()), S_OK);
        EXPECT_EQ(info->get_Size(&size), S_OK);
        EXPECT_EQ(title.Text(), c.title);
        EXPECT_EQ(size, c.size);
    }
}

TEST_F(FsTest, SavesNewFilesInAFolderAndInMyDrive) {
    const std::wstring projects = SeedId("1aliceProjects");
    const struct {
        std::wstring text;
        std::string parent;
    } cases[] = {
        {L"gd://drive.google.com/googledriveid" + projects + L"/Saved.pdf", ToUtf8(projects)},
        {L"gd://drive.google.com/googledriveidroot/Projects/2024/Saved.pdf",
         ToUtf8(SeedId("1alice2024"))},
        {L"gd://drive.google.com/googledriveidroot/Saved in root.pdf", "0AEmuAliceRootUk9PVA"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(ToUtf8(c.text));
        ComPtr<Lumo::IAfsName> name = Resolve(c.text);
        ComPtr<Lumo::IAfsFileHandle> handle;
        ASSERT_EQ(m_fs->Open(name.Get(), kCreateNew, nullptr, nullptr, handle.Put()), S_OK);
        ASSERT_EQ(WritePattern(handle.Get(), 300000, 100000), S_OK);
        std::wstring link = Text(name.Get());
        ASSERT_EQ(link.rfind(L"https://drive.google.com/open?id=", 0), 0u);
        std::wstring id = link.substr(link.find(L"id=") + 3);
        EXPECT_EQ(test::ContentSha256(id), test::ContentSha256(test::CreatePatternFile(300000)));
        EXPECT_EQ(ParentOf(id), c.parent);
        // The same name again: it exists now.
        ComPtr<Lumo::IAfsName> again = Resolve(c.text);
        EXPECT_EQ(m_fs->Open(again.Get(), kCreateNew, nullptr, nullptr, handle.Put()),
                  DRIVEFS_E_FILE_EXISTS);
    }
}

TEST_F(FsTest, OverwritesAnExistingFileOrNothing) {
    std::wstring id = test::CreatePatternFile(1000);
    ComPtr<Lumo::IAfsFileHandle> handle = Open(Link(id), kOverwrite);
    ASSERT_TRUE(handle);
    ASSERT_EQ(WritePattern(handle.Get(), 2000), S_OK);
    EXPECT_EQ(test::ContentSha256(id), test::ContentSha256(test::CreatePatternFile(2000)));
    ComPtr<Lumo::IAfsName> missing =
        Resolve(L"gd://drive.google.com/googledriveidroot/Not there.pdf");
    EXPECT_EQ(m_fs->Open(missing.Get(), kOverwrite, nullptr, nullptr, handle.Put()),
              DRIVEFS_E_FILE_NOT_FOUND);
    EXPECT_EQ(m_fs->Open(missing.Get(), Lumo::AFS_Open_Read | Lumo::AFS_Open_CreateAlways, nullptr,
                         nullptr, handle.Put()),
              GD_E_INVALID_ARG);
    EXPECT_EQ(
        m_fs->Open(missing.Get(), Lumo::AFS_Open_Write | 0x3C, nullptr, nullptr, handle.Put()),
        GD_E_INVALID_ARG);
    // No entry was made for any of them.
    EXPECT_EQ(EmulatorControl(L"GET", L"/_emu/files").find("Not there"), std::string::npos);
}

TEST_F(FsTest, WritesAreAllOrNothing) {
    std::wstring id = test::CreatePatternFile(1000);
    const std::string before = test::ContentSha256(id);
    std::vector<BYTE> bytes = test::Pattern(0, 600);
    ULONG written = 0;
    {
        // Begin without an announced size, a write past it, a short commit.
        ComPtr<Lumo::IAfsFileHandle> handle = Open(Link(id), kOverwrite);
        ASSERT_TRUE(handle);
        EXPECT_EQ(handle->BeginWrite(nullptr, nullptr), DRIVEFS_E_OUT_OF_ORDER);
        EXPECT_EQ(handle->Commit(nullptr, nullptr), DRIVEFS_E_OUT_OF_ORDER);
        ASSERT_EQ(handle->SetSize(500, nullptr, nullptr), S_OK);
        ASSERT_EQ(handle->BeginWrite(nullptr, nullptr), S_OK);
        EXPECT_TRUE(FAILED(handle->Write(bytes.data(), 600, &written, nullptr, nullptr)));
        EXPECT_EQ(handle->Write(bytes.data(), 400, &written, nullptr, nullptr), S_OK);
        // While writing, the size is the announced one, without asking Drive.
        const size_t mark = test::RequestLog().size();
        LONGLONG size = 0;
        EXPECT_EQ(handle->GetSize(&size, nullptr, nullptr), S_OK);
        EXPECT_EQ(size, 500);
        EXPECT_TRUE(test::RequestLogFrom(mark).empty());
        // Out of order: the handle moved, the upload did not.
        LONGLONG position = 0;
        handle->Seek(10, Lumo::AFS_Seek_Begin, &position);
        EXPECT_EQ(handle->Write(bytes.data(), 10, &written, nullptr, nullptr),
                  DRIVEFS_E_OUT_OF_ORDER);
        EXPECT_TRUE(FAILED(handle->Commit(nullptr, nullptr)));
    }
    {
        // Dropped half-way.
        ComPtr<Lumo::IAfsFileHandle> handle = Open(Link(id), kOverwrite);
        ASSERT_TRUE(handle);
        ASSERT_EQ(handle->SetSize(600, nullptr, nullptr), S_OK);
        ASSERT_EQ(handle->BeginWrite(nullptr, nullptr), S_OK);
        EXPECT_EQ(handle->Write(bytes.data(), 300, &written, nullptr, nullptr), S_OK);
    }
    EXPECT_EQ(test::ContentSha256(id), before);
}

// A cancel at any call changes nothing and gives the cancellation.
TEST_F(FsTest, ACancelAtAnyCallStopsIt) {
    std::wstring id = test::CreatePatternFile(1000);
    const std::string before = test::ContentSha256(id);
    ComPtr<CancelAfter> cancel;
    MakeObject(&cancel, 0);
    Bstr text;
    text.Assign(Link(id).c_str());
    ComPtr<Lumo::IAfsName> name;
    EXPECT_EQ(m_fs->ResolveName(text.Get(), 0, nullptr, nullptr, cancel.Get(), name.Put()),
              GD_E_CANCELLED);
    name = Resolve(Link(id));
    ComPtr<Lumo::IAfsFileHandle> handle;
    EXPECT_EQ(m_fs->Open(name.Get(), kOverwrite, nullptr, cancel.Get(), handle.Put()),
              GD_E_CANCELLED);
    ASSERT_EQ(
        m_fs->Open(name.Get(), kOverwrite | Lumo::AFS_Open_Read, nullptr, nullptr, handle.Put()),
        S_OK);
    std::vector<BYTE> bytes = test::Pattern(0, 1000);
    ULONG count = 0;
    LONGLONG size = 0;
    EXPECT_EQ(handle->SetSize(1000, nullptr, cancel.Get()), GD_E_CANCELLED);
    ASSERT_EQ(handle->SetSize(1000, nullptr, nullptr), S_OK);
    EXPECT_EQ(handle->BeginWrite(nullptr, cancel.Get()), GD_E_CANCELLED);
    ASSERT_EQ(handle->BeginWrite(nullptr, nullptr), S_OK);
    EXPECT_EQ(handle->Write(bytes.data(), 1000, &count, nullptr, cancel.Get()), GD_E_CANCELLED);
    EXPECT_EQ(count, 0u);
    ASSERT_EQ(handle->Write(bytes.data(), 1000, &count, nullptr, nullptr), S_OK);
    EXPECT_EQ(handle->GetSize(&size, nullptr, cancel.Get()), GD_E_CANCELLED);
    EXPECT_EQ(handle->Commit(nullptr, cancel.Get()), GD_E_CANCELLED);
    EXPECT_EQ(handle->Read(bytes.data(), 10, &count, nullptr, cancel.Get()), GD_E_CANCELLED);
    EXPECT_EQ(handle->Reopen(0, nullptr, cancel.Get()), GD_E_CANCELLED);
    handle.Reset();
    EXPECT_EQ(test::ContentSha256(id), before);
}

TEST_F(FsTest, KeepsOneObjectPerThread) {
    ComPtr<CancelAfter> one, two;
    MakeObject(&one, 0);
    MakeObject(&two, 0);
    ComPtr<IUnknown> got;
    EXPECT_EQ(m_fs->GetThreadObject(0, got.Put()), S_FALSE);
    EXPECT_EQ(m_fs->SetThreadObject(nullptr), S_FALSE);
    EXPECT_EQ(m_fs->SetThreadObject(one.Get()), S_OK);
    EXPECT_EQ(m_fs->SetThreadObject(two.Get()), S_OK);
    EXPECT_EQ(m_fs->GetThreadObject(GetCurrentThreadId(), got.Put()), S_OK);
    EXPECT_EQ(got.Get(), static_cast<IUnknown*>(two.Get()));
    std::thread([&] {
        ComPtr<IUnknown> other;
        EXPECT_EQ(m_fs->GetThreadObject(0, other.Put()), S_FALSE);
    }).join();
    EXPECT_EQ(m_fs->SetThreadObject(nullptr), S_OK);
    EXPECT_EQ(m_fs->GetThreadObject(0, got.Put()), S_FALSE);
}

} // namespace
} // namespace gd
