#include "drivefs/fs_errors.h"
#include "drivefs/name_text.h"
#include "http/encoding.h"
#include "tests/drivefs/fs_fixture.h"

#include <gtest/gtest.h>

namespace gd {
namespace {

using test::FsTest;
using test::SeedId;

const std::wstring kBudget = SeedId("1aliceBudget2024");
const std::wstring kProjects = SeedId("1aliceProjects");

// Every text form, resolved through the file system and printed back.
TEST_F(FsTest, ResolvesEveryTextForm) {
    struct Case {
        std::wstring text;
        std::wstring printed; // empty: refused with 0x82220001
    } cases[] = {
        {L"https://drive.google.com/file/d/" + kBudget + L"/view", Link(kBudget)},
        {L"https://drive.google.com/open?id=" + kBudget + L"&usp=sharing", Link(kBudget)},
        // "ouid=" is not "id=": the path decides.
        {L"https://drive.google.com/file/d/" + kBudget + L"/view?ouid=123", Link(kBudget)},
        {L"https://drive.google.com/open?ouid=1&id=" + kBudget, Link(kBudget)},
        {L"https://DOCS.google.com/file/d/" + kBudget,
         L"https://DOCS.google.com/open?id=" + kBudget},
        {L"https://drive.google.com", L"https://drive.google.com"},
        {L"https://drive.google.com/", L"https://drive.google.com"},
        {L"gd://drive.google.com/googledriveidroot/new.pdf",
         L"gd://drive.google.com/googledriveidroot/new.pdf"},
        {L"gd://drive.google.com/googledriveid" + kProjects + L"/a/b.pdf",
         L"gd://drive.google.com/googledriveid" + kProjects + L"/a/b.pdf"},
        {L"gd://drive.google.com/googledriveid" + kBudget, Link(kBudget)},
        {L"C:\\Users\\me\\GOOGLEDRIVEID" + kProjects + L"\\New.pdf",
         L"gd://drive.google.com/googledriveid" + kProjects + L"/New.pdf"},
        {L"gd://drive.google.com/file/d/x/googledriveidroot/n.pdf",
         L"gd://drive.google.com/googledriveidroot/n.pdf"},
        {L"", L""},
        {L"https://drive.google.com/open?ouid=123", L""},
        {L"https://drive.google.com/drive/folders", L""},
        {L"https://drive.google.com/file/d//view", L""},
        {L"https://example.com/file/d/" + kBudget + L"/view", L""},
        {L"https://drive.google.com/open?id=a/../../drive/v2/files",
         L"https://drive.google.com/open?id=a"},
        {L"https://drive.google.com/open?id=a%2F..%2Fx", L""},
        {L"https://drive.google.com/open?id=ab?alt=media", L""},
        {L"gd://drive.google.com/googledriveidab.cd/x.pdf", L""},
        {L"C:\\Users\\me\\doc.pdf", L""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(ToUtf8(c.text));
        ComPtr<Lumo::IAfsName> name;
        HRESULT hr = TryResolve(c.text, &name);
        if (c.printed.empty()) {
            EXPECT_EQ(hr, GD_E_INVALID_ARG);
            EXPECT_FALSE(name);
            continue;
        }
        ASSERT_EQ(hr, S_OK);
        EXPECT_EQ(Text(name.Get()), c.printed);
    }
    // Nothing was asked of Drive: resolving only makes names.
    EXPECT_TRUE(test::RequestLog().empty());
}

TEST_F(FsTest, RecognisesDriveNameTexts) {
    const std::pair<const wchar_t*, bool> cases[] = {
        {L"gd://drive.google.com/x", true},
        {L"gd://anyhost", true},
        {L"gd://", false},
        {L"https://drive.google.com/x", true},
        {L"http://Docs.Google.com", true},
        {L"https://example.com/file/d/x", false},
        {L"C:\\googledriveidx\\y.pdf", false},
        {L"drive.google.com/open?id=x", false},
    };
    for (const auto& [text, recognised] : cases) {
        Bstr value;
        value.Assign(text);
        ComPtr<Lumo::IAfsName> name;
        EXPECT_EQ(m_fs->ParseName(value.Get(), Lumo::AFS_Parse_TestOnly, nullptr, name.Put()),
                  recognised ? S_OK : GD_E_INVALID_ARG)
            << ToUtf8(text);
        EXPECT_FALSE(name);
    }
    Bstr none;
    EXPECT_EQ(m_fs->ParseName(none.Get(), Lumo::AFS_Parse_TestOnly, nullptr, nullptr),
              GD_E_INVALID_ARG);
}

TEST_F(FsTest, ParsesAgainstABaseNameOfItsOwn) {
    ComPtr<Lumo::IAfsName> base = Resolve(Link(kProjects));
    Bstr text;
    text.Assign((L"https://drive.google.com/open?id=" + kBudget).c_str());
    ComPtr<Lumo::IAfsName> name;
    ASSERT_EQ(m_fs->ParseName(text.Get(), 0, base.Get(), name.Put()), S_OK);
    EXPECT_EQ(Text(name.Get()), Link(kBudget));
    EXPECT_EQ(m_fs->ParseName(text.Get(), 0, nullptr, name.Put()), GD_E_INVALID_ARG);
}

TEST_F(FsTest, ComparesNamesAndWalksParents) {
    ComPtr<Lumo::IAfsName> one = Resolve(Link(kBudget));
    ComPtr<Lumo::IAfsName> two = Resolve(L"https://drive.google.com/file/d/" + kBudget);
    ComPtr<Lumo::IAfsName> other = Resolve(Link(kProjects));
    ComPtr<Lumo::IAfsName> root = Resolve(L"https://drive.google.com");
    ComPtr<Lumo::IAfsName> newOne = Resolve(L"gd://drive.google.com/googledriveidroot/a.pdf");
    ComPtr<Lumo::IAfsName> newTwo = Resolve(L"gd://drive.google.com/googledriveidroot/b.pdf");
    const struct {
        Lumo::IAfsName* first;
        Lumo::IAfsName* second;
        long expected;
    } cases[] = {
        {one.Get(), two.Get(), Lumo::AFS_True},        {one.Get(), one.Get(), Lumo::AFS_True},
        {one.Get(), other.Get(), Lumo::AFS_False},     {root.Get(), root.Get(), Lumo::AFS_False},
        {one.Get(), root.Get(), Lumo::AFS_False},      {root.Get(), one.Get(), Lumo::AFS_False},
        {newOne.Get(), newTwo.Get(), Lumo::AFS_False},
    };
    for (const auto& c : cases) {
        long result = -1;
        EXPECT_EQ(m_fs->CompareNames(c.first, c.second, &result), S_OK);
        EXPECT_EQ(result, c.expected);
    }
    // A new name's parents lead to the account root, which has none.
    ComPtr<Lumo::IAfsName> parent;
    ASSERT_EQ(m_fs->NameGetParent(newOne.Get(), parent.Put()), S_OK);
    EXPECT_EQ(Text(parent.Get()), L"https://drive.google.com");
    ComPtr<Lumo::IAfsName> none;
    EXPECT_EQ(m_fs->NameGetParent(parent.Get(), none.Put()), S_OK);
    EXPECT_FALSE(none);
}

TEST_F(FsTest, RefusesNamesOfAnotherFileSystem) {
    ComPtr<DriveFileSystem> stranger;
    ASSERT_EQ(MakeObject(&stranger, ComPtr<Lumo::IAfsInstance>(m_afs.Get())), S_OK);
    Bstr text;
    text.Assign(Link(kBudget).c_str());
    ComPtr<Lumo::IAfsName> foreign;
    ASSERT_EQ(stranger->ParseName(text.Get(), 0, nullptr, foreign.Put()), GD_E_INVALID_ARG);
    // A name the stranger made for itself (it has no account, but needs none here).
    stranger->Store(); // an empty store: resolving a link signs nobody in
    ComPtr<IDriveName> own;
    ASSERT_EQ(stranger->ResolveText(Link(kBudget), nullptr, &own), S_OK);
    Lumo::IAfsName* name = own.Get();
    ComPtr<Lumo::IAfsEnumFolder> enumerator;
    EXPECT_EQ(m_fs->EnumFolder(name, nullptr, nullptr, enumerator.Put()), GD_E_INVALID_ARG);
    ComPtr<Lumo::IAfsFileInfo> info;
    EXPECT_EQ(m_fs->GetFileInfo(name, nullptr, nullptr, info.Put()), GD_E_INVALID_ARG);
    Bstr printed;
    EXPECT_EQ(m_fs->NameToText(name, 0, printed.Put()), GD_E_INVALID_ARG);
    long same = 0;
    EXPECT_EQ(m_fs->CompareNames(name, name, &same), GD_E_INVALID_ARG);
    ComPtr<Lumo::IAfsFileHandle> handle;
    EXPECT_EQ(m_fs->Open(name, Lumo::AFS_Open_Read, nullptr, nullptr, handle.Put()),
              GD_E_INVALID_ARG);
    EXPECT_EQ(m_fs->EnumFolder(nullptr, nullptr, nullptr, enumerator.Put()), GD_E_INVALID_ARG);
    EXPECT_TRUE(test::RequestLog().empty());
}

TEST_F(FsTest, LooksNewNamesUpByTitleAndTellsWhetherTheyExist) {
    const struct {
        std::wstring text;
        bool exists;
    } cases[] = {
        {L"gd://drive.google.com/googledriveidroot/PROJECTS/2024/budget 2024.PDF", true},
        {L"gd://drive.google.com/googledriveid" + kProjects + L"/Design notes.pdf", true},
        {L"gd://drive.google.com/googledriveidroot/Projects/Nothing.pdf", false},
        {L"gd://drive.google.com/googledriveidroot/Nowhere/Nothing.pdf", false},
        {Link(kBudget), true},
        {Link(SeedId("1aliceNoSuchFile")), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(ToUtf8(c.text));
        ComPtr<Lumo::IAfsName> name = Resolve(c.text);
        ComPtr<IDriveName> own = OwnName(name.Get(), m_fs.Get());
        bool exists = !c.exists;
        EXPECT_EQ(Exists(own.Get(), &exists), S_OK);
        EXPECT_EQ(exists, c.exists);
        // A name found by title takes its file's id (and prints as a link).
        if (c.exists) {
            EXPECT_EQ(Text(name.Get()).rfind(L"https://drive.google.com/open?id=", 0), 0u);
        }
    }
}

} // namespace
} // namespace gd
