#include "dialogs/file_dialog.h"

#include "auth/client_credentials.h"
#include "drivefs/file_system.h"
#include "drivefs/name_text.h"
#include "errors/check.h"
#include "errors/codes.h"
#include "plugin/resources.h"
#include "tests/auth/auth_support.h"
#include "tests/support/emulator.h"
#include "tests/support/host_sign_in.h"

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
constexpr wchar_t kBob[] = L"bob.emulator@example.org";

TEST(FileDialogTexts, TypedNamesAreSplitAndCompleted) {
    const struct {
        const wchar_t* typed;
        DWORD flags;
        std::vector<std::wstring> names;
    } kCases[] = {
        {L"report", kSaveDialogOptions, {L"report.pdf"}},
        {L"report.txt", kSaveDialogOptions, {L"report.txt"}},
        {L"\"a.pdf\" \"b.pdf\"", kOpenDialogOptions, {L"a.pdf", L"b.pdf"}},
        {L" \"a\"  \"\" \"b c\" ", kFileDialogSeveralNames | kFileDialogAppendPdf, {L"a", L"b c"}},
        {L"\"a.pdf\" b.pdf", kOpenDialogOptions, {L"\"a.pdf\" b.pdf"}},
        {L"\"a.pdf", kOpenDialogOptions, {L"\"a.pdf"}},
        {L"\"\"", kOpenDialogOptions, {}},
        {L"\"a\" \"b\"", kSaveDialogOptions, {L"\"a\" \"b\".pdf"}},
    };
    for (const auto& c : kCases)
        EXPECT_EQ(SplitTypedNames(c.typed, c.flags), c.names) << testing::PrintToString(c.typed);
}

TEST(FileDialogTexts, FilterTextsParseIntoDescriptionsAndPatterns) {
    std::vector<FileType> types =
        ParseFilterText(L"PDF (*.pdf)|*.pdf|Mixed|*.PDF;;*.;xps;*|All|*.*||Broken||x|y|");
    ASSERT_EQ(types.size(), 3u);
    EXPECT_EQ(types[0].description, L"PDF (*.pdf)");
    EXPECT_EQ(types[0].patterns, std::vector<std::wstring>{L"pdf"});
    EXPECT_EQ(types[1].patterns, (std::vector<std::wstring>{L"PDF", L"xps"}));
    EXPECT_EQ(types[2].patterns, std::vector<std::wstring>{L"*"});
    EXPECT_TRUE(ParseFilterText(L"|*.pdf|").empty());
}

TEST(FileDialogTexts, CancellationsAreOwnOrWin32Codes) {
    EXPECT_TRUE(IsDialogCancellation(GD_E_CANCELLED));
    EXPECT_TRUE(IsDialogCancellation(HRESULT_FROM_WIN32(ERROR_CANCELLED)));
    EXPECT_FALSE(IsDialogCancellation(static_cast<HRESULT>(0x800404C7)));
    EXPECT_FALSE(IsDialogCancellation(GD_E_UNEXPECTED));
}

// The Open and Save dialogs in the emulated host against the emulator, with
// Alice signed in through the host's browser on the first listing.
class FileDialogTest : public test::DialogTest {
protected:
    void TearDown() override {
        if (m_run.valid() &&
            m_run.wait_for(std::chrono::milliseconds(kDeadline)) != std::future_status::ready) {
            ADD_FAILURE() << "the file dialog did not end";
            Host().OnUi([this] { return Host().Uix().CancelModalDialogs(), S_OK; });
        }
        if (m_run.valid())
            m_run.get();
        m_holder.SetFolder(nullptr);
        DialogTest::TearDown();
    }

