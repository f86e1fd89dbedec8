#include "dialogs/icons_provider.h"

#include "dialogs/invariant_text.h"
#include "errors/check.h"
#include "errors/codes.h"

namespace gd {
namespace {

constexpr wchar_t kNoExtensionKey[] = L".";

} // namespace

IconsProvider::IconsProvider(ComPtr<Lumo::IUixInstance> ui) : m_ui(std::move(ui)) {}

HRESULT IconsProvider::GetIcon(Lumo::IUixImage** out_icon, const wchar_t* extension,
                               DWORD icon_flags) {
    RETURN_HR_IF_NULL(E_POINTER, out_icon);
    *out_icon = nullptr;
    const wchar_t* key = extension != nullptr && *extension != L'\0' ? extension : kNoExtensionKey;
    for (const Entry& entry : m_cache) {
        if (EqualIgnoringCase(entry.key, key))
            return entry.icon.CopyTo(out_icon);
    }
    ComPtr<Lumo::IUixImage> icon;
    RETURN_IF_FAILED(CreateIcon(key, icon_flags, &icon));
    RETURN_IF_FAILED(icon.CopyTo(out_icon));
    // The caller keeps the icon even when it cannot be remembered.
    RETURN_IF_FAILED(RunGuarded([&]() -> HRESULT {
        m_cache.push_back(Entry{key, std::move(icon)});
        return S_OK;
    }));
    return S_OK;
}

HRESULT IconsProvider::CreateIcon(const wchar_t* key, DWORD icon_flags,
                                  ComPtr<Lumo::IUixImage>* icon) {
    RETURN_HR_IF_NULL(GD_E_MISSING, m_ui.Get());
    ComPtr<Lumo::IUixTheme> theme;
    RETURN_IF_FAILED(m_ui->get_Theme(theme.Put()));
    const bool folder = EqualIgnoringCase(key, kFolderIconKey);
    if (folder || EqualIgnoringCase(key, kParentIconKey)) {
        RETURN_HR_IF_NULL(GD_E_MISSING, theme.Get());
        Bstr id;
        THROW_IF_FAILED(id.Assign(folder ? L"ico.folder" : L"ico.folder.opened"));
        RETURN_IF_FAILED(theme->GetIcon(id.Get(), icon->Put()));
    } else {
        RETURN_IF_FAILED(
            m_ui->CreateFileTypeIcon(const_cast<wchar_t*>(key), icon_flags, icon->Put()));
    }
    RETURN_HR_IF(GD_E_MISSING, !*icon);
    return S_OK;
}

} // namespace gd
