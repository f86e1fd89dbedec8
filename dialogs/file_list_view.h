// The Open/Save dialog's file list: the host's virtual list control whose
// rows this object keeps, built from the navigator's entries, sorted by the
// column the user chose and filtered by the chosen file type.
#pragma once

#include "dialogs/folder_navigator.h"
#include "dialogs/icons_provider.h"
#include "plugin/com_ptr.h"
#include "plugin/sdk/lumo.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace gd {

class FileListImpl;

// Which files the list shows; the dialog's file-type combo is one.
class FileFilter {
public:
    virtual ~FileFilter() = default;
    // Whether a file entry's name shows (folders always do).
    virtual bool Accepts(Lumo::IAfsName* name) const = 0;
};

// The file-type test for a name: a name without Drive item never matches; a
// null patterns (no valid selection) matches every file; otherwise a pattern
// equal to the extension of the name's title (case ignored) or "*" matches.
// Patterns are stored without "*." ("pdf", "*").
bool MatchesFileType(Lumo::IAfsName* name, const std::vector<std::wstring>* patterns);

// The extension part of a title: from its last "." on, empty without one.
std::wstring ExtensionPart(const std::wstring& title);

// A row as the user sees it, the parent row left out.
struct ShownEntry {
    ComPtr<Lumo::IAfsName> name;
    ComPtr<Lumo::IAfsFileInfo> info;
    bool is_folder = false;
};

class FileList {
public:
    // Called with the name of a row activated as a choice (double click,
    // Enter); its failure goes back to the list.
    using Confirmed = std::function<HRESULT(Lumo::IAfsName*)>;

    // Sets up the five columns on list_object and becomes its callback
    // handler. icons and navigator must outlive the list. Throws
    // HResultException: E_FAIL without list object, the client rectangle's
    // failure.
    FileList(ComPtr<Lumo::ILumoInstance> host, ComPtr<Lumo::IUixInstance> ui,
             ComPtr<Lumo::IAfsFileSystem> file_system, IconsProvider& icons,
             ComPtr<Lumo::IUixObj> list_object, FolderNavigator& navigator, Confirmed on_confirmed);
    // Lets the host list go of the callback handler.
    ~FileList();
    FileList(const FileList&) = delete;
    FileList& operator=(const FileList&) = delete;

    // Rebuilds every row from the navigator's folder and entries.
    HRESULT Refill();
    // Removes every row.
    HRESULT Clear();
    // The file-type filter for later refills (null: every file).
    void SetFilter(std::shared_ptr<const FileFilter> filter);
    // Fills folders and files with the names of the selected rows, in the
    // list's selection order; the parent row counts as a folder.
    HRESULT GetSelection(Lumo::IAfsNameList* folders, Lumo::IAfsNameList* files);
    // The rows in the order shown, without the parent row.
    std::vector<ShownEntry> ShownEntries() const;

private:
    ComPtr<FileListImpl> m_impl;
};

} // namespace gd
