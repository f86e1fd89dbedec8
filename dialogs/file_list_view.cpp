#include "dialogs/file_list_view.h"

#include "dialogs/invariant_text.h"
#include "dialogs/uix_dialog.h"
#include "drivefs/drive_name.h"
#include "dialogs/traced_call.h"
#include "errors/check.h"
#include "errors/codes.h"
#include "plugin/com_object.h"

#include <shlwapi.h>

#include <algorithm>
#include <array>

namespace gd {
namespace {

constexpr long kColumnCount = 5;
constexpr long kTitleColumn = 0;
constexpr long kExtensionColumn = 1;
constexpr DWORD kLeftTextFlags = 0x400;
constexpr DWORD kRightTextFlags = 0x4;
constexpr DWORD kArrows = Lumo::UIX_ListColumnStyle_IconDown | Lumo::UIX_ListColumnStyle_IconUp;
constexpr long kIconSize = 16;
constexpr wchar_t kParentTitle[] = L"..";

int Sign(LONGLONG a, LONGLONG b) {
    return a < b ? -1 : (a > b ? 1 : 0);
}

// "date time" in the user's default formats; empty when a step fails.
std::wstring TimeText(LONGLONG time) {
    FILETIME file_time{static_cast<DWORD>(time), static_cast<DWORD>(time >> 32)};
    SYSTEMTIME system_time{};
    if (!FileTimeToSystemTime(&file_time, &system_time))
        return {};
    wchar_t date[256], clock[256];
    if (GetDateFormatW(LOCALE_USER_DEFAULT, 0, &system_time, nullptr, date, 256) == 0 ||
        GetTimeFormatW(LOCALE_USER_DEFAULT, 0, &system_time, nullptr, clock, 256) == 0)
        return {};
    return std::wstring(date) + L" " + clock;
}

} // namespace

std::wstring ExtensionPart(const std::wstring& title) {
    return PathFindExtensionW(title.c_str());
}

bool MatchesFileType(Lumo::IAfsName* name, const std::vector<std::wstring>* patterns) {
    ComPtr<IDriveName> own;
    if (name == nullptr || FAILED(name->QueryInterface(__uuidof(IDriveName), own.PutVoid())))
        return false;
    std::shared_ptr<DriveFile> file = own->File();
    if (!file || !file->item)
        return false;
    if (patterns == nullptr)
        return true;
    const std::wstring& title = file->item->title;
    size_t dot = title.rfind(L'.');
    std::wstring_view extension;
    if (dot != std::wstring::npos)
        extension = std::wstring_view(title).substr(dot + 1);
    return std::any_of(patterns->begin(), patterns->end(), [&](const std::wstring& pattern) {
        return pattern == L"*" || EqualIgnoringCase(pattern, extension);
    });
}

// One row; the ".." row has no details.
struct ListItem {
    ComPtr<Lumo::IAfsName> m_name;
    ComPtr<Lumo::IAfsFileInfo> info;
    ComPtr<Lumo::IUixImage> icon;
    bool is_folder = false;
    bool has_details = false;
    std::wstring title;
    std::wstring extension;
    std::wstring created_text;
    std::wstring modified_text;
    std::wstring size_text;
    // The sort keys, read once from info.
    LONGLONG created = 0;
    LONGLONG modified = 0;
    LONGLONG size = 0;
};

class Column {
public:
    Column(const wchar_t* text_id, const wchar_t* hint_id, float width_fraction)
        : m_text_id(text_id), m_hint_id(hint_id), m_width_fraction(width_fraction) {}
    virtual ~Column() = default;

    const wchar_t* TextId() const { return m_text_id; }
    const wchar_t* HintId() const { return m_hint_id; }
    float WidthFraction() const { return m_width_fraction; }