    // Runs the dialog from My Drive (or the holder's folder) on a thread of
    // its own and waits until its first listing has come.
    ComPtr<HostDialog> Start(FileDialogMode mode, DWORD flags) {
        if (!m_holder.Folder()) {
            ComPtr<IDriveName> root;
            EXPECT_EQ(m_file_system->ResolveText(DriveWebBase(), nullptr, &root), S_OK);
            m_holder.SetFolder(ComPtr<Lumo::IAfsName>(root.Get()));
        }
        m_run = std::async(std::launch::async, [this, mode, flags] {
            ComPtr<Lumo::IAfsNameList> chosen;
            HRESULT hr = RunFileDialog(mode, flags, &m_holder, &chosen);
            m_chosen = chosen;
            return hr;
        });
        ComPtr<HostDialog> dialog;
        EXPECT_EQ(Driver().Wait(&dialog), S_OK) << "no file dialog listed";
        return dialog;
    }
    // Waits until the list is filled again after a navigation.
    void WaitListed(HostDialog* dialog) {
        EXPECT_EQ(Driver().WaitListed(dialog), S_OK) << "the list was not filled";
    }
    HRESULT Result() {
        if (m_run.wait_for(std::chrono::milliseconds(kDeadline)) != std::future_status::ready)
            return E_ABORT;
        return m_run.get();
    }
    std::wstring TitleOf(Lumo::IAfsName* name) {
        ComPtr<Lumo::IAfsFileInfo> info;
        Bstr title;
        if (FAILED(m_file_system->GetFileInfo(name, nullptr, nullptr, info.Put())) ||
            FAILED(info->get_Title(title.Put())))
            return L"<no title>";
        return title.Text();
    }
    std::vector<std::wstring> ChosenTitles() {
        std::vector<std::wstring> titles;
        long count = 0;
        if (m_chosen && SUCCEEDED(m_chosen->get_Count(&count))) {
            for (long i = 0; i < count; ++i) {
                ComPtr<Lumo::IAfsName> name;
                m_chosen->get_Item(i, name.Put());
                titles.push_back(TitleOf(name.Get()));
            }
        }
        return titles;
    }
    ComPtr<IDriveName> Chosen(long index) {
        ComPtr<Lumo::IAfsName> name;
        if (!m_chosen || FAILED(m_chosen->get_Item(index, name.Put())))
            return nullptr;
        return OwnName(name.Get(), m_file_system.Get());
    }

    // Every row as title plus extension.
    std::vector<std::wstring> Rows(HostDialog* dialog) {
        std::vector<std::wstring> rows;
        EXPECT_EQ(Driver().Rows(dialog, &rows), S_OK);
        return rows;
    }
    // Double-clicks the row and waits for the listing it may start.
    void Activate(HostDialog* dialog, const wchar_t* text) {
        EXPECT_EQ(Driver().Activate(dialog, text), S_OK)
            << "no row " << testing::PrintToString(std::wstring(text));
    }
    void TypeAndOk(HostDialog* dialog, const wchar_t* text) {
        ASSERT_EQ(Driver().TypeAndOk(dialog, text), S_OK);
    }
    std::wstring Text(HostDialog* dialog, const wchar_t* control) {
        std::wstring text;
        Drive(dialog, [&](HostDialog& d) {
            text = d.Control(control)->Text();
            return S_OK;
        });
        return text;
    }
    HWND WindowOf(HostDialog* dialog) {
        HWND window = nullptr;
        Drive(dialog, [&](HostDialog& d) { return d.get_Window(&window); });
        return window;
    }

    FolderHolder m_holder;
    std::future<HRESULT> m_run;
    ComPtr<Lumo::IAfsNameList> m_chosen;
};

