// The file system's own small browse dialog: one folder at a time, listed
// on the UI thread; down into folders, up to the parent, one file chosen.
#pragma once

#include "dialogs/list_callback.h"
#include "dialogs/uix_dialog.h"
#include "drivefs/drive_name.h"
#include "plugin/sdk/lumo.h"

#include <windows.h>

#include <string>
#include <vector>

namespace gd {

// A popup with a caption and a system menu.
constexpr DWORD kBrowseDialogStyle = 0x86C80000;

// The dialog on the layout "DlgOpenFile", using only its list, its file-name
// edit and its OK and Cancel buttons. It is its list's callback handler.
class BrowseDialog : public UixDialog, public DefaultListCallback {
public:
    // mode 0 is titled as an Open dialog, any other as a Save dialog.
    BrowseDialog(Lumo::ILumoInstance* host, ComPtr<IDriveName> start, long mode);

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        return UixDialog::QueryInterface(iid, out);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return UixDialog::AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return UixDialog::Release(); }

    HRESULT STDMETHODCALLTYPE GetItemText(const Lumo::UIX_ListItemId* item, LPCWSTR* text,
                                          long* length, DWORD* draw_text_flags) override;
    HRESULT STDMETHODCALLTYPE OnItemActivated(const Lumo::UIX_ListItemId* item,
                                              DWORD flags) override;

    // Shows the dialog modally, owned by the host's main window; on the UI
    // thread.
    HRESULT Run(long* end_code);
    // The chosen file; null unless one was chosen.
    ComPtr<IDriveName> Result() const { return m_result; }

protected:
    void* QueryMore(REFIID iid) override;
    HRESULT OnInitDialog() override;
    HRESULT OnDestroy() override;
    HRESULT OnNotify(long id, long kind) override;

private:
    // Lists folder's children; it becomes the current folder once its
    // enumeration starts.
    HRESULT Fill(ComPtr<IDriveName> folder);
    // The entry a row shows; null for the parent row and rows past the end.
    ComPtr<IDriveName> EntryOfRow(long row) const;
    bool IsParentRow(long row) const;
    HRESULT OnOk();
    HRESULT Choose(ComPtr<IDriveName> file);
    HRESULT SetNameText(const wchar_t* text);
    HRESULT ShowSelectFileMessage();

    const ComPtr<IDriveName> m_start;
    ComPtr<IDriveName> m_current;
    ComPtr<Lumo::IUixList> m_list;
    std::vector<ComPtr<IDriveName>> m_entries;
    // Row 0 leads up: the current folder is not the start name.
    bool m_parent_row = false;
    ComPtr<IDriveName> m_result;
    const long m_mode;
    std::wstring m_name_text;
    // The last cell text handed to the list.
    std::wstring m_cell_text;
    long m_ok_id = 0;
    long m_cancel_id = 0;
};

// Runs the dialog modally from start on the host's UI thread; chosen stays
// empty when the user cancelled.
HRESULT RunBrowseDialog(ComPtr<IDriveName> start, ComPtr<Lumo::IAfsName>* chosen);

} // namespace gd
