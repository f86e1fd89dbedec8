#include "dialogs/file_list_view.h"

#include "dialogs/browse_dialog.h"
#include "dialogs/uix_dialog.h"
#include "drivefs/name_list.h"
#include "tests/dialogs/drive_dialog_fixture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

namespace gd {
namespace {

using test::kDialogDeadline;

// A dialog of the module's layout that the test keeps open without a modal loop.
class OpenDialog : public UixDialog {
public:
    using UixDialog::FillCreateParams;
    using UixDialog::UixDialog;
};

class PatternFilter : public FileFilter {
public:
    explicit PatternFilter(std::vector<std::wstring> patterns) : m_patterns(std::move(patterns)) {}
    bool Accepts(Lumo::IAfsName* name) const override { return MatchesFileType(name, &m_patterns); }

private:
    std::vector<std::wstring> m_patterns;
};

// The file list on the real list control of "DlgOpenFile", over a navigator
// in a folder of Alice's made for the test:
//   folders "beta" (created 3 s, modified 1 s), "Alpha" (1 s, 3 s);
//   files "report.pdf" 300 bytes (2 s, 2 s), "Report.txt" 100 (4 s, 0.5 s),
//   "notes" 200 (3 s, 4 s), "archive.tar.gz" 50 (1 s, 3 s).
class FileListTest : public test::DriveDialogTest {
protected:
    void SetUp() override {
        DriveDialogTest::SetUp();
        std::wstring wide = AddFolder("Sorting");
        std::string folder(wide.begin(), wide.end());
        AddFolder("beta", 0, folder, 3000, 1000);
        AddFolder("Alpha", 0, folder, 1000, 3000);
        AddFile("report.pdf", 300, folder, 2000, 2000);
        AddFile("Report.txt", 100, folder, 4000, 500);
        AddFile("notes", 200, folder, 3000, 4000);
        AddFile("archive.tar.gz", 50, folder, 1000, 3000);
        ComPtr<Lumo::IAfsName> root = MyDrive();
        ASSERT_TRUE(root);
        ASSERT_EQ(OnUi([&] { return MakeList(); }), S_OK);
        ASSERT_EQ(NavigateAndWait(root.Get()), S_OK);
        ComPtr<Lumo::IAfsName> sorting;
        ASSERT_EQ(OnUi([&]() -> HRESULT {
                      for (const ShownEntry& entry : m_list->ShownEntries())
                          if (TitleOf(entry.info.Get()) == L"Sorting")
                              sorting = entry.name;
                      return S_OK;
                  }),
                  S_OK);
        ASSERT_TRUE(sorting);
        ASSERT_EQ(NavigateAndWait(sorting.Get()), S_OK);
    }
    void TearDown() override {
        OnUi([this] {
            m_list.reset();
            m_navigator.reset();
            m_icons.reset();
            if (m_dialog)
                m_dialog->Destroy();
            return S_OK;
        });
        DriveDialogTest::TearDown();
    }

    HRESULT OnUi(std::function<HRESULT()> work) { return Host().OnUi(std::move(work)); }