    HRESULT GetItemText(const ListItem& item, LPCWSTR* text, long* length, DWORD* flags) const {
        RETURN_HR_IF(E_POINTER, text == nullptr || length == nullptr || flags == nullptr);
        const std::wstring& field = Field(item);
        *text = field.c_str();
        *length = static_cast<long>(field.size());
        *flags = DrawTextFlags();
        return S_OK;
    }
    virtual HRESULT GetItemImage(const ListItem&, Lumo::IUixImage** image, double* opacity) const {
        RETURN_HR_IF(E_POINTER, image == nullptr || opacity == nullptr);
        *image = nullptr;
        *opacity = 0;
        return S_FALSE;
    }
    virtual HRESULT GetItemImageSize(const ListItem&, SIZE* size) const {
        RETURN_HR_IF_NULL(E_POINTER, size);
        *size = SIZE{0, 0};
        return S_FALSE;
    }
    // Folders first and the ".." row before them, whatever the direction;
    // then the column's key in the direction.
    int Compare(const ListItem& a, const ListItem& b, bool ascending) const {
        if (a.is_folder != b.is_folder)
            return a.is_folder ? -1 : 1;
        if (a.has_details != b.has_details)
            return a.has_details ? 1 : -1;
        int key = CompareKey(a, b);
        return ascending ? key : -key;
    }

protected:
    virtual const std::wstring& Field(const ListItem& item) const = 0;
    virtual DWORD DrawTextFlags() const { return kLeftTextFlags; }
    virtual int CompareKey(const ListItem& a, const ListItem& b) const {
        return CompareIgnoringCase(Field(a), Field(b));
    }

private:
    const wchar_t* m_text_id;
    const wchar_t* m_hint_id;
    float m_width_fraction;
};

class TitleColumn : public Column {
public:
    TitleColumn() : Column(L"gd.ls.column.title", L"gd.ls.column.title.hint", 0.4f) {}
    HRESULT GetItemImage(const ListItem& item, Lumo::IUixImage** image,
                         double* opacity) const override {
        RETURN_HR_IF(E_POINTER, image == nullptr || opacity == nullptr);
        *opacity = 1.0;
        return item.icon.CopyTo(image);
    }
    HRESULT GetItemImageSize(const ListItem&, SIZE* size) const override {
        RETURN_HR_IF_NULL(E_POINTER, size);
        *size = SIZE{kIconSize, kIconSize};
        return S_OK;
    }

protected:
    const std::wstring& Field(const ListItem& item) const override { return item.title; }
};

class ExtensionColumn : public Column {
public:
    ExtensionColumn() : Column(L"gd.ls.column.extension", L"gd.ls.column.extension.hint", 0.1f) {}

protected:
    const std::wstring& Field(const ListItem& item) const override { return item.extension; }
};

class CreatedColumn : public Column {
public:
    CreatedColumn() : Column(L"gd.ls.column.created", L"gd.ls.column.created.hint", 0.2f) {}

protected:
    const std::wstring& Field(const ListItem& item) const override { return item.created_text; }
    int CompareKey(const ListItem& a, const ListItem& b) const override {
        return Sign(a.created, b.created);
    }
};

class ModifiedColumn : public Column {
public:
    ModifiedColumn() : Column(L"gd.ls.column.modified", L"gd.ls.column.modified.hint", 0.2f) {}

protected:
    const std::wstring& Field(const ListItem& item) const override { return item.modified_text; }
    int CompareKey(const ListItem& a, const ListItem& b) const override {
        return Sign(a.modified, b.modified);
    }
};

class SizeColumn : public Column {
public:
    SizeColumn() : Column(L"gd.ls.column.size", L"gd.ls.column.size.hint", 0.1f) {}

protected:
    const std::wstring& Field(const ListItem& item) const override { return item.size_text; }
    DWORD DrawTextFlags() const override { return kRightTextFlags; }
    int CompareKey(const ListItem& a, const ListItem& b) const override {
        if (a.is_folder && b.is_folder)
            return 0;
        return Sign(a.size, b.size);
    }
};

// The object the host list calls back.
class FileListImpl : public ComObject<Lumo::IUixListCallback> {
public:
    FileListImpl(ComPtr<Lumo::ILumoInstance> host, ComPtr<Lumo::IUixInstance> ui,
                 ComPtr<Lumo::IAfsFileSystem> file_system, IconsProvider& icons,
                 FolderNavigator& navigator, FileList::Confirmed on_confirmed)
        : m_host(std::move(host)), m_ui(std::move(ui)), m_icons_provider(icons),
          m_file_system(std::move(file_system)), m_navigator(navigator),
          m_on_confirmed(std::move(on_confirmed)) {}