TEST_F(FileDialogTest, OpensAFileTwoFoldersDownAndGoesUpWithTheParentRow) {
    ComPtr<HostDialog> dialog = Start(FileDialogMode::Open, kOpenDialogOptions);
    ASSERT_TRUE(dialog);
    Bstr title;
    ASSERT_EQ(Drive(dialog.Get(), [&](HostDialog& d) { return d.get_Text(title.Put()); }), S_OK);
    EXPECT_EQ(std::wstring(title.Text()), String(L"gd.DlgOpenFile"));
    EXPECT_EQ(Text(dialog.Get(), L"btn.ok"), String(L"dlg.open.actionBtnTitle"));
    // The wait indicator sits in the middle of the list, hidden once listed.
    ASSERT_EQ(Drive(dialog.Get(),
                    [](HostDialog& d) -> HRESULT {
                        HostControl* list = d.Control(L"gd.lst.Test");
                        EXPECT_EQ(list->Style() & 0x4500, 0x4500u);
                        HostControl* wait = d.Control(L"WaitProgress");
                        RETURN_HR_IF_NULL(E_UNEXPECTED, wait);
                        EXPECT_EQ(wait->ParentControl(), list);
                        RECT client{};
                        RETURN_IF_FAILED(list->get_ClientRect(&client));
                        const RECT& placed = wait->PlacedRect();
                        EXPECT_EQ(placed.right - placed.left, 48);
                        EXPECT_EQ(placed.bottom - placed.top, 48);
                        EXPECT_EQ(placed.left, (client.right - 48) / 2);
                        EXPECT_EQ(placed.top, (client.bottom - 48) / 2);
                        EXPECT_FALSE(wait->IsShown());
                        EXPECT_FALSE(wait->IsSpinning());
                        return S_OK;
                    }),
              S_OK);

    // My Drive has no parent row; folders lead.
    std::vector<std::wstring> root = Rows(dialog.Get());
    ASSERT_FALSE(root.empty());
    EXPECT_NE(root[0], L"..");
    RowOf(root, L"Projects");
    // A typed folder title goes into the folder; the dialog stays.
    TypeAndOk(dialog.Get(), L"projects");
    WaitListed(dialog.Get());
    ASSERT_TRUE(dialog->IsModal());
    std::vector<std::wstring> projects = Rows(dialog.Get());
    ASSERT_FALSE(projects.empty());
    EXPECT_EQ(projects[0], L"..");
    Activate(dialog.Get(), L"2024");
    std::vector<std::wstring> year = Rows(dialog.Get());
    ASSERT_FALSE(year.empty());
    EXPECT_EQ(year[0], L"..");
    Activate(dialog.Get(), L"..");
    EXPECT_EQ(Rows(dialog.Get()), projects);
    Activate(dialog.Get(), L"2024");
    Activate(dialog.Get(), L"Budget 2024.pdf");

    EXPECT_EQ(Result(), S_OK);
    EXPECT_EQ(ChosenTitles(), std::vector<std::wstring>{L"Budget 2024.pdf"});
    EXPECT_EQ(TitleOf(m_holder.Folder().Get()), L"2024");
    EXPECT_TRUE(Host().Messages().empty());
    EXPECT_TRUE(dialog->IsDestroyed());
}

TEST_F(FileDialogTest, FileTypesFilterTheListWithoutListingAgain) {
    ComPtr<HostDialog> dialog = Start(FileDialogMode::Open, kOpenDialogOptions);
    ASSERT_TRUE(dialog);
    std::vector<std::wstring> types;
    Drive(dialog.Get(), [&](HostDialog& d) {
        for (const ComboEntry& entry : d.Control(L"gd.cb.fileExtension")->ComboEntries())
            types.push_back(entry.text);
        return S_OK;
    });
    // The host's texts less the converted formats and the second PDF entry.
    std::wstring expected_text;
    ASSERT_EQ(Host().OnUi([&] { return BuildFilterText(&Host(), true, &expected_text); }), S_OK);
    EXPECT_EQ(expected_text.find(L"doc"), std::wstring::npos);
    EXPECT_EQ(expected_text.find(L"Word"), std::wstring::npos);
    std::vector<FileType> parsed = ParseFilterText(expected_text);
    ASSERT_EQ(types.size(), parsed.size());
    ASSERT_GE(types.size(), 3u);
    EXPECT_EQ(std::count_if(parsed.begin(), parsed.end(),
                            [](const FileType& t) {
                                return t.patterns == std::vector<std::wstring>{L"pdf"};
                            }),
              1);
    EXPECT_EQ(parsed.back().patterns, std::vector<std::wstring>{L"*"});

    // PDF first: the Google document without extension is left out.
    std::vector<std::wstring> pdf = Rows(dialog.Get());
    EXPECT_EQ(std::count(pdf.begin(), pdf.end(), L"Meeting notes"), 0);
    RowOf(pdf, L"Welcome.pdf");
    RowOf(pdf, L"Projects");
    const size_t listings = test::RequestLog().size();
    ASSERT_EQ(
        Drive(
            dialog.Get(),
            [&](HostDialog& d) {
                return d.Control(L"gd.cb.fileExtension")->Pick(static_cast<long>(types.size() - 1));
            }),
        S_OK);
    std::vector<std::wstring> all = Rows(dialog.Get());
    RowOf(all, L"Meeting notes");
    EXPECT_EQ(all.size(), pdf.size() + 1);
    EXPECT_EQ(test::RequestLog().size(), listings);

    ASSERT_EQ(Drive(dialog.Get(), [](HostDialog& d) { return d.Control(L"btn.cancel")->Click(); }),
              S_OK);
    EXPECT_EQ(Result(), S_OK);
    EXPECT_FALSE(m_chosen);
}

