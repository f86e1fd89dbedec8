#include "dialogs/file_dialog.h"

#include "dialogs/invariant_text.h"
#include "drivefs/drive_name.h"
#include "drivefs/name_list.h"
#include "drivefs/name_text.h"
#include "errors/check.h"
#include "errors/codes.h"
#include "plugin/host_instance.h"

#include <algorithm>

namespace gd {
namespace {

// Host values the dialog passes through.
constexpr DWORD kListStyleBits = 0x4500;
constexpr DWORD kWaitIndicatorStyle = 2;
constexpr long kWaitIndicatorUnits = 48;
constexpr int kShowNoActivate = 8;
constexpr int kHide = 0;

std::wstring Substituted(std::wstring text, const std::wstring& argument) {
    size_t at = text.find(L"%1");
    if (at != std::wstring::npos)
        text.replace(at, 2, argument);
    return text;
}

// Every name between a pair of double quotes, or false when the text holds
// anything else outside them or leaves a quote open.
bool QuotedNames(const std::wstring& text, std::vector<std::wstring>* names) {
    size_t at = 0;
    for (;;) {
        while (at < text.size() && text[at] == L' ')
            ++at;
        if (at == text.size())
            return true;
        if (text[at] != L'"')
            return false;
        size_t close = text.find(L'"', at + 1);
        if (close == std::wstring::npos)
            return false;
        if (close > at + 1)
            names->push_back(text.substr(at + 1, close - at - 1));
        at = close + 1;
    }
}

class FileDialogRequest : public ComObject<Lumo::ILumoTask> {
public:
    FileDialogRequest(FileDialogMode mode, DWORD flags, ComPtr<Lumo::IAfsName> folder)
        : m_mode(mode), m_flags(flags), m_folder(std::move(folder)) {}

    HRESULT STDMETHODCALLTYPE Run() override {
        return RunGuarded([&]() -> HRESULT {
            Lumo::ILumoInstance* host = HostInstance::Instance();
            RETURN_HR_IF_NULL(GD_E_MISSING, host);
            ComPtr<FileDialog> dialog;
            RETURN_IF_FAILED(MakeObject(&dialog, host, m_mode, m_flags, m_folder));
            RETURN_IF_FAILED(dialog->Run());
            m_result = dialog->Result();
            m_folder = dialog->CurrentFolder();
            return S_OK;
        });
    }

