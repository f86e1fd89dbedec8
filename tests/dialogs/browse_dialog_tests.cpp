#include "dialogs/browse_dialog.h"

#include "auth/client_credentials.h"
#include "drivefs/file_system.h"
#include "errors/check.h"
#include "errors/codes.h"
#include "plugin/resources.h"
#include "tests/auth/auth_support.h"
#include "tests/dialogs/dialog_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <future>
#include <string>
#include <vector>

namespace gd {
namespace {

constexpr DWORD kDeadline = 30000;

// The file system's browse dialog in the emulated host, with Alice signed
// in through the host's browser when the browse resolves My Drive.
class BrowseDialogTest : public test::DialogTest {
protected:
    void TearDown() override {
        if (m_browse.valid() &&
            m_browse.wait_for(std::chrono::milliseconds(kDeadline)) != std::future_status::ready) {
            ADD_FAILURE() << "the browse dialog did not end";
            Host().OnUi([this] { return Host().Uix().CancelModalDialogs(), S_OK; });
        }
        if (m_browse.valid())
            m_browse.get();
        DriveDialogTest::TearDown();
    }

    // Starts the browse on a thread of its own and waits for its dialog.
    ComPtr<HostDialog> StartBrowse() {
        m_browse = std::async(std::launch::async, [this] {
            ComPtr<Lumo::IAfsNameList> list;
            HRESULT hr = m_file_system->Browse(nullptr, 0, list.Put());
            m_chosen = list;
            return hr;
        });
        ComPtr<HostDialog> dialog = Host().Uix().WaitForDialog(L"DlgOpenFile", kDeadline);
        EXPECT_TRUE(dialog) << "no browse dialog";
        return dialog;
    }
    // The browse's result once its dialog has ended.
    HRESULT BrowseResult() {
        if (m_browse.wait_for(std::chrono::milliseconds(kDeadline)) != std::future_status::ready)
            return E_ABORT;
        return m_browse.get();
    }
    // The title of the single name the browse chose.
    std::wstring ChosenTitle() {
        long count = 0;
        if (!m_chosen || FAILED(m_chosen->get_Count(&count)) || count != 1)
            return L"<" + std::to_wstring(count) + L" names>";
        ComPtr<Lumo::IAfsName> name;
        ComPtr<Lumo::IAfsFileInfo> info;
        Bstr title;
        if (FAILED(m_chosen->get_Item(0, name.Put())) ||
            FAILED(m_file_system->GetFileInfo(name.Get(), nullptr, nullptr, info.Put())) ||
            FAILED(info->get_Title(title.Put())))
            return L"<no title>";
        return title.Text();
    }

    // Every row's text as the list shows it.
    std::vector<std::wstring> Rows(HostDialog* dialog) {
        std::vector<std::wstring> rows;
        EXPECT_EQ(Host().OnUi([&]() -> HRESULT {
            HostControl* list = dialog->Control(L"gd.lst.Test");
            for (long row = 0; row < list->RowCount(); ++row) {
                std::wstring text;
                RETURN_IF_FAILED(list->CellText(row, 0, &text));
                rows.push_back(text);
            }
            return S_OK;
        }),
                  S_OK);
        return rows;
    }
    HRESULT Activate(HostDialog* dialog, long row, DWORD flags = Lumo::UIX_ListActivate_Confirm) {
        return Drive(dialog, [&](HostDialog& d) {
            return d.Control(L"gd.lst.Test")->ActivateRow(row, flags);
        });
    }
    HRESULT Click(HostDialog* dialog, const wchar_t* button) {
        return Drive(dialog, [&](HostDialog& d) { return d.Control(button)->Click(); });
    }
    std::wstring Title(HostDialog* dialog) {
        Bstr title;
        EXPECT_EQ(Drive(dialog, [&](HostDialog& d) { return d.get_Text(title.Put()); }), S_OK);
        return title.Text();
    }