TEST_F(FileDialogTest, SavesANewNameInAFolderAndInMyDrive) {
    ComPtr<HostDialog> dialog = Start(FileDialogMode::Save, kSaveDialogOptions);
    ASSERT_TRUE(dialog);
    EXPECT_EQ(Text(dialog.Get(), L"btn.ok"), String(L"dlg.save.actionBtnTitle"));
    TypeAndOk(dialog.Get(), L"report");
    EXPECT_EQ(Result(), S_OK);
    ASSERT_EQ(ChosenTitles(), std::vector<std::wstring>{L"report.pdf"});
    ComPtr<IDriveName> in_root = Chosen(0);
    ASSERT_TRUE(in_root && in_root->Parent());
    EXPECT_TRUE(in_root->Parent()->IsFolderByItself());

    // The holder brings the next dialog back to My Drive; a name is made in
    // the folder shown.
    m_chosen.Reset();
    dialog = Start(FileDialogMode::Save, kSaveDialogOptions);
    ASSERT_TRUE(dialog);
    Activate(dialog.Get(), L"Projects");
    TypeAndOk(dialog.Get(), L"notes.txt");
    EXPECT_EQ(Result(), S_OK);
    ASSERT_EQ(ChosenTitles(), std::vector<std::wstring>{L"notes.txt"});
    ComPtr<IDriveName> in_folder = Chosen(0);
    ASSERT_TRUE(in_folder && in_folder->Parent() && in_folder->Parent()->File());
    EXPECT_EQ(in_folder->Parent()->File()->id.substr(0, 14), L"1aliceProjects");
    EXPECT_TRUE(Host().Messages().empty());
}

TEST_F(FileDialogTest, SavingOverAnExistingFileAsksFirst) {
    for (long answer : {Lumo::LUMO_MsgBox_No, Lumo::LUMO_MsgBox_Yes}) {
        m_chosen.Reset();
        ComPtr<HostDialog> dialog = Start(FileDialogMode::Save, kSaveDialogOptions);
        ASSERT_TRUE(dialog);
        const size_t before = Host().Messages().size();
        Host().ScriptAnswers({answer});
        TypeAndOk(dialog.Get(), L"welcome");
        EXPECT_EQ(Result(), S_OK);
        std::vector<MessageRecord> messages = Host().Messages();
        ASSERT_EQ(messages.size(), before + 1);
        const MessageRecord& asked = messages.back();
        EXPECT_EQ(asked.caption, String(L"gd.cpt.saveReplace"));
        EXPECT_NE(asked.text.find(L"Welcome.pdf"), std::wstring::npos);
        EXPECT_EQ(asked.style, static_cast<DWORD>(Lumo::LUMO_MsgBox_AskYesNoCancel));
        EXPECT_NE(asked.owner, nullptr);
        if (answer == Lumo::LUMO_MsgBox_No) {
            EXPECT_TRUE(ChosenTitles().empty());
        } else {
            ASSERT_EQ(ChosenTitles(), std::vector<std::wstring>{L"Welcome.pdf"});
            ASSERT_TRUE(Chosen(0) && Chosen(0)->File());
            EXPECT_EQ(Chosen(0)->File()->id.substr(0, 13), L"1aliceWelcome");
        }
    }
}

