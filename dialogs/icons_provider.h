// The icons in front of the file list's rows: the opened folder for the
// parent row, the closed folder for folders and the host's file-type icon for
// files. Each icon is asked of the host once and kept for the provider's
// lifetime.
#pragma once

#include "plugin/com_ptr.h"
#include "plugin/sdk/lumo.h"

#include <string>
#include <vector>

namespace gd {

// The key of the parent row's icon.
inline constexpr wchar_t kParentIconKey[] = L"../";
// The key of a folder row's icon.
inline constexpr wchar_t kFolderIconKey[] = L"./";
// What the host's file-type icons are asked with.
inline constexpr DWORD kFileTypeIconFlags = 3;

class IconsProvider {
public:
    explicit IconsProvider(ComPtr<Lumo::IUixInstance> ui);
    IconsProvider(const IconsProvider&) = delete;
    IconsProvider& operator=(const IconsProvider&) = delete;

    // A new reference to the icon of extension (".pdf", with its dot), or of
    // kParentIconKey or kFolderIconKey; a null or empty extension is ".".
    // Keys ignore case; the first request of a key fixes its icon.
    HRESULT GetIcon(Lumo::IUixImage** out_icon, const wchar_t* extension,
                    DWORD icon_flags = kFileTypeIconFlags);

private:
    struct Entry {
        std::wstring key;
        ComPtr<Lumo::IUixImage> icon;
    };
    HRESULT CreateIcon(const wchar_t* key, DWORD icon_flags, ComPtr<Lumo::IUixImage>* icon);

    ComPtr<Lumo::IUixInstance> m_ui;
    std::vector<Entry> m_cache;
};

} // namespace gd