    HRESULT MakeList() {
        RETURN_IF_FAILED(MakeObject(&m_handler, &Host()));
        Lumo::UIX_CreateParams params{};
        RETURN_IF_FAILED(
            m_handler->FillCreateParams(&Host(), L"DlgOpenFile", kBrowseDialogStyle, &params));
        RETURN_IF_FAILED(Host().Uix().CreateObj(&params, nullptr));
        m_dialog = Host().Uix().Dialogs().back();
        m_control = m_dialog->Control(L"gd.lst.Test");
        RETURN_HR_IF_NULL(E_UNEXPECTED, m_control);
        m_icons = std::make_unique<IconsProvider>(ComPtr<Lumo::IUixInstance>(&Host().Uix()));
        m_navigator = std::make_unique<FolderNavigator>(
            ComPtr<Lumo::ILumoInstance>(&Host()), ComPtr<Lumo::IAfsFileSystem>(m_file_system.Get()),
            [this](HRESULT result) {
                m_result = result;
                ++m_completions;
                return SUCCEEDED(result) ? m_list->Refill() : S_OK;
            });
        return RunGuarded([&] {
            m_list = std::make_unique<FileList>(
                ComPtr<Lumo::ILumoInstance>(&Host()), ComPtr<Lumo::IUixInstance>(&Host().Uix()),
                ComPtr<Lumo::IAfsFileSystem>(m_file_system.Get()), *m_icons,
                ComPtr<Lumo::IUixObj>(m_control), *m_navigator, [this](Lumo::IAfsName* name) {
                    m_confirmed.push_back(ComPtr<Lumo::IAfsName>(name));
                    return m_confirm_result;
                });
            return S_OK;
        });
    }
    HRESULT NavigateAndWait(Lumo::IAfsName* name) {
        const int before = m_completions;
        RETURN_IF_FAILED(OnUi([&] { return m_navigator->Navigate(name); }));
        const ULONGLONG deadline = GetTickCount64() + kDialogDeadline;
        while (m_completions == before && GetTickCount64() < deadline)
            Sleep(5);
        return m_completions > before ? m_result : E_ABORT;
    }
    static std::wstring TitleOf(Lumo::IAfsFileInfo* info) {
        Bstr title;
        info->get_Title(title.Put());
        return title.Text();
    }
    std::wstring Cell(long row, long column, DWORD* flags = nullptr) {
        std::wstring text;
        DWORD ignored = 0;
        EXPECT_EQ(
            OnUi([&] { return m_control->CellText(row, column, &text, flags ? flags : &ignored); }),
            S_OK);
        return text;
    }
    // Every row as "name|extension".
    std::vector<std::wstring> Rows() {
        std::vector<std::wstring> rows;
        long count = 0;
        OnUi([&] { return count = m_control->RowCount(), S_OK; });
        for (long row = 0; row < count; ++row)
            rows.push_back(Cell(row, 0) + L"|" + Cell(row, 1));
        return rows;
    }
    long RowOf(const std::wstring& row) {
        std::vector<std::wstring> rows = Rows();
        auto found = std::find(rows.begin(), rows.end(), row);
        EXPECT_NE(found, rows.end()) << testing::PrintToString(row);
        return static_cast<long>(found - rows.begin());
    }
    HRESULT ClickColumn(long column, long kind = 0) {
        return OnUi([&] { return m_control->ClickColumn(column, kind); });
    }
    std::vector<DWORD> ColumnStyles() {
        std::vector<DWORD> styles;
        OnUi([&] {
            for (const auto& column : m_control->Columns())
                styles.push_back(column.style);
            return S_OK;
        });
        return styles;
    }