TEST_F(FileDialogTest, SeveralQuotedNamesOpenThoseFoundAndReportTheOthers) {
    ComPtr<HostDialog> dialog = Start(FileDialogMode::Open, kOpenDialogOptions);
    ASSERT_TRUE(dialog);
    const HWND window = WindowOf(dialog.Get());
    TypeAndOk(dialog.Get(), L"\"welcome.PDF\" \"Missing.pdf\" \"Large manual.pdf\"");
    EXPECT_EQ(Result(), S_OK);
    EXPECT_EQ(ChosenTitles(), (std::vector<std::wstring>{L"Welcome.pdf", L"Large manual.pdf"}));
    std::vector<MessageRecord> messages = Host().Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].caption, String(L"gd.cpt.fileNotFound"));
    EXPECT_NE(messages[0].text.find(L"Missing.pdf"), std::wstring::npos);
    EXPECT_EQ(messages[0].owner, window);
}

TEST_F(FileDialogTest, AFailedListingIsReportedAndEndsTheDialog) {
    ComPtr<HostDialog> dialog = Start(FileDialogMode::Open, kOpenDialogOptions);
    ASSERT_TRUE(dialog);
    const HWND window = WindowOf(dialog.Get());
    std::vector<std::wstring> root = Rows(dialog.Get());
    test::AddFault(R"({"path": "/drive/v2/files", "status": 404, "reason": "notFound",
                       "message": "File not found", "count": -1})");
    ASSERT_EQ(Drive(dialog.Get(),
                    [&](HostDialog& d) {
                        return d.Control(L"gd.lst.Test")->ActivateRow(RowOf(root, L"Projects"));
                    }),
              S_OK);
    EXPECT_EQ(Result(), S_OK);
    EXPECT_FALSE(m_chosen);
    std::vector<MessageRecord> messages = Host().Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, String(L"gd.msg.navigateError"));
    EXPECT_EQ(messages[0].caption, String(L"gd.cpt.navigateError"));
    EXPECT_EQ(messages[0].style, static_cast<DWORD>(Lumo::LUMO_MsgBox_Error));
    EXPECT_EQ(messages[0].owner, window);
}

TEST_F(FileDialogTest, ClosingDuringALongListingEndsAtOnceAndPostsNothing) {
    AddFolder("Many", 10000);
    test::AddFault(R"({"path": "/drive/v2/files", "delay_ms": 300, "count": -1})");
    ComPtr<HostDialog> dialog = Start(FileDialogMode::Open, kOpenDialogOptions);
    ASSERT_TRUE(dialog);
    long many = RowOf(Rows(dialog.Get()), L"Many");
    ASSERT_EQ(Drive(dialog.Get(),
                    [&](HostDialog& d) -> HRESULT {
                        RETURN_IF_FAILED(d.Control(L"gd.lst.Test")->ActivateRow(many));
                        // Busy: the list waits under the spinning indicator.
                        HostControl* wait = d.Control(L"WaitProgress");
                        EXPECT_TRUE(wait && wait->IsShown() && wait->IsSpinning());
                        EXPECT_FALSE(d.Control(L"gd.lst.Test")->IsEnabled());
                        EXPECT_FALSE(d.Control(L"btn.ok")->IsEnabled());
                        return d.Control(L"btn.cancel")->Click();
                    }),
              S_OK);
    EXPECT_EQ(Result(), S_OK);
    EXPECT_FALSE(m_chosen);
    EXPECT_TRUE(dialog->IsDestroyed());
    EXPECT_TRUE(Host().Messages().empty());
    // Nothing reaches the UI thread after the dialog: a posted completion
    // would run now.
    EXPECT_EQ(Host().OnUi([] { return S_OK; }), S_OK);
    EXPECT_TRUE(Host().Messages().empty());
}

