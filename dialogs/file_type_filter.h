// The file dialog's file types: the filter text built from the host's texts,
// its entries, and the "gd.cb.fileExtension" combo that picks one of them.
#pragma once

#include "dialogs/file_list_view.h"
#include "plugin/com_ptr.h"
#include "plugin/sdk/lumo.h"

#include <string>
#include <vector>

namespace gd {

// One entry of the combo: its description and its patterns without "*."
// ("pdf", or "*" for every file).
struct FileType {
    std::wstring description;
    std::vector<std::wstring> patterns;
};

// The filter text for the dialog's mode, "description|patterns|" pairs ended
// by "||": Open offers PDF, every supported type and every file, without the
// types that are converted rather than opened (Word, Excel, PowerPoint,
// Visio) and without a second PDF entry; Save offers PDF and every file.
HRESULT BuildFilterText(Lumo::ILumoInstance* host, bool open_mode, std::wstring* filter);

// The entries of a filter text, up to its first malformed pair.
std::vector<FileType> ParseFilterText(const std::wstring& filter);

class FileTypeFilter : public FileFilter {
public:
    explicit FileTypeFilter(ComPtr<Lumo::IUixCombo> combo) : m_combo(std::move(combo)) {}

    // Replaces the combo's entries and selects the first.
    HRESULT Fill(std::vector<FileType> types);
    // Files of the selected type; every file without a valid selection.
    bool Accepts(Lumo::IAfsName* name) const override;

private:
    const ComPtr<Lumo::IUixCombo> m_combo;
    std::vector<FileType> m_types;
};

} // namespace gd
