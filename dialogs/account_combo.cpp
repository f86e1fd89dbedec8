#include "dialogs/account_combo.h"

#include "drivefs/drive_name.h"
#include "errors/check.h"
#include "errors/codes.h"

#include <algorithm>

namespace gd {

std::wstring AccountItemText(const AccountEntry& entry) {
    std::shared_ptr<const DriveUserInfo> info =
        entry.Account() ? entry.Account()->UserInfo() : nullptr;
    std::wstring text = info ? info->name : std::wstring();
    std::wstring path;
    ComPtr<Lumo::IAfsName> folder = entry.LastFolder();
    for (ComPtr<IDriveName> at = OwnName(folder.Get(), entry.FileSystem().Get());
         at && !at->IsFolderByItself(); at = at->Parent())
        path.insert(0, L"/" + at->Title());
    if (!path.empty())
        text += L" " + path;
    return text;
}

HRESULT AccountCombo::Attach(ComPtr<Lumo::IUixObj> combo, std::shared_ptr<AccountStore> store) {
    RETURN_HR_IF(GD_E_INVALID_ARG, !combo || !store);
    ComPtr<Lumo::IUixCombo> items;
    RETURN_IF_FAILED(combo.As(&items));
    ComPtr<Lumo::IUixEventSource> source;
    RETURN_IF_FAILED(combo->GetEventSource(Lumo::UIX_EventSource_Notify, source.Put()));
    RETURN_HR_IF(GD_E_INVALID_ARG, !source);
    DWORD cookie = 0;
    RETURN_IF_FAILED(source->Advise(this, &cookie));
    Detach();
    m_combo_object = std::move(combo);
    m_combo = std::move(items);
    m_source = std::move(source);
    m_cookie = cookie;
    m_store = std::move(store);
    return S_OK;
}

void AccountCombo::Detach() {
    if (m_source)
        LOG_IF_FAILED(m_source->Unadvise(m_cookie));
    m_source.Reset();
    m_navigate = nullptr;
}

HRESULT AccountCombo::SetNavigateCallback(NavigateCallback callback) {
    RETURN_HR_IF(GD_E_MISSING, !m_combo || !m_store);
    m_navigate = std::move(callback);
    return S_OK;
}

HRESULT AccountCombo::Fill() {
    RETURN_HR_IF(GD_E_MISSING, !m_combo || !m_store);
    return RunGuarded([&]() -> HRESULT {
        RETURN_IF_FAILED(m_combo->Clear());
        m_snapshot.clear();
        HRESULT listed = m_store->GetAccounts(&m_snapshot);
        RETURN_IF_FAILED(listed);
        AccountEntryPtr current;
        m_store->GetCurrentAccount(&current);
        const std::wstring current_name = current ? current->Name() : std::wstring();
        LOG_IF_FAILED(
            m_combo_object->put_Enabled(m_snapshot.empty() ? VARIANT_FALSE : VARIANT_TRUE));
        ++m_updating;
        struct Done {
            int& updating;
            ~Done() { --updating; }
        } done{m_updating};
        if (m_snapshot.empty())
            return S_OK;
        long selected = -1, count = 0;
        for (const AccountEntryPtr& entry : m_snapshot) {
            if (!entry->Account() || !entry->Account()->UserInfo())
                continue;
            if (current && SameAccountName(entry->Name(), current_name))
                selected = count;
            const std::wstring text = AccountItemText(*entry);
            RETURN_IF_FAILED(m_combo->InsertItem(-1, text.c_str(), L"", nullptr,
                                                 reinterpret_cast<Lumo::PARAM_T>(entry.get()), 0));
            ++count;
        }
        if (selected < 0) {
            if (count > 0)
                selected = 0;
            else
                LOG_IF_FAILED(m_combo_object->put_Enabled(VARIANT_FALSE));
        }
        RETURN_IF_FAILED(m_combo->put_SelItem(selected));
        return listed;
    });
}

HRESULT AccountCombo::OnEvent(Lumo::IUixEvent* event) {
    RETURN_HR_IF_NULL(E_INVALIDARG, event);
    return RunGuarded([&]() -> HRESULT {
        long code = 0, kind = 0;
        RETURN_IF_FAILED(event->get_Code(&code));
        if (code != Lumo::UIX_Event_Notify)
            return S_OK;
        RETURN_IF_FAILED(event->get_Kind(&kind));
        if (kind != Lumo::UIX_Notify_SelChanged)
            return S_OK;
        return OnSelectionChanged();
    });
}

HRESULT AccountCombo::OnSelectionChanged() {
    if (m_updating > 0 || !m_combo || !m_store)
        return S_OK;
    long index = -1, count = 0;
    if (FAILED(m_combo->get_SelItem(&index)))
        index = -1;
    RETURN_IF_FAILED(m_combo->get_Count(&count));
    if (index < 0 || index >= count)
        return S_OK;
    Lumo::PARAM_T param = 0;
    RETURN_IF_FAILED(m_combo->GetItemParam(index, &param));
    auto found = std::find_if(m_snapshot.begin(), m_snapshot.end(), [param](const auto& entry) {
        return reinterpret_cast<Lumo::PARAM_T>(entry.get()) == param;
    });
    RETURN_HR_IF(GD_E_UNEXPECTED, found == m_snapshot.end());
    // The callback may fill the combo again, which replaces the snapshot.
    const std::wstring name = (*found)->Name();
    NavigateCallback navigate = m_navigate;
    if (!navigate)
        return S_OK;
    return navigate(name);
}

} // namespace gd