TEST_F(FileDialogTest, NewLoginAddsAnAccountAndTheSelectorSwitchesBetweenThem) {
    ComPtr<HostDialog> dialog = Start(FileDialogMode::Open, kOpenDialogOptions);
    ASSERT_TRUE(dialog);
    Activate(dialog.Get(), L"Projects");
    Host().SetBrowserScript({BrowserAction::Approve, kBob});
    ASSERT_EQ(Drive(dialog.Get(),
                    [](HostDialog& d) { return d.Control(L"btn.connectToAnother")->Click(); }),
              S_OK);
    WaitListed(dialog.Get());
    std::vector<std::wstring> bob = Rows(dialog.Get());
    RowOf(bob, L"Plans");
    EXPECT_EQ(std::count(bob.begin(), bob.end(), L"Projects"), 0);

    std::vector<ComboEntry> accounts;
    long selected = -1;
    auto read_accounts = [&](HostDialog& d) {
        HostControl* combo = d.Control(L"cb.googleAcc");
        accounts = combo->ComboEntries();
        return combo->get_SelItem(&selected);
    };
    ASSERT_EQ(Drive(dialog.Get(), read_accounts), S_OK);
    ASSERT_EQ(accounts.size(), 2u);
    EXPECT_EQ(selected, 1);
    EXPECT_NE(accounts[0].text.find(L"/Projects"), std::wstring::npos);
    EXPECT_EQ(accounts[1].text.find(L"/"), std::wstring::npos);

    // Back to Alice, where she was.
    ASSERT_EQ(
        Drive(dialog.Get(), [](HostDialog& d) { return d.Control(L"cb.googleAcc")->Pick(0); }),
        S_OK);
    WaitListed(dialog.Get());
    std::vector<std::wstring> alice = Rows(dialog.Get());
    RowOf(alice, L"Design notes.pdf");
    ASSERT_EQ(Drive(dialog.Get(), read_accounts), S_OK);
    EXPECT_EQ(selected, 0);
    ASSERT_EQ(accounts.size(), 2u);

    Activate(dialog.Get(), L"Design notes.pdf");
    EXPECT_EQ(Result(), S_OK);
    EXPECT_EQ(ChosenTitles(), std::vector<std::wstring>{L"Design notes.pdf"});
    EXPECT_TRUE(Host().Messages().empty());
}

// Of two files with the same title, the one the list shows first is the one
// a typed name replaces, in either order of the list.
TEST_F(FileDialogTest, ATypedNameTakesTheFirstOfEqualTitlesAsShown) {
    const std::wstring folder = AddFolder("Twins");
    const std::string parent(folder.begin(), folder.end());
    const std::wstring small = AddFile("Twin.pdf", 10, parent);
    const std::wstring large = AddFile("Twin.pdf", 5000, parent);
    for (long clicks : {1, 2}) {
        m_chosen.Reset();
        m_holder.SetFolder(nullptr);
        ComPtr<HostDialog> dialog = Start(FileDialogMode::Save, kSaveDialogOptions);
        ASSERT_TRUE(dialog);
        Activate(dialog.Get(), L"Twins");
        // Size ascending, then descending.
        for (long i = 0; i < clicks; ++i)
            ASSERT_EQ(
                Drive(dialog.Get(),
                      [](HostDialog& d) { return d.Control(L"gd.lst.Test")->ClickColumn(4); }),
                S_OK);
        Host().ScriptAnswers({Lumo::LUMO_MsgBox_Yes});
        TypeAndOk(dialog.Get(), L"twin.pdf");
        EXPECT_EQ(Result(), S_OK);
        ASSERT_TRUE(Chosen(0) && Chosen(0)->File());
        EXPECT_EQ(Chosen(0)->File()->id, clicks == 1 ? small : large);
    }
}