    std::future<HRESULT> m_browse;
    ComPtr<Lumo::IAfsNameList> m_chosen;
};

TEST_F(BrowseDialogTest, DoubleClicksGoDownIntoFoldersAndUpAndChooseAFile) {
    ComPtr<HostDialog> dialog = StartBrowse();
    ASSERT_TRUE(dialog);
    EXPECT_EQ(Title(dialog.Get()), String(L"gd.DlgOpenFile"));

    // My Drive: an account root never equals a name, so ".." leads the
    // list even at the start; folders carry their mark, files do not.
    std::vector<std::wstring> root = Rows(dialog.Get());
    ASSERT_FALSE(root.empty());
    EXPECT_EQ(root[0], L"..");
    long projects = RowOf(root, L"Projects <FOLDER>");
    RowOf(root, L"Welcome.pdf");
    RowOf(root, L"Empty folder <FOLDER>");

    // ".." at the root leads nowhere.
    ASSERT_EQ(Activate(dialog.Get(), 0), S_OK);
    EXPECT_EQ(Rows(dialog.Get()), root);

    ASSERT_EQ(Activate(dialog.Get(), projects), S_OK);
    std::vector<std::wstring> inProjects = Rows(dialog.Get());
    ASSERT_FALSE(inProjects.empty());
    EXPECT_EQ(inProjects[0], L"..");
    RowOf(inProjects, L"Design notes.pdf");
    long year = RowOf(inProjects, L"2024 <FOLDER>");
    EXPECT_EQ(std::count(inProjects.begin(), inProjects.end(), L"Welcome.pdf"), 0);

    ASSERT_EQ(Activate(dialog.Get(), 0), S_OK);
    EXPECT_EQ(Rows(dialog.Get()), root);

    ASSERT_EQ(Activate(dialog.Get(), projects), S_OK);
    ASSERT_EQ(Activate(dialog.Get(), year), S_OK);
    std::vector<std::wstring> inYear = Rows(dialog.Get());
    ASSERT_EQ(Activate(dialog.Get(), RowOf(inYear, L"Budget 2024.pdf")), S_OK);

    EXPECT_EQ(BrowseResult(), S_OK);
    EXPECT_EQ(ChosenTitle(), L"Budget 2024.pdf");
    EXPECT_TRUE(dialog->IsDestroyed());
    EXPECT_TRUE(Host().Messages().empty());
}

TEST_F(BrowseDialogTest, OkChoosesOnlyASelectedFile) {
    ComPtr<HostDialog> dialog = StartBrowse();
    ASSERT_TRUE(dialog);
    std::vector<std::wstring> root = Rows(dialog.Get());
    long folder = RowOf(root, L"Projects <FOLDER>");
    long file = RowOf(root, L"Welcome.pdf");

    // Nothing selected, or the parent row: nothing happens.
    ASSERT_EQ(Click(dialog.Get(), L"btn.ok"), S_OK);
    ASSERT_EQ(Drive(dialog.Get(),
                    [](HostDialog& d) { return d.Control(L"gd.lst.Test")->SelectRows({0}); }),
              S_OK);
    ASSERT_EQ(Click(dialog.Get(), L"btn.ok"), S_OK);
    EXPECT_TRUE(Host().Messages().empty());
    EXPECT_TRUE(dialog->IsModal());

    // A folder: the user is asked for a file and the dialog stays.
    ASSERT_EQ(Drive(dialog.Get(),
                    [&](HostDialog& d) { return d.Control(L"gd.lst.Test")->SelectRows({folder}); }),
              S_OK);
    ASSERT_EQ(Click(dialog.Get(), L"btn.ok"), S_OK);
    std::vector<MessageRecord> messages = Host().Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, String(L"gd.msg.selectFile"));
    EXPECT_EQ(messages[0].caption, String(L"gd.cpt.selectFile"));
    EXPECT_EQ(messages[0].style, static_cast<DWORD>(Lumo::LUMO_MsgBox_Error));
    EXPECT_TRUE(dialog->IsModal());
    EXPECT_EQ(Rows(dialog.Get()), root);

    // An activation that only selects empties the name and opens nothing.
    ASSERT_EQ(Drive(dialog.Get(),
                    [](HostDialog& d) { return d.Control(L"gd.ed.fileName")->Type(L"typed"); }),
              S_OK);
    ASSERT_EQ(Activate(dialog.Get(), folder, 0), S_OK);
    std::wstring name = L"unread";
    ASSERT_EQ(Drive(dialog.Get(),
                    [&](HostDialog& d) {
                        name = d.Control(L"gd.ed.fileName")->Text();
                        return S_OK;
                    }),
              S_OK);
    EXPECT_EQ(name, L"");
    EXPECT_EQ(Rows(dialog.Get()), root);
    EXPECT_TRUE(dialog->IsModal());

    ASSERT_EQ(Drive(dialog.Get(),
                    [&](HostDialog& d) { return d.Control(L"gd.lst.Test")->SelectRows({file}); }),
              S_OK);
    ASSERT_EQ(Click(dialog.Get(), L"btn.ok"), S_OK);
    EXPECT_EQ(BrowseResult(), S_OK);
    EXPECT_EQ(ChosenTitle(), L"Welcome.pdf");
}

TEST_F(BrowseDialogTest, CancelChoosesNothing) {
    ComPtr<HostDialog> dialog = StartBrowse();
    ASSERT_TRUE(dialog);
    ASSERT_EQ(Click(dialog.Get(), L"btn.cancel"), S_OK);
    EXPECT_EQ(BrowseResult(), GD_E_UNEXPECTED);
    EXPECT_FALSE(m_chosen);
    EXPECT_TRUE(dialog->IsDestroyed());
}

} // namespace
} // namespace gd