    ComPtr<OpenDialog> m_handler;
    ComPtr<HostDialog> m_dialog;
    HostControl* m_control = nullptr;
    std::unique_ptr<IconsProvider> m_icons;
    std::unique_ptr<FolderNavigator> m_navigator;
    std::unique_ptr<FileList> m_list;
    std::atomic<int> m_completions{0};
    HRESULT m_result = E_PENDING;
    std::vector<ComPtr<Lumo::IAfsName>> m_confirmed;
    HRESULT m_confirm_result = S_OK;
};

TEST_F(FileListTest, ColumnsCarryTheirTextsHintsWidthsAndTheNameArrow) {
    RECT client{};
    long reserved = 0;
    std::vector<HostControl::ListColumn> columns;
    ASSERT_EQ(OnUi([&]() -> HRESULT {
                  RETURN_IF_FAILED(m_control->get_ClientRect(&client));
                  RETURN_IF_FAILED(
                      Host().Uix().GetMetric(Lumo::UIX_Metric_ListReservedWidth, &reserved));
                  columns = m_control->Columns();
                  return S_OK;
              }),
              S_OK);
    struct Expected {
        const wchar_t* id;
        float fraction;
        DWORD style;
    } expected[] = {{L"gd.ls.column.title", 0.4f, Lumo::UIX_ListColumnStyle_IconUp},
                    {L"gd.ls.column.extension", 0.1f, 0},
                    {L"gd.ls.column.created", 0.2f, 0},
                    {L"gd.ls.column.modified", 0.2f, 0},
                    {L"gd.ls.column.size", 0.1f, 0}};
    ASSERT_EQ(columns.size(), 5u);
    const long available = client.right - client.left - reserved;
    ASSERT_GT(available, 0);
    for (size_t i = 0; i < columns.size(); ++i) {
        EXPECT_EQ(columns[i].text, String(expected[i].id)) << i;
        EXPECT_EQ(columns[i].hint, String((std::wstring(expected[i].id) + L".hint").c_str())) << i;
        EXPECT_EQ(columns[i].width,
                  static_cast<long>(static_cast<float>(available) * expected[i].fraction))
            << i;
        EXPECT_EQ(columns[i].style, expected[i].style) << i;
    }
}

TEST_F(FileListTest, RowsShowTheParentFoldersFirstAndEachCellsTextAndIcon) {
    EXPECT_EQ(Rows(), (std::vector<std::wstring>{L"..|", L"Alpha|", L"beta|", L"archive.tar|gz",
                                                 L"notes|", L"report|pdf", L"Report|txt"}));
    // Dates and sizes: none for "..", no size for folders, the host's size text.
    Bstr size_text;
    ASSERT_EQ(Host().FormatSize(300, Lumo::LUMO_SizeFormat_Auto, size_text.Put()), S_OK);
    const long report = RowOf(L"report|pdf"), alpha = RowOf(L"Alpha|");
    EXPECT_EQ(Cell(report, 4), size_text.Text());
    EXPECT_EQ(Cell(alpha, 4), L"");
    EXPECT_FALSE(Cell(alpha, 2).empty());
    EXPECT_NE(Cell(alpha, 2), Cell(alpha, 3));
    for (long column = 1; column < 5; ++column)
        EXPECT_EQ(Cell(0, column), L"") << column;
    DWORD flags = 0;
    Cell(report, 4, &flags);
    EXPECT_EQ(flags, 0x4u);
    Cell(report, 0, &flags);
    EXPECT_EQ(flags, 0x400u);

    struct IconCase {
        std::wstring row;
        const wchar_t* key;
    } icons[] = {
        {L"..|", L"ico.folder.opened"}, {L"Alpha|", L"ico.folder"}, {L"beta|", L"ico.folder"},
        {L"report|pdf", L".pdf"},       {L"notes|", L"."},          {L"archive.tar|gz", L".gz"}};
    for (const IconCase& c : icons) {
        const long row = RowOf(c.row);
        ComPtr<Lumo::IUixImage> image;
        double opacity = 0;
        SIZE size{};
        ASSERT_EQ(OnUi([&] { return m_control->CellImage(row, 0, &image, &opacity, &size); }),
                  S_OK);
        EXPECT_EQ(static_cast<HostImage*>(image.Get())->m_key, c.key) << c.row;
        EXPECT_EQ(opacity, 1.0);
        EXPECT_EQ(size.cx, 16);
        EXPECT_EQ(size.cy, 16);
        EXPECT_EQ(OnUi([&] { return m_control->CellImage(row, 1, &image, &opacity, &size); }),
                  S_FALSE);
    }
    EXPECT_EQ(Host().Uix().IconCalls(L"ico.folder"), 1);
}

TEST_F(FileListTest, EveryColumnSortsBothWaysWithFoldersFirst) {
    using Rows_ = std::vector<std::wstring>;
    struct Click {
        long column;
        Rows_ rows;
        DWORD arrow;
    } clicks[] = {
        {0,
         {L"..|", L"beta|", L"Alpha|", L"Report|txt", L"report|pdf", L"notes|", L"archive.tar|gz"},
         1},
        {1,
         {L"..|", L"Alpha|", L"beta|", L"notes|", L"archive.tar|gz", L"report|pdf", L"Report|txt"},
         2},
        {1,
         {L"..|", L"beta|", L"Alpha|", L"Report|txt", L"report|pdf", L"archive.tar|gz", L"notes|"},
         1},
        {2,
         {L"..|", L"Alpha|", L"beta|", L"archive.tar|gz", L"report|pdf", L"notes|", L"Report|txt"},
         2},
        {2,
         {L"..|", L"beta|", L"Alpha|", L"Report|txt", L"notes|", L"report|pdf", L"archive.tar|gz"},
         1},
        {3,
         {L"..|", L"beta|", L"Alpha|", L"Report|txt", L"report|pdf", L"archive.tar|gz", L"notes|"},
         2},
        {3,
         {L"..|", L"Alpha|", L"beta|", L"notes|", L"archive.tar|gz", L"report|pdf", L"Report|txt"},
         1},
        {4,
         {L"..|", L"Alpha|", L"beta|", L"archive.tar|gz", L"Report|txt", L"notes|", L"report|pdf"},
         2},
        {4,
         {L"..|", L"beta|", L"Alpha|", L"report|pdf", L"notes|", L"Report|txt", L"archive.tar|gz"},
         1},
    };
    for (const Click& click : clicks) {
        ASSERT_EQ(ClickColumn(click.column), S_OK);
        EXPECT_EQ(Rows(), click.rows) << "column " << click.column;
        std::vector<DWORD> styles(5, 0);
        styles[static_cast<size_t>(click.column)] = click.arrow;
        EXPECT_EQ(ColumnStyles(), styles) << "column " << click.column;
    }
    // Other buttons do nothing; a refill keeps the order.
    ASSERT_EQ(ClickColumn(0, 2), S_OK);
    EXPECT_EQ(Rows(), clicks[8].rows);
    ASSERT_EQ(OnUi([&] { return m_list->Refill(); }), S_OK);
    EXPECT_EQ(Rows(), clicks[8].rows);
}

TEST_F(FileListTest, TheFileTypeFilterLeavesFoldersAndMatchingFiles) {
    ASSERT_EQ(OnUi([&] {
                  m_list->SetFilter(
                      std::make_shared<PatternFilter>(std::vector<std::wstring>{L"PDF"}));
                  return m_list->Refill();
              }),
              S_OK);
    EXPECT_EQ(Rows(), (std::vector<std::wstring>{L"..|", L"Alpha|", L"beta|", L"report|pdf"}));
    ASSERT_EQ(OnUi([&] {
                  m_list->SetFilter(
                      std::make_shared<PatternFilter>(std::vector<std::wstring>{L"*"}));
                  return m_list->Refill();
              }),
              S_OK);
    EXPECT_EQ(Rows().size(), 7u);

    // The test itself, on the rows' names.
    std::vector<ShownEntry> shown;
    OnUi([&] { return shown = m_list->ShownEntries(), S_OK; });
    auto name = [&](const wchar_t* title) {
        for (const ShownEntry& entry : shown)
            if (TitleOf(entry.info.Get()) == title)
                return entry.name;
        return ComPtr<Lumo::IAfsName>();
    };
    using Patterns = std::vector<std::wstring>;
    struct Case {
        const wchar_t* title;
        Patterns patterns;
        bool matches;
    } cases[] = {
        {L"report.pdf", {L"pdf"}, true},    {L"report.pdf", {L"PDF", L"txt"}, true},
        {L"report.pdf", {L"txt"}, false},   {L"report.pdf", {}, false},
        {L"archive.tar.gz", {L"gz"}, true}, {L"archive.tar.gz", {L"tar.gz"}, false},
        {L"notes", {L"*"}, true},           {L"notes", {L"pdf"}, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(MatchesFileType(name(c.title).Get(), &c.patterns), c.matches) << c.title;
    EXPECT_TRUE(MatchesFileType(name(L"notes").Get(), nullptr));
    EXPECT_FALSE(MatchesFileType(nullptr, nullptr));
}

TEST_F(FileListTest, ConfirmingActivationsAndSelectionsReachTheCaller) {
    const long report = RowOf(L"report|pdf"), alpha = RowOf(L"Alpha|");
    std::vector<ShownEntry> shown;
    OnUi([&] { return shown = m_list->ShownEntries(), S_OK; });
    ASSERT_EQ(OnUi([&] { return m_control->ActivateRow(report, 0); }), S_OK);
    EXPECT_TRUE(m_confirmed.empty());
    ASSERT_EQ(OnUi([&] { return m_control->ActivateRow(report); }), S_OK);
    ASSERT_EQ(m_confirmed.size(), 1u);
    EXPECT_EQ(m_confirmed[0].Get(), shown[static_cast<size_t>(report - 1)].name.Get());
    m_confirm_result = GD_E_CANCELLED;
    EXPECT_EQ(OnUi([&] { return m_control->ActivateRow(alpha); }), GD_E_CANCELLED);
    EXPECT_EQ(m_confirmed.size(), 2u);

    ComPtr<NameList> folders, files;
    ASSERT_EQ(MakeObject(&folders), S_OK);
    ASSERT_EQ(MakeObject(&files), S_OK);
    ASSERT_EQ(OnUi([&]() -> HRESULT {
                  RETURN_IF_FAILED(m_control->SetStyle(Lumo::UIX_ListStyle_MultiSelect,
                                                       Lumo::UIX_ListStyle_MultiSelect));
                  RETURN_IF_FAILED(m_control->SelectRows({0, alpha, report}));
                  return m_list->GetSelection(folders.Get(), files.Get());
              }),
              S_OK);
    long folder_count = 0, file_count = 0;
    folders->get_Count(&folder_count);
    files->get_Count(&file_count);
    EXPECT_EQ(folder_count, 2);
    ASSERT_EQ(file_count, 1);
    ComPtr<Lumo::IAfsName> file;
    ASSERT_EQ(files->get_Item(0, file.Put()), S_OK);
    EXPECT_EQ(file.Get(), m_confirmed[0].Get());
}

} // namespace
} // namespace gd