// Selected files fill the name edit, several in quotes; folders only enable OK.
TEST_F(FileDialogTest, TheSelectionFillsTheFileName) {
    ComPtr<HostDialog> dialog = Start(FileDialogMode::Open, kOpenDialogOptions);
    ASSERT_TRUE(dialog);
    std::vector<std::wstring> rows = Rows(dialog.Get());
    const long welcome = RowOf(rows, L"Welcome.pdf");
    const long manual = RowOf(rows, L"Large manual.pdf");
    const long projects = RowOf(rows, L"Projects");
    bool ok_enabled = false;
    ASSERT_EQ(Drive(dialog.Get(),
                    [&](HostDialog& d) -> HRESULT {
                        EXPECT_FALSE(d.Control(L"btn.ok")->IsEnabled());
                        RETURN_IF_FAILED(d.Control(L"gd.lst.Test")->SelectRows({projects}));
                        ok_enabled = d.Control(L"btn.ok")->IsEnabled();
                        return S_OK;
                    }),
              S_OK);
    EXPECT_TRUE(ok_enabled);
    EXPECT_EQ(Text(dialog.Get(), L"gd.ed.fileName"), L"");
    ASSERT_EQ(Drive(dialog.Get(),
                    [&](HostDialog& d) {
                        return d.Control(L"gd.lst.Test")->SelectRows({welcome, manual});
                    }),
              S_OK);
    const std::wstring first = welcome < manual ? L"Welcome.pdf" : L"Large manual.pdf";
    const std::wstring second = welcome < manual ? L"Large manual.pdf" : L"Welcome.pdf";
    EXPECT_EQ(Text(dialog.Get(), L"gd.ed.fileName"), L"\"" + first + L"\" \"" + second + L"\"");
    ASSERT_EQ(Drive(dialog.Get(), [](HostDialog& d) { return d.Control(L"btn.ok")->Click(); }),
              S_OK);
    EXPECT_EQ(Result(), S_OK);
    EXPECT_EQ(ChosenTitles(), (std::vector<std::wstring>{first, second}));
}

// The name a selected file puts in the edit enables OK, as typing it would.
TEST_F(FileDialogTest, ASelectedFileEnablesOk) {
    ComPtr<HostDialog> dialog = Start(FileDialogMode::Open, kOpenDialogOptions);
    ASSERT_TRUE(dialog);
    const long welcome = RowOf(Rows(dialog.Get()), L"Welcome.pdf");
    bool ok_before = true, ok_after = false;
    ASSERT_EQ(Drive(dialog.Get(),
                    [&](HostDialog& d) -> HRESULT {
                        ok_before = d.Control(L"btn.ok")->IsEnabled();
                        RETURN_IF_FAILED(d.Control(L"gd.lst.Test")->SelectRows({welcome}));
                        ok_after = d.Control(L"btn.ok")->IsEnabled();
                        return S_OK;
                    }),
              S_OK);
    EXPECT_FALSE(ok_before);
    EXPECT_TRUE(ok_after);
    EXPECT_EQ(Text(dialog.Get(), L"gd.ed.fileName"), L"Welcome.pdf");
    ASSERT_EQ(Drive(dialog.Get(), [](HostDialog& d) { return d.Control(L"btn.ok")->Click(); }),
              S_OK);
    EXPECT_EQ(Result(), S_OK);
    EXPECT_EQ(ChosenTitles(), std::vector<std::wstring>{L"Welcome.pdf"});
}

// A sign-in the user refuses ends the dialog as a cancel: no message.
TEST_F(FileDialogTest, ARefusedNewLoginClosesTheDialogSilently) {
    ComPtr<HostDialog> dialog = Start(FileDialogMode::Open, kOpenDialogOptions);
    ASSERT_TRUE(dialog);
    Host().SetBrowserScript({BrowserAction::Deny, L"bob.emulator@example.org"});
    ASSERT_EQ(Drive(dialog.Get(),
                    [](HostDialog& d) { return d.Control(L"btn.connectToAnother")->Click(); }),
              S_OK);
    EXPECT_EQ(Result(), S_OK);
    EXPECT_FALSE(m_chosen);
    EXPECT_TRUE(dialog->IsDestroyed());
    EXPECT_TRUE(Host().Messages().empty());
}

} // namespace
} // namespace gd