    const FileDialogMode m_mode;
    const DWORD m_flags;
    ComPtr<Lumo::IAfsNameList> m_result;
    ComPtr<Lumo::IAfsName> m_folder;
};

} // namespace

std::vector<std::wstring> SplitTypedNames(const std::wstring& text, DWORD flags) {
    std::vector<std::wstring> names;
    if ((flags & kFileDialogSeveralNames) != 0 && QuotedNames(text, &names))
        return names;
    names.assign(1, text);
    if ((flags & kFileDialogAppendPdf) != 0 && text.find(L'.') == std::wstring::npos)
        names[0] += L".pdf";
    return names;
}

bool IsDialogCancellation(HRESULT hr) {
    return hr < 0 && CodeOf(hr) == ERROR_CANCELLED &&
           (IsOwnCode(hr) || HRESULT_FACILITY(hr) == FACILITY_WIN32);
}

FileDialog::FileDialog(Lumo::ILumoInstance* host, FileDialogMode mode, DWORD flags,
                       ComPtr<Lumo::IAfsName> start)
    : UixDialog(host), m_mode(mode), m_flags(flags), m_start(std::move(start)) {}

HRESULT FileDialog::Run() {
    RETURN_HR_IF_NULL(GD_E_MISSING, m_host.Get());
    HWND owner = nullptr;
    RETURN_IF_FAILED(m_host->get_MainWindow(&owner));
    long end_code = 0;
    return RunModal(L"DlgOpenFile", kFileDialogStyle, owner, &end_code);
}

long FileDialog::Id(const wchar_t* name) {
    long id = 0;
    if (FAILED(m_host->GetNameId(name, Lumo::LUMO_NameId_Auto, &id)))
        return -1;
    return id;
}

HRESULT FileDialog::OnInitDialog() {
    const bool open = m_mode == FileDialogMode::Open;
    std::wstring text;
    if (SUCCEEDED(LOG_IF_FAILED(
            LocalizedString(m_host.Get(), open ? L"gd.DlgOpenFile" : L"gd.DlgSaveFile", &text))))
        LOG_IF_FAILED(m_pObj->put_Text(text.c_str()));
    if (SUCCEEDED(LOG_IF_FAILED(LocalizedString(
            m_host.Get(), open ? L"dlg.open.actionBtnTitle" : L"dlg.save.actionBtnTitle", &text))))
        LOG_IF_FAILED(SetItemText(L"btn.ok", text));
    if (!m_start || FAILED(m_start->get_FileSystem(m_file_system.Put())) || !m_file_system)
        return S_OK;
    m_drive = dynamic_cast<DriveFileSystem*>(m_file_system.Get());
    LOG_IF_FAILED(InitFileTypes());
    LOG_IF_FAILED(InitAccounts());
    ComPtr<Lumo::IUixObj> list_object;
    RETURN_IF_FAILED(InitList(&list_object));
    return Navigate(m_start.Get());
}

HRESULT FileDialog::InitFileTypes() {
    ComPtr<Lumo::IUixObj> item;
    RETURN_IF_FAILED(Item(L"gd.cb.fileExtension", &item));
    ComPtr<Lumo::IUixCombo> combo;
    RETURN_IF_FAILED(item.As(&combo));
    m_filter = std::make_shared<FileTypeFilter>(combo);
    std::wstring filter;
    RETURN_IF_FAILED(BuildFilterText(m_host.Get(), m_mode == FileDialogMode::Open, &filter));
    return m_filter->Fill(ParseFilterText(filter));
}

HRESULT FileDialog::InitAccounts() {
    RETURN_HR_IF_NULL(GD_E_MISSING, m_drive);
    ComPtr<Lumo::IUixObj> combo;
    RETURN_IF_FAILED(Item(L"cb.googleAcc", &combo));
    ComPtr<AccountCombo> accounts;
    RETURN_IF_FAILED(MakeObject(&accounts));
    RETURN_IF_FAILED(accounts->Attach(combo, m_drive->Store()));
    m_accounts = accounts;
    RETURN_IF_FAILED(m_accounts->SetNavigateCallback(
        [this](const std::wstring& name) { return OnAccountChosen(name); }));
    return m_accounts->Fill();
}

HRESULT FileDialog::InitList(ComPtr<Lumo::IUixObj>* list_object) {
    RETURN_IF_FAILED(Item(L"gd.lst.Test", list_object));
    LOG_IF_FAILED((*list_object)->SetStyle(kListStyleBits, kListStyleBits));
    LOG_IF_FAILED(CreateWaitIndicator(list_object->Get()));
    Lumo::IUixInstance* ui = HostInstance::Uix();
    RETURN_HR_IF_NULL(GD_E_MISSING, ui);
    m_icons = std::make_unique<IconsProvider>(ComPtr<Lumo::IUixInstance>(ui));
    m_navigator = std::make_shared<FolderNavigator>(
        m_host, m_file_system, [this](HRESULT result) { return OnNavigated(result); });
    m_file_list = std::make_unique<FileList>(
        m_host, ComPtr<Lumo::IUixInstance>(ui), m_file_system, *m_icons, *list_object, *m_navigator,
        [this](Lumo::IAfsName* name) { return OnRowConfirmed(name); });
    m_file_list->SetFilter(m_filter);
    return S_OK;
}

HRESULT FileDialog::CreateWaitIndicator(Lumo::IUixObj* list_object) {
    Lumo::IUixInstance* ui = HostInstance::Uix();
    RETURN_HR_IF_NULL(GD_E_MISSING, ui);
    RECT client{};
    RETURN_IF_FAILED(list_object->get_ClientRect(&client));
    long size = 0;
    RETURN_IF_FAILED(ui->ScaleUnits(kWaitIndicatorUnits, &size));
    Lumo::UIX_CreateParams params{};
    RETURN_IF_FAILED(m_host->InitCreateParams(0, &params));
    params.kind = Lumo::UIX_ObjKind_WaitProgress;
    params.parent = list_object;
    params.id = L"WaitProgress";
    params.style = kWaitIndicatorStyle;
    const long left = (client.right - client.left - size) / 2;
    const long top = (client.bottom - client.top - size) / 2;
    params.rect = RECT{left, top, left + size, top + size};
    ComPtr<Lumo::IUixObj> indicator;
    RETURN_IF_FAILED(ui->CreateObj(&params, indicator.Put()));
    RETURN_HR_IF(GD_E_UNEXPECTED, !indicator);
    RETURN_IF_FAILED(indicator.As(&m_wait));
    m_wait_object = indicator;
    LOG_IF_FAILED(m_wait_object->Show(kHide));
    return S_OK;
}

void FileDialog::ShowBusy(bool busy) {
    if (!m_wait)
        return;
    LOG_IF_FAILED(m_wait_object->Show(busy ? kShowNoActivate : kHide));
    LOG_IF_FAILED(busy ? m_wait->Start() : m_wait->Stop());
}

HRESULT FileDialog::OnDestroy() {
    if (m_accounts)
        m_accounts->Detach();
    if (m_navigator)
        m_navigator->Stop();
    m_file_list.reset();
    m_navigator.reset();
    m_icons.reset();
    m_filter.reset();
    m_accounts.Reset();
    m_wait.Reset();
    m_wait_object.Reset();
    return S_OK;
}

HRESULT FileDialog::Navigate(Lumo::IAfsName* name) {
    if (!m_navigator || !m_file_list)
        return S_OK;
    LOG_IF_FAILED(m_file_list->Clear());
    m_has_selection = false;
    LOG_IF_FAILED(Enable(L"gd.lst.Test", false));
    if (m_mode == FileDialogMode::Open)
        LOG_IF_FAILED(SetItemText(L"gd.ed.fileName", L""));
    LOG_IF_FAILED(Enable(L"gd.ed.fileName", false));
    LOG_IF_FAILED(Enable(L"gd.cb.fileExtension", false));
    LOG_IF_FAILED(Enable(L"btn.ok", false));
    if (++m_busy == 1)
        ShowBusy(true);
    if (FAILED(LOG_IF_FAILED(m_navigator->Navigate(name)))) {
        if (--m_busy == 0)
            ShowBusy(false);
    }
    return S_OK;
}

HRESULT FileDialog::OnNavigated(HRESULT result) {
    if (m_busy > 0 && --m_busy == 0)
        ShowBusy(false);
    if (IsDialogCancellation(result))
        return EndDialog(Lumo::UIX_ModalResult_Cancel);
    if (FAILED(result)) {
        LOG_IF_FAILED(Ask(L"gd.msg.navigateError", L"gd.cpt.navigateError", L"",
                          Lumo::LUMO_MsgBox_Error, nullptr));
        return EndDialog(Lumo::UIX_ModalResult_Cancel);
    }
    m_current_folder = m_navigator->GetFolder();
    ComPtr<IDriveName> folder = OwnName(m_current_folder.Get(), m_file_system.Get());
    AccountEntryPtr entry;
    if (folder && SUCCEEDED(LOG_IF_FAILED(folder->GetAccountEntry(&entry))) && entry) {
        entry->SetLastFolder(m_current_folder);
        if (m_drive)
            LOG_IF_FAILED(m_drive->Store()->SelectAccount(entry->Name()));
    }
    LOG_IF_FAILED(m_file_list->Refill());
    LOG_IF_FAILED(Enable(L"gd.lst.Test", true));
    LOG_IF_FAILED(Enable(L"gd.ed.fileName", true));
    LOG_IF_FAILED(Enable(L"gd.cb.fileExtension", true));
    if (m_mode == FileDialogMode::Save) {
        std::wstring typed;
        LOG_IF_FAILED(ItemText(L"gd.ed.fileName", &typed));
        LOG_IF_FAILED(Enable(L"btn.ok", !typed.empty()));
    }
    if (m_accounts)
        LOG_IF_FAILED(m_accounts->Fill());
    return S_OK;
}

HRESULT FileDialog::OnNotify(long id, long kind) {
    if (kind == Lumo::UIX_Notify_SelChanged && id == Id(L"gd.cb.fileExtension"))
        return m_file_list && !m_navigator->IsRunning() ? m_file_list->Refill() : S_OK;
    if (kind == Lumo::UIX_Notify_SelChanged && id == Id(L"gd.lst.Test"))
        return OnSelectionChanged();
    if (kind == Lumo::UIX_Notify_TextChanged && id == Id(L"gd.ed.fileName"))
        return OnFileNameChanged();
    if (kind != Lumo::UIX_Notify_Click)
        return S_OK;
    if (id == Id(L"btn.ok")) {
        HRESULT hr = LOG_IF_FAILED(OnOk());
        if (hr == S_FALSE)
            return S_OK;
        return EndDialog(Lumo::UIX_ModalResult_Ok);
    }
    if (id == Id(L"btn.cancel"))
        return EndDialog(Lumo::UIX_ModalResult_Cancel);
    if (id == Id(L"btn.connectToAnother"))
        return OnNewLogin();
    return S_OK;
}

HRESULT FileDialog::OnFileNameChanged() {
    std::wstring typed;
    RETURN_IF_FAILED(ItemText(L"gd.ed.fileName", &typed));
    return Enable(L"btn.ok", !typed.empty() || m_has_selection);
}

HRESULT FileDialog::OnSelectionChanged() {
    RETURN_HR_IF(GD_E_MISSING, !m_file_list);
    for (ComPtr<Lumo::IAfsNameList>* list : {&m_selected_folders, &m_selected_files}) {
        if (*list)
            continue;
        ComPtr<NameList> made;
        RETURN_IF_FAILED(MakeObject(&made));
        *list = ComPtr<Lumo::IAfsNameList>(made.Get());
    }
    RETURN_IF_FAILED(m_file_list->GetSelection(m_selected_folders.Get(), m_selected_files.Get()));
    long folders = 0, files = 0;
    RETURN_IF_FAILED(m_selected_folders->get_Count(&folders));
    RETURN_IF_FAILED(m_selected_files->get_Count(&files));
    m_has_selection = folders + files > 0;
    if (files > 0) {
        std::wstring text;
        for (long i = 0; i < files; ++i) {
            ComPtr<Lumo::IAfsName> name;
            RETURN_IF_FAILED(m_selected_files->get_Item(i, name.Put()));
            std::wstring title;
            DWORD attributes = 0;
            RETURN_IF_FAILED(TitleOf(name.Get(), &title, &attributes));
            if (files == 1)
                text = title;
            else
                text += (i > 0 ? L" \"" : L"\"") + title + L"\"";
        }
        RETURN_IF_FAILED(SetItemText(L"gd.ed.fileName", text));
    }
    if (folders > 0)
        RETURN_IF_FAILED(Enable(L"btn.ok", true));
    return S_OK;
}

HRESULT FileDialog::OnRowConfirmed(Lumo::IAfsName* name) {
    RETURN_HR_IF(GD_E_MISSING, !m_start || !m_file_system);
    std::wstring title;
    DWORD attributes = 0;
    RETURN_IF_FAILED(TitleOf(name, &title, &attributes));
    if ((attributes & Lumo::AFS_Attribute_Folder) != 0)
        return Navigate(name);
    if (m_mode == FileDialogMode::Save) {
        long answer = 0;
        RETURN_IF_FAILED(Ask(L"gd.msg.saveReplace", L"gd.cpt.saveReplace", title,
                             Lumo::LUMO_MsgBox_AskYesNoCancel, &answer));
        RETURN_HR_IF(GD_E_CANCELLED, answer == Lumo::LUMO_MsgBox_No);
    }
    RETURN_IF_FAILED(SetResult({ComPtr<Lumo::IAfsName>(name)}));
    return EndDialog(Lumo::UIX_ModalResult_Ok);
}

HRESULT FileDialog::OnOk() {
    std::wstring typed;
    RETURN_IF_FAILED(ItemText(L"gd.ed.fileName", &typed));
    if (typed.empty())
        return S_OK;
    std::vector<std::wstring> wanted = SplitTypedNames(typed, m_flags);
    if (wanted.empty())
        return S_OK;
    for (const std::wstring& name : wanted)
        RETURN_HR_IF(E_INVALIDARG, name.size() > MAXSHORT);
    std::vector<ComPtr<Lumo::IAfsName>> matched(wanted.size());
    bool navigated = false;
    RETURN_IF_FAILED(MatchTyped(wanted, matched, &navigated));
    if (navigated)
        return S_FALSE;
    std::wstring prefix;
    RETURN_IF_FAILED(NewNamePrefix(&prefix));
    std::vector<ComPtr<Lumo::IAfsName>> result;
    for (size_t i = 0; i < wanted.size(); ++i) {
        if (matched[i]) {
            result.push_back(matched[i]);
        } else if (m_mode == FileDialogMode::Open) {
            LOG_IF_FAILED(Ask(L"gd.msg.fileNotFound", L"gd.cpt.fileNotFound", wanted[i],
                              Lumo::LUMO_MsgBox_Error, nullptr));
        } else {
            Bstr text;
            RETURN_IF_FAILED(text.Assign((prefix + wanted[i]).c_str()));
            ComPtr<Lumo::IAfsName> name;
            RETURN_IF_FAILED(
                m_file_system->ParseName(text.Get(), 0, m_current_folder.Get(), name.Put()));
            result.push_back(std::move(name));
        }
    }
    return SetResult(std::move(result));
}

// The entries in the order the list shows them decide between equal
// titles; entries the file type hides come after them.
HRESULT FileDialog::MatchTyped(std::vector<std::wstring>& wanted,
                               std::vector<ComPtr<Lumo::IAfsName>>& matched, bool* navigated) {
    *navigated = false;
    if (!m_navigator || !m_file_list)
        return S_OK;
    std::vector<ShownEntry> entries = m_file_list->ShownEntries();
    for (const auto& [name, info] : m_navigator->GetEntries()) {
        bool shown = std::any_of(entries.begin(), entries.end(),
                                 [&](const ShownEntry& e) { return e.name.Get() == name.Get(); });
        if (!shown)
            entries.push_back({name, info, false});
    }
    std::vector<bool> done(wanted.size(), false);
    for (const ShownEntry& entry : entries) {
        if (std::all_of(done.begin(), done.end(), [](bool d) { return d; }))
            break;
        Bstr title;
        DWORD attributes = 0;
        RETURN_IF_FAILED(entry.info->get_Title(title.Put()));
        RETURN_IF_FAILED(entry.info->get_Attributes(&attributes));
        for (size_t i = 0; i < wanted.size(); ++i) {
            if (done[i] || !EqualIgnoringCase(title.Text(), wanted[i]))
                continue;
            if ((attributes & Lumo::AFS_Attribute_Folder) != 0) {
                *navigated = true;
                return Navigate(entry.name.Get());
            }
            done[i] = true;
            long answer = 0;
            if ((m_flags & kFileDialogAskReplace) != 0)
                RETURN_IF_FAILED(Ask(L"gd.msg.saveReplace", L"gd.cpt.saveReplace", title.Text(),
                                     Lumo::LUMO_MsgBox_AskYesNoCancel, &answer));
            if (answer == Lumo::LUMO_MsgBox_No) {
                wanted.erase(wanted.begin() + static_cast<std::ptrdiff_t>(i));
                matched.erase(matched.begin() + static_cast<std::ptrdiff_t>(i));
                done.erase(done.begin() + static_cast<std::ptrdiff_t>(i));
            } else {
                matched[i] = entry.name;
            }
            break;
        }
    }
    return S_OK;
}

// New names are made in the current folder: "gd://<host>/googledriveid<id>/"
// ("root" for My Drive's top folder), "/" for a folder without Drive item.
HRESULT FileDialog::NewNamePrefix(std::wstring* prefix) {
    ComPtr<IDriveName> folder = OwnName(m_current_folder.Get(), m_file_system.Get());
    if (!folder) {
        *prefix = L"/";
        return S_OK;
    }
    std::wstring id = kRootFolderId;
    if (!folder->IsFolderByItself()) {
        std::shared_ptr<DriveFile> file = folder->File();
        RETURN_HR_IF(GD_E_UNEXPECTED, !file || !file->item || file->id.empty());
        id = file->id;
    }
    const std::wstring host = SplitNameUrl(folder->RootText(), false).host;
    RETURN_HR_IF(GD_E_UNEXPECTED, host.empty());
    *prefix = kGdScheme + host + L"/" + kIdMarker + id + L"/";
    return S_OK;
}

HRESULT FileDialog::OnNewLogin() {
    RETURN_HR_IF_NULL(GD_E_MISSING, m_drive);
    m_drive->Store()->ClearCurrentAccount();
    return NavigateToWebRoot(nullptr);
}

HRESULT FileDialog::OnAccountChosen(const std::wstring& account_name) {
    RETURN_HR_IF_NULL(GD_E_MISSING, m_drive);
    AccountEntryPtr entry;
    RETURN_IF_FAILED(m_drive->Store()->FindAccount(account_name, &entry));
    RETURN_HR_IF(GD_E_INVALID_ARG, !entry);
    if (ComPtr<Lumo::IAfsName> folder = entry->LastFolder())
        return Navigate(folder.Get());
    return NavigateToWebRoot(entry);
}

// My Drive of an account; without one, of the account the first use signs in.
HRESULT FileDialog::NavigateToWebRoot(AccountEntryPtr entry) {
    ComPtr<IDriveName> root;
    RETURN_IF_FAILED(MakeAccountRoot(m_drive, DriveWebBase(), std::move(entry), &root));
    return Navigate(root.Get());
}

HRESULT FileDialog::SetResult(std::vector<ComPtr<Lumo::IAfsName>> names) {
    if (m_result) {
        RETURN_IF_FAILED(m_result->Clear());
    } else {
        ComPtr<NameList> list;
        RETURN_IF_FAILED(MakeObject(&list));
        m_result = ComPtr<Lumo::IAfsNameList>(list.Get());
    }
    for (const auto& name : names)
        RETURN_IF_FAILED(m_result->Add(name.Get()));
    return S_OK;
}

HRESULT FileDialog::Ask(const wchar_t* text_id, const wchar_t* caption_id,
                        const std::wstring& argument, DWORD style, long* answer) {
    std::wstring text, caption;
    RETURN_IF_FAILED(LocalizedString(m_host.Get(), text_id, &text));
    RETURN_IF_FAILED(LocalizedString(m_host.Get(), caption_id, &caption));
    HWND window = nullptr;
    RETURN_HR_IF_NULL(GD_E_MISSING, m_pObj.Get());
    RETURN_IF_FAILED(m_pObj->get_Window(&window));
    text = Substituted(std::move(text), argument);
    return m_host->ShowMessage(text.c_str(), caption.c_str(), 0, window, style, answer);
}

HRESULT FileDialog::Enable(const wchar_t* id, bool enabled) {
    ComPtr<Lumo::IUixObj> item;
    RETURN_IF_FAILED(Item(id, &item));
    return item->put_Enabled(enabled ? VARIANT_TRUE : VARIANT_FALSE);
}

HRESULT FileDialog::SetItemText(const wchar_t* id, const std::wstring& text) {
    ComPtr<Lumo::IUixObj> item;
    RETURN_IF_FAILED(Item(id, &item));
    return item->put_Text(text.c_str());
}

HRESULT FileDialog::ItemText(const wchar_t* id, std::wstring* text) {
    ComPtr<Lumo::IUixObj> item;
    RETURN_IF_FAILED(Item(id, &item));
    Bstr value;
    RETURN_IF_FAILED(item->get_Text(value.Put()));
    text->assign(value.Text(), value.Length());
    return S_OK;
}

HRESULT FileDialog::TitleOf(Lumo::IAfsName* name, std::wstring* title, DWORD* attributes) {
    RETURN_HR_IF(GD_E_MISSING, !m_file_system);
    ComPtr<Lumo::IAfsFileInfo> info;
    RETURN_IF_FAILED(m_file_system->GetFileInfo(name, nullptr, nullptr, info.Put()));
    RETURN_HR_IF(GD_E_UNEXPECTED, !info);
    Bstr text;
    RETURN_IF_FAILED(info->get_Title(text.Put()));
    RETURN_IF_FAILED(info->get_Attributes(attributes));
    title->assign(text.Text(), text.Length());
    return S_OK;
}

HRESULT RunFileDialog(FileDialogMode mode, DWORD flags, FolderHolder* holder,
                      ComPtr<Lumo::IAfsNameList>* chosen) {
    RETURN_HR_IF_NULL(E_POINTER, chosen);
    chosen->Reset();
    RETURN_HR_IF_NULL(GD_E_INVALID_ARG, holder);
    Lumo::ILumoInstance* host = HostInstance::Instance();
    RETURN_HR_IF_NULL(GD_E_MISSING, host);
    ComPtr<FileDialogRequest> request;
    RETURN_IF_FAILED(MakeObject(&request, mode, flags, holder->Folder()));
    HRESULT hr = host->RunOnMainThread(request.Get(), INFINITE);
    RETURN_IF_FAILED(hr);
    *chosen = request->m_result;
    holder->SetFolder(request->m_folder);
    return hr;
}

} // namespace gd