    HRESULT STDMETHODCALLTYPE GetItemText(const Lumo::UIX_ListItemId* item, LPCWSTR* text,
                                          long* length, DWORD* draw_text_flags) override;
    HRESULT STDMETHODCALLTYPE GetItemImage(const Lumo::UIX_ListItemId* item,
                                           Lumo::IUixImage** image, double* opacity) override;
    HRESULT STDMETHODCALLTYPE GetItemImageSize(const Lumo::UIX_ListItemId* item,
                                               SIZE* size) override;
    HRESULT STDMETHODCALLTYPE OnItemActivated(const Lumo::UIX_ListItemId* item,
                                              DWORD flags) override;
    HRESULT STDMETHODCALLTYPE OnColumnClick(long column, long click_kind) override;

    void SetUpColumns(Lumo::IUixObj* list_object);
    HRESULT Refill();
    HRESULT Clear();
    HRESULT GetSelection(Lumo::IAfsNameList* folders, Lumo::IAfsNameList* files);
    std::vector<ShownEntry> ShownEntries() const;
    void Detach();

    ComPtr<Lumo::ILumoInstance> m_host;
    ComPtr<Lumo::IUixInstance> m_ui;
    IconsProvider& m_icons_provider;
    ComPtr<Lumo::IAfsFileSystem> m_file_system;
    ComPtr<Lumo::IUixList> m_list;
    FolderNavigator& m_navigator;
    std::shared_ptr<const FileFilter> m_filter;
    FileList::Confirmed m_on_confirmed;

private:
    struct SortOrder {
        long column = kTitleColumn;
        bool ascending = true;
    };
    const ListItem* Row(const Lumo::UIX_ListItemId* item) const;
    const Column* CellColumn(const Lumo::UIX_ListItemId* item) const;
    SortOrder CurrentSort() const;
    // Whether a goes before b: the sort column, then Name, then Extension.
    bool Before(const ListItem& a, const ListItem& b, SortOrder order) const;
    HRESULT AddParentRow(std::vector<ListItem>* rows);
    HRESULT AddEntry(Lumo::IAfsName* name, Lumo::IAfsFileInfo* info, Lumo::IUixImage* folder_icon,
                     std::vector<ListItem>* rows);
    HRESULT FillDetails(ListItem* row);

