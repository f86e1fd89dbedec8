// The plug-in's Open and Save dialog for Drive names: the account selector,
// the file list of the folder the navigator lists in the background, the
// file-name edit and the file-type combo, on the layout "DlgOpenFile".
#pragma once

#include "dialogs/account_combo.h"
#include "dialogs/file_list_view.h"
#include "dialogs/file_type_filter.h"
#include "dialogs/folder_navigator.h"
#include "dialogs/icons_provider.h"
#include "dialogs/uix_dialog.h"
#include "drivefs/file_system.h"
#include "plugin/com_object.h"
#include "plugin/sdk/lumo.h"

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace gd {

// Option bits of the file dialog.
constexpr DWORD kFileDialogSeveralNames = 0x1; // names typed in double quotes
constexpr DWORD kFileDialogAskReplace = 0x4;   // confirm replacing an existing file
constexpr DWORD kFileDialogAppendPdf = 0x10;   // a typed name without "." gets ".pdf"
// What the Open and Save commands ask for.
constexpr DWORD kOpenDialogOptions = 0x9;
constexpr DWORD kSaveDialogOptions = 0x1C;

// Popup, caption, system menu, clipping.
constexpr DWORD kFileDialogStyle = 0x86C80000;

enum class FileDialogMode : long { Save = 0, Open = 1 };

// The folder a command and its dialog share: the start folder in, the last
// folder shown out.
class FolderHolder {
public:
    explicit FolderHolder(ComPtr<Lumo::IAfsName> folder = nullptr) : m_folder(std::move(folder)) {}
    ComPtr<Lumo::IAfsName> Folder() const {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_folder;
    }
    void SetFolder(ComPtr<Lumo::IAfsName> folder) {
        std::lock_guard<std::mutex> guard(m_lock);
        std::swap(m_folder, folder);
    }

private:
    mutable std::mutex m_lock;
    ComPtr<Lumo::IAfsName> m_folder;
};

// The names a user typed: with kFileDialogSeveralNames a text of quoted
// names gives each of them (empty pairs skipped), any other text is one name
// as typed; kFileDialogAppendPdf gives a single typed name without "." the
// extension ".pdf".
std::vector<std::wstring> SplitTypedNames(const std::wstring& text, DWORD flags);

// Whether a code means the user cancelled: low 16 bits 1223 under the
// program's own codes (bit 25) or the Win32 facility.
bool IsDialogCancellation(HRESULT hr);

class FileDialog : public UixDialog {
public:
    FileDialog(Lumo::ILumoInstance* host, FileDialogMode mode, DWORD flags,
               ComPtr<Lumo::IAfsName> start);

    // Shows the dialog modally, owned by the host's main window; on the UI
    // thread.
    HRESULT Run();
    // The names chosen (null unless OK or a row's activation chose some).
    ComPtr<Lumo::IAfsNameList> Result() const { return m_result; }
    // The folder shown after the last completed navigation.
    ComPtr<Lumo::IAfsName> CurrentFolder() const { return m_current_folder; }

protected:
    HRESULT OnInitDialog() override;
    HRESULT OnDestroy() override;
    HRESULT OnNotify(long id, long kind) override;

private:
    HRESULT InitFileTypes();
    HRESULT InitAccounts();
    HRESULT InitList(ComPtr<Lumo::IUixObj>* list_object);
    HRESULT CreateWaitIndicator(Lumo::IUixObj* list_object);
    void ShowBusy(bool busy);

    HRESULT Navigate(Lumo::IAfsName* name);
    HRESULT OnNavigated(HRESULT result);
    HRESULT OnSelectionChanged();
    HRESULT OnRowConfirmed(Lumo::IAfsName* name);
    // S_FALSE when it went into a folder (the dialog stays).
    HRESULT OnOk();
    HRESULT MatchTyped(std::vector<std::wstring>& wanted,
                       std::vector<ComPtr<Lumo::IAfsName>>& matched, bool* navigated);
    HRESULT NewNamePrefix(std::wstring* prefix);
    HRESULT OnNewLogin();
    HRESULT OnAccountChosen(const std::wstring& account_name);
    HRESULT OnFileNameChanged();

    HRESULT NavigateToWebRoot(AccountEntryPtr entry);
    HRESULT SetResult(std::vector<ComPtr<Lumo::IAfsName>> names);
    // A message box owned by the dialog; text's "%1" becomes argument.
    HRESULT Ask(const wchar_t* text_id, const wchar_t* caption_id, const std::wstring& argument,
                DWORD style, long* answer);
    HRESULT Enable(const wchar_t* id, bool enabled);
    HRESULT SetItemText(const wchar_t* id, const std::wstring& text);
    HRESULT ItemText(const wchar_t* id, std::wstring* text);
    HRESULT TitleOf(Lumo::IAfsName* name, std::wstring* title, DWORD* attributes);
    long Id(const wchar_t* name);

    const FileDialogMode m_mode;
    const DWORD m_flags;
    const ComPtr<Lumo::IAfsName> m_start;
    ComPtr<Lumo::IAfsFileSystem> m_file_system;
    DriveFileSystem* m_drive = nullptr; // behind m_file_system
    ComPtr<Lumo::IAfsNameList> m_result;
    ComPtr<Lumo::IAfsName> m_current_folder;
    std::unique_ptr<IconsProvider> m_icons;
    std::shared_ptr<FolderNavigator> m_navigator;
    std::unique_ptr<FileList> m_file_list;
    std::shared_ptr<FileTypeFilter> m_filter;
    ComPtr<Lumo::IUixObj> m_wait_object;
    ComPtr<Lumo::IUixWaitProgress> m_wait;
    long m_busy = 0;
    ComPtr<AccountCombo> m_accounts;
    ComPtr<Lumo::IAfsNameList> m_selected_folders, m_selected_files;
    bool m_has_selection = false;
};

// The Open or Save dialog for the holder's folder, run on the host's UI
// thread while the caller waits; chosen gets the names chosen (null when
// none), the holder the folder shown last.
HRESULT RunFileDialog(FileDialogMode mode, DWORD flags, FolderHolder* holder,
                      ComPtr<Lumo::IAfsNameList>* chosen);

} // namespace gd
