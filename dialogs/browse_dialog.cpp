#include "dialogs/browse_dialog.h"

#include "errors/check.h"
#include "errors/codes.h"
#include "plugin/host_instance.h"

namespace gd {
namespace {

// The host list's draw-text flags for the rows' texts.
constexpr DWORD kRowTextFlags = 0x4400;
constexpr wchar_t kParentRowText[] = L"..";
constexpr wchar_t kUnknownTitle[] = L"Currently Unknown Filename";
constexpr wchar_t kFolderSuffix[] = L" <FOLDER>";

// A name without Drive item (or an account root) has none.
std::shared_ptr<DriveItem> ItemOf(IDriveName* name) {
    std::shared_ptr<DriveFile> file = name->File();
    return file ? file->item : nullptr;
}

bool IsFolder(IDriveName* name) {
    std::shared_ptr<DriveItem> item = ItemOf(name);
    return item && item->is_folder;
}

} // namespace

BrowseDialog::BrowseDialog(Lumo::ILumoInstance* host, ComPtr<IDriveName> start, long mode)
    : UixDialog(host), m_start(std::move(start)), m_mode(mode) {}

void* BrowseDialog::QueryMore(REFIID iid) {
    if (iid == __uuidof(Lumo::IUixListCallback))
        return static_cast<Lumo::IUixListCallback*>(this);
    return nullptr;
}

HRESULT BrowseDialog::Run(long* end_code) {
    RETURN_HR_IF_NULL(GD_E_MISSING, m_host.Get());
    HWND owner = nullptr;
    RETURN_IF_FAILED(m_host->get_MainWindow(&owner));
    return RunModal(L"DlgOpenFile", kBrowseDialogStyle, owner, end_code);
}

HRESULT BrowseDialog::OnInitDialog() {
    std::wstring title;
    if (SUCCEEDED(LOG_IF_FAILED(LocalizedString(
            m_host.Get(), m_mode == 0 ? L"gd.DlgOpenFile" : L"gd.DlgSaveFile", &title))))
        LOG_IF_FAILED(m_pObj->put_Text(title.c_str()));
    RETURN_IF_FAILED(m_host->GetNameId(L"btn.ok", Lumo::LUMO_NameId_Auto, &m_ok_id));
    RETURN_IF_FAILED(m_host->GetNameId(L"btn.cancel", Lumo::LUMO_NameId_Auto, &m_cancel_id));
    // Without its list the dialog stays empty.
    ComPtr<Lumo::IUixObj> list;
    if (FAILED(Item(L"gd.lst.Test", &list)) || FAILED(list.As(&m_list)))
        return S_OK;
    if (FAILED(LOG_IF_FAILED(m_list->put_Callback(this)))) {
        m_list.Reset();
        return S_OK;
    }
    RETURN_IF_FAILED(Fill(m_start));
    return S_OK;
}

HRESULT BrowseDialog::OnDestroy() {
    m_entries.clear();
    if (!m_list)
        return S_OK;
    ComPtr<Lumo::IUixList> list = std::move(m_list);
    RETURN_IF_FAILED(list->put_Callback(nullptr));
    return S_OK;
}

HRESULT BrowseDialog::OnNotify(long id, long kind) {
    if (kind != Lumo::UIX_Notify_Click)
        return S_OK;
    if (id == m_ok_id)
        return OnOk();
    if (id == m_cancel_id)
        return EndDialog(Lumo::UIX_ModalResult_Cancel);
    return S_OK;
}

HRESULT BrowseDialog::Fill(ComPtr<IDriveName> folder) {
    m_entries.clear();
    RETURN_HR_IF(GD_E_MISSING, !folder);
    ComPtr<Lumo::IAfsFileSystem> fileSystem;
    RETURN_IF_FAILED(folder->get_FileSystem(fileSystem.Put()));
    RETURN_HR_IF(GD_E_MISSING, !fileSystem);
    ComPtr<Lumo::IAfsEnumFolder> children;
    RETURN_IF_FAILED(fileSystem->EnumFolder(folder.Get(), nullptr, nullptr, children.Put()));
    RETURN_HR_IF(GD_E_MISSING, !children);
    m_current = folder;
    std::vector<ComPtr<IDriveName>> entries;
    for (;;) {
        ComPtr<Lumo::IAfsFileInfo> info;
        HRESULT hr = children->Next(info.Put());
        RETURN_IF_FAILED(hr);
        if (hr != S_OK || !info)
            break;
        ComPtr<Lumo::IAfsName> name;
        RETURN_IF_FAILED(info->get_Name(name.Put()));
        ComPtr<IDriveName> own = OwnName(name.Get(), fileSystem.Get());
        RETURN_HR_IF(GD_E_UNEXPECTED, !own);
        entries.push_back(std::move(own));
    }
    m_entries = std::move(entries);
    long same = Lumo::AFS_False;
    m_parent_row = FAILED(m_start->Compare(m_current.Get(), &same)) || same < Lumo::AFS_True;
    if (!m_list)
        return S_OK;
    const long rows = static_cast<long>(m_entries.size()) + (m_parent_row ? 1 : 0);
    RETURN_IF_FAILED(m_list->RemoveAllItems());
    RETURN_IF_FAILED(m_list->put_ItemCount(rows));
    RETURN_IF_FAILED(m_list->RedrawItems(0, rows));
    return S_OK;
}

bool BrowseDialog::IsParentRow(long row) const {
    return m_parent_row && row == 0;
}

ComPtr<IDriveName> BrowseDialog::EntryOfRow(long row) const {
    long index = row - (m_parent_row ? 1 : 0);
    if (index < 0 || index >= static_cast<long>(m_entries.size()))
        return nullptr;
    return m_entries[static_cast<size_t>(index)];
}

HRESULT BrowseDialog::GetItemText(const Lumo::UIX_ListItemId* item, LPCWSTR* text, long* length,
                                  DWORD* draw_text_flags) {
    RETURN_HR_IF(E_POINTER, item == nullptr || text == nullptr || length == nullptr ||
                                draw_text_flags == nullptr);
    *text = nullptr;
    *length = 0;
    *draw_text_flags = kRowTextFlags;
    return RunGuarded([&]() -> HRESULT {
        if (IsParentRow(item->nItem)) {
            m_cell_text = kParentRowText;
        } else {
            ComPtr<IDriveName> entry = EntryOfRow(item->nItem);
            if (!entry)
                return S_OK;
            std::shared_ptr<DriveItem> drive_item = ItemOf(entry.Get());
            m_cell_text = drive_item ? drive_item->title : kUnknownTitle;
            if (drive_item && drive_item->is_folder)
                m_cell_text += kFolderSuffix;
        }
        *text = m_cell_text.c_str();
        *length = static_cast<long>(m_cell_text.size());
        return S_OK;
    });
}

// Only a confirming activation (a double click, Enter) opens or chooses;
// a failed fill leaves the dialog as it is.
HRESULT BrowseDialog::OnItemActivated(const Lumo::UIX_ListItemId* item, DWORD flags) {
    RETURN_HR_IF_NULL(E_POINTER, item);
    return RunGuarded([&]() -> HRESULT {
        LOG_IF_FAILED(SetNameText(L""));
        if ((flags & Lumo::UIX_ListActivate_Confirm) == 0)
            return S_OK;
        if (IsParentRow(item->nItem)) {
            ComPtr<IDriveName> parent = m_current ? m_current->Parent() : nullptr;
            if (parent)
                LOG_IF_FAILED(Fill(std::move(parent)));
            return S_OK;
        }
        ComPtr<IDriveName> entry = EntryOfRow(item->nItem);
        if (!entry)
            return S_OK;
        if (IsFolder(entry.Get())) {
            LOG_IF_FAILED(Fill(std::move(entry)));
            return S_OK;
        }
        return Choose(std::move(entry));
    });
}

HRESULT BrowseDialog::OnOk() {
    ComPtr<Lumo::IUixObj> edit;
    Bstr typed;
    if (SUCCEEDED(Item(L"gd.ed.fileName", &edit)) && SUCCEEDED(edit->get_Text(typed.Put())))
        m_name_text.assign(typed.Text(), typed.Length());
    if (!m_list)
        return S_OK;
    Lumo::UIX_ListItemId selected{};
    HRESULT hr = m_list->GetFirstSelected(&selected);
    RETURN_IF_FAILED(hr);
    if (hr != S_OK || IsParentRow(selected.nItem))
        return S_OK;
    ComPtr<IDriveName> entry = EntryOfRow(selected.nItem);
    if (!entry)
        return S_OK;
    std::shared_ptr<DriveItem> drive_item = ItemOf(entry.Get());
    if (drive_item && !drive_item->is_folder)
        return Choose(std::move(entry));
    return ShowSelectFileMessage();
}

HRESULT BrowseDialog::Choose(ComPtr<IDriveName> file) {
    m_result = std::move(file);
    return EndDialog(Lumo::UIX_ModalResult_Ok);
}

HRESULT BrowseDialog::SetNameText(const wchar_t* text) {
    ComPtr<Lumo::IUixObj> edit;
    RETURN_IF_FAILED(Item(L"gd.ed.fileName", &edit));
    RETURN_IF_FAILED(edit->put_Text(text));
    return S_OK;
}

HRESULT BrowseDialog::ShowSelectFileMessage() {
    std::wstring text, caption;
    RETURN_IF_FAILED(LocalizedString(m_host.Get(), L"gd.msg.selectFile", &text));
    RETURN_IF_FAILED(LocalizedString(m_host.Get(), L"gd.cpt.selectFile", &caption));
    HWND window = nullptr;
    RETURN_IF_FAILED(m_pObj->get_Window(&window));
    RETURN_IF_FAILED(m_host->ShowMessage(text.c_str(), caption.c_str(), 0, window,
                                         Lumo::LUMO_MsgBox_Error, nullptr));
    return S_OK;
}

HRESULT RunBrowseDialog(ComPtr<IDriveName> start, ComPtr<Lumo::IAfsName>* chosen) {
    RETURN_HR_IF_NULL(E_POINTER, chosen);
    chosen->Reset();
    RETURN_HR_IF(GD_E_INVALID_ARG, !start);
    Lumo::ILumoInstance* host = HostInstance::Instance();
    RETURN_HR_IF_NULL(GD_E_MISSING, host);
    ComPtr<BrowseDialog> dialog;
    RETURN_IF_FAILED(MakeObject(&dialog, host, std::move(start), 0L));
    RETURN_IF_FAILED(RunOnHostUiThread(host, [dialog] {
        long end_code = 0;
        return dialog->Run(&end_code);
    }));
    if (ComPtr<IDriveName> result = dialog->Result())
        *chosen = ComPtr<Lumo::IAfsName>(result.Get());
    return S_OK;
}

} // namespace gd