    const TitleColumn m_title;
    const ExtensionColumn m_extension;
    const CreatedColumn m_created;
    const ModifiedColumn m_modified;
    const SizeColumn m_size;
    const std::array<const Column*, kColumnCount> m_columns{&m_title, &m_extension, &m_created,
                                                            &m_modified, &m_size};
    std::vector<ListItem> m_items;
};

const ListItem* FileListImpl::Row(const Lumo::UIX_ListItemId* item) const {
    if (item == nullptr || item->nItem < 0 || item->nItem >= static_cast<long>(m_items.size()))
        return nullptr;
    return &m_items[static_cast<size_t>(item->nItem)];
}

const Column* FileListImpl::CellColumn(const Lumo::UIX_ListItemId* item) const {
    if (item == nullptr || item->nColumn < 0 || item->nColumn >= kColumnCount)
        return nullptr;
    return m_columns[static_cast<size_t>(item->nColumn)];
}

HRESULT FileListImpl::GetItemText(const Lumo::UIX_ListItemId* item, LPCWSTR* text, long* length,
                                  DWORD* draw_text_flags) {
    const Column* column = CellColumn(item);
    const ListItem* row = Row(item);
    RETURN_HR_IF(E_INVALIDARG, column == nullptr || row == nullptr);
    RETURN_IF_FAILED(column->GetItemText(*row, text, length, draw_text_flags));
    return S_OK;
}

HRESULT FileListImpl::GetItemImage(const Lumo::UIX_ListItemId* item, Lumo::IUixImage** image,
                                   double* opacity) {
    const Column* column = CellColumn(item);
    const ListItem* row = Row(item);
    RETURN_HR_IF(E_INVALIDARG, column == nullptr || row == nullptr);
    RETURN_IF_FAILED(column->GetItemImage(*row, image, opacity));
    return S_OK;
}

HRESULT FileListImpl::GetItemImageSize(const Lumo::UIX_ListItemId* item, SIZE* size) {
    const Column* column = CellColumn(item);
    const ListItem* row = Row(item);
    RETURN_HR_IF(E_INVALIDARG, column == nullptr || row == nullptr);
    RETURN_IF_FAILED(column->GetItemImageSize(*row, size));
    return S_OK;
}

HRESULT FileListImpl::OnItemActivated(const Lumo::UIX_ListItemId* item, DWORD flags) {
    const ListItem* row = Row(item);
    RETURN_HR_IF(E_INVALIDARG, row == nullptr || !row->m_name);
    if (flags == 0 || !m_on_confirmed)
        return S_OK;
    // The callback may refill the list: keep the name past the row.
    ComPtr<Lumo::IAfsName> name = row->m_name;
    return RunGuarded([&]() -> HRESULT {
        RETURN_IF_FAILED_AS("m_on_confirmed(item.m_name)", m_on_confirmed(name.Get()));
        return S_OK;
    });
}

HRESULT FileListImpl::OnColumnClick(long column_index, long click_kind) {
    if (click_kind > 1)
        return S_OK;
    RETURN_HR_IF(E_INVALIDARG, column_index < 0 || column_index >= kColumnCount);
    RETURN_HR_IF_NULL(GD_E_MISSING, m_list.Get());
    SortOrder order = CurrentSort();
    RETURN_IF_FAILED_AS("m_list->SetColumn(sorted_column, 16, nullptr, nullptr, nullptr, 0, 0, "
                        "Lumo::UIX_ListColumnStyle::UIX_ListColumnStyle_IconDown | "
                        "Lumo::UIX_ListColumnStyle::UIX_ListColumnStyle_IconUp, 0)",
                        m_list->SetColumn(order.column, Lumo::UIX_ListColumnMask_Style, nullptr,
                                          nullptr, nullptr, 0, 0, kArrows, 0));
    order.ascending = column_index != order.column || !order.ascending;
    order.column = column_index;
    const DWORD arrow =
        order.ascending ? Lumo::UIX_ListColumnStyle_IconUp : Lumo::UIX_ListColumnStyle_IconDown;
    LogIfFailed("m_list->SetColumn(static_cast<long>(column_index), 16, nullptr, nullptr, "
                "nullptr, 0, ascending ? Lumo::UIX_ListColumnStyle::UIX_ListColumnStyle_IconUp : "
                "Lumo::UIX_ListColumnStyle::UIX_ListColumnStyle_IconDown, "
                "Lumo::UIX_ListColumnStyle::UIX_ListColumnStyle_IconUp | "
                "Lumo::UIX_ListColumnStyle::UIX_ListColumnStyle_IconDown, 0)",
                m_list->SetColumn(column_index, Lumo::UIX_ListColumnMask_Style, nullptr, nullptr,
                                  nullptr, 0, arrow, kArrows, 0));
    return RunGuarded([&]() -> HRESULT {
        std::sort(m_items.begin(), m_items.end(),
                  [&](const ListItem& a, const ListItem& b) { return Before(a, b, order); });
        RETURN_IF_FAILED(m_list->RedrawItems(0, static_cast<long>(m_items.size())));
        return S_OK;
    });
}

FileListImpl::SortOrder FileListImpl::CurrentSort() const {
    for (long index = 0; index < kColumnCount; ++index) {
        DWORD style = 0;
        if (FAILED(m_list->get_ColumnStyle(index, &style)) || (style & kArrows) == 0)
            continue;
        return SortOrder{index, (style & Lumo::UIX_ListColumnStyle_IconUp) != 0};
    }
    return SortOrder{};
}

bool FileListImpl::Before(const ListItem& a, const ListItem& b, SortOrder order) const {
    int result = m_columns[static_cast<size_t>(order.column)]->Compare(a, b, order.ascending);
    if (result == 0 && order.column != kTitleColumn)
        result = m_title.Compare(a, b, order.ascending);
    if (result == 0 && order.column != kExtensionColumn)
        result = m_extension.Compare(a, b, order.ascending);
    return result < 0;
}

void FileListImpl::SetUpColumns(Lumo::IUixObj* list_object) {
    if (list_object == nullptr)
        ThrowTraced("list_object != nullptr", E_FAIL);
    RECT list_rect{};
    THROW_IF_FAILED(list_object->get_ClientRect(&list_rect));
    THROW_IF_FAILED(ComPtr<Lumo::IUixObj>(list_object).As(&m_list));
    long reserved = 0;
    if (m_ui)
        LOG_IF_FAILED(m_ui->GetMetric(Lumo::UIX_Metric_ListReservedWidth, &reserved));
    const long available = list_rect.right - list_rect.left - reserved;
    for (const Column* column : m_columns) {
        std::wstring text, hint;
        LOG_IF_FAILED(LocalizedString(m_host.Get(), column->TextId(), &text));
        LOG_IF_FAILED(LocalizedString(m_host.Get(), column->HintId(), &hint));
        const long width =
            static_cast<long>(static_cast<float>(available) * column->WidthFraction());
        LOG_IF_FAILED(m_list->InsertColumn(-1, width, text.c_str(), hint.c_str()));
    }
    LOG_IF_FAILED(m_list->SetColumn(kTitleColumn, Lumo::UIX_ListColumnMask_Style, nullptr, nullptr,
                                    nullptr, 0, Lumo::UIX_ListColumnStyle_IconUp, kArrows, 0));
}

HRESULT FileListImpl::Clear() {
    m_items.clear();
    RETURN_HR_IF_NULL(GD_E_MISSING, m_list.Get());
    RETURN_IF_FAILED(m_list->RemoveAllItems());
    return S_OK;
}

HRESULT FileListImpl::Refill() {
    RETURN_IF_FAILED_AS("Clear()", Clear());
    return RunGuarded([&]() -> HRESULT {
        ComPtr<Lumo::IAfsName> folder = m_navigator.GetFolder();
        // Nothing is listed without a folder.
        if (!folder)
            return S_OK;
        std::vector<ListItem> rows;
        RETURN_IF_FAILED(AddParentRow(&rows));
        ComPtr<Lumo::IUixImage> folder_icon;
        RETURN_IF_FAILED_AS("m_impl->m_icons_provider.GetIcon(&folder_icon, L\"./\")",
                            m_icons_provider.GetIcon(folder_icon.Put(), kFolderIconKey));
        const FolderNavigator::Entries& entries = m_navigator.GetEntries();
        rows.reserve(rows.size() + entries.size());
        for (const auto& item : entries) {
            HRESULT hr = AddEntry(item.first.Get(), item.second.Get(), folder_icon.Get(), &rows);
            if (FAILED(hr)) {
                m_items = std::move(rows);
                return hr;
            }
        }
        // Each row inserted at the lower bound of the order ends where a
        // stable sort of the reversed sequence puts it.
        std::reverse(rows.begin(), rows.end());
        const SortOrder order = CurrentSort();
        std::stable_sort(rows.begin(), rows.end(),
                         [&](const ListItem& a, const ListItem& b) { return Before(a, b, order); });
        m_items = std::move(rows);
        for (size_t i = 0; i < m_items.size(); ++i)
            RETURN_IF_FAILED_AS("m_impl->m_list->InsertItem(-1, 0, 0)",
                                m_list->InsertItem(-1, 0, 0));
        return S_OK;
    });
}

HRESULT FileListImpl::AddParentRow(std::vector<ListItem>* rows) {
    ComPtr<Lumo::IAfsName> parent_folder;
    RETURN_IF_FAILED_AS(
        "m_impl->m_file_system->NameGetParent(m_impl->m_navigator.GetFolder(), &parent_folder)",
        m_file_system->NameGetParent(m_navigator.GetFolder().Get(), parent_folder.Put()));
    if (!parent_folder)
        return S_OK;
    ListItem row;
    RETURN_IF_FAILED_AS(
        "m_impl->m_file_system->GetFileInfo(parent_folder, nullptr, nullptr, &file_info)",
        m_file_system->GetFileInfo(parent_folder.Get(), nullptr, nullptr, row.info.Put()));
    RETURN_IF_FAILED_AS("m_impl->m_icons_provider.GetIcon(&icon, L\"../\")",
                        m_icons_provider.GetIcon(row.icon.Put(), kParentIconKey));
    row.m_name = std::move(parent_folder);
    row.title = kParentTitle;
    row.is_folder = true;
    rows->push_back(std::move(row));
    return S_OK;
}

HRESULT FileListImpl::AddEntry(Lumo::IAfsName* name, Lumo::IAfsFileInfo* info,
                               Lumo::IUixImage* folder_icon, std::vector<ListItem>* rows) {
    RETURN_HR_IF(GD_E_UNEXPECTED, name == nullptr || info == nullptr);
    Bstr title;
    RETURN_IF_FAILED_AS("item.second->get_Title(&title)", info->get_Title(title.Put()));
    DWORD attributes = 0;
    RETURN_IF_FAILED_AS("item.second->get_Attributes(&attributes)",
                        info->get_Attributes(&attributes));
    ListItem row;
    row.is_folder = (attributes & Lumo::AFS_Attribute_Folder) != 0;
    if (row.is_folder) {
        row.icon = ComPtr<Lumo::IUixImage>(folder_icon);
        row.title.assign(title.Text(), title.Length());
    } else {
        if (m_filter && !m_filter->Accepts(name))
            return S_OK;
        std::wstring whole(title.Text(), title.Length());
        std::wstring extension = ExtensionPart(whole);
        RETURN_IF_FAILED_AS("m_impl->m_icons_provider.GetIcon(&icon, extension)",
                            m_icons_provider.GetIcon(row.icon.Put(), extension.c_str()));
        row.title = whole.substr(0, whole.size() - extension.size());
        row.extension = extension.empty() ? std::wstring() : extension.substr(1);
    }
    row.m_name = ComPtr<Lumo::IAfsName>(name);
    row.info = ComPtr<Lumo::IAfsFileInfo>(info);
    row.has_details = true;
    RETURN_IF_FAILED(FillDetails(&row));
    rows->push_back(std::move(row));
    return S_OK;
}

HRESULT FileListImpl::FillDetails(ListItem* row) {
    RETURN_IF_FAILED(row->info->get_CreationTime(&row->created));
    RETURN_IF_FAILED(row->info->get_LastWriteTime(&row->modified));
    row->created_text = TimeText(row->created);
    row->modified_text = TimeText(row->modified);
    if (row->is_folder)
        return S_OK;
    RETURN_IF_FAILED(row->info->get_Size(&row->size));
    RETURN_HR_IF_NULL(GD_E_MISSING, m_host.Get());
    Bstr size_text;
    RETURN_IF_FAILED(m_host->FormatSize(row->size, Lumo::LUMO_SizeFormat_Auto, size_text.Put()));
    row->size_text.assign(size_text.Text(), size_text.Length());
    return S_OK;
}

HRESULT FileListImpl::GetSelection(Lumo::IAfsNameList* folders, Lumo::IAfsNameList* files) {
    RETURN_HR_IF(E_POINTER, folders == nullptr || files == nullptr);
    RETURN_IF_FAILED(folders->Clear());
    RETURN_IF_FAILED(files->Clear());
    RETURN_HR_IF_NULL(GD_E_MISSING, m_list.Get());
    Lumo::UIX_ListItemId selected{};
    HRESULT hr = m_list->GetFirstSelected(&selected);
    for (; hr == S_OK; hr = m_list->GetNextSelected(&selected)) {
        const ListItem* row = Row(&selected);
        if (row == nullptr || !row->m_name)
            continue;
        ComPtr<Lumo::IAfsFileInfo> info;
        RETURN_IF_FAILED_AS(
            "m_impl->m_file_system->GetFileInfo(item.m_name, nullptr, nullptr, &info)",
            m_file_system->GetFileInfo(row->m_name.Get(), nullptr, nullptr, info.Put()));
        RETURN_HR_IF(GD_E_UNEXPECTED, !info);
        DWORD attributes = 0;
        RETURN_IF_FAILED_AS("info->get_Attributes(&attributes)", info->get_Attributes(&attributes));
        if ((attributes & Lumo::AFS_Attribute_Folder) != 0)
            RETURN_IF_FAILED_AS("folders.Add(item.m_name)", folders->Add(row->m_name.Get()));
        else
            RETURN_IF_FAILED_AS("files.Add(item.m_name)", files->Add(row->m_name.Get()));
    }
    RETURN_IF_FAILED(hr);
    return S_OK;
}

std::vector<ShownEntry> FileListImpl::ShownEntries() const {
    std::vector<ShownEntry> shown;
    shown.reserve(m_items.size());
    for (const ListItem& row : m_items) {
        if (row.has_details)
            shown.push_back(ShownEntry{row.m_name, row.info, row.is_folder});
    }
    return shown;
}

void FileListImpl::Detach() {
    m_items.clear();
    m_on_confirmed = nullptr;
    if (ComPtr<Lumo::IUixList> list = std::move(m_list))
        LOG_IF_FAILED(list->put_Callback(nullptr));
}

FileList::FileList(ComPtr<Lumo::ILumoInstance> host, ComPtr<Lumo::IUixInstance> ui,
                   ComPtr<Lumo::IAfsFileSystem> file_system, IconsProvider& icons,
                   ComPtr<Lumo::IUixObj> list_object, FolderNavigator& navigator,
                   Confirmed on_confirmed) {
    THROW_IF_FAILED(MakeObject(&m_impl, std::move(host), std::move(ui), std::move(file_system),
                               icons, navigator, std::move(on_confirmed)));
    m_impl->SetUpColumns(list_object.Get());
    THROW_IF_FAILED(m_impl->m_list->put_Callback(m_impl.Get()));
}

FileList::~FileList() {
    if (m_impl)
        m_impl->Detach();
}

HRESULT FileList::Refill() {
    return m_impl->Refill();
}

HRESULT FileList::Clear() {
    return m_impl->Clear();
}

void FileList::SetFilter(std::shared_ptr<const FileFilter> filter) {
    m_impl->m_filter = std::move(filter);
}

HRESULT FileList::GetSelection(Lumo::IAfsNameList* folders, Lumo::IAfsNameList* files) {
    return m_impl->GetSelection(folders, files);
}

std::vector<ShownEntry> FileList::ShownEntries() const {
    return m_impl->ShownEntries();
}

} // namespace gd
