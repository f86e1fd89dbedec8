// The account selector behind the file dialog's "cb.googleAcc" combo: one
// entry per signed-in account, the current one selected; picking another
// entry asks the dialog to go to that account.
#pragma once

#include "auth/account_store.h"
#include "plugin/com_object.h"
#include "plugin/sdk/lumo.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace gd {

class AccountCombo : public ComObject<Lumo::IUixEventHandler> {
public:
    // Gets the name of the account the user picked.
    using NavigateCallback = std::function<HRESULT(const std::wstring& account_name)>;

    // Listens to the combo's notifications and keeps combo and store; both
    // are required (0x82220001).
    HRESULT Attach(ComPtr<Lumo::IUixObj> combo, std::shared_ptr<AccountStore> store);
    // Stops listening and drops the callback: the dialog goes away.
    void Detach();
    // 0x82220010 unless attached.
    HRESULT SetNavigateCallback(NavigateCallback callback);
    // Lists the store's accounts and selects the current one.
    HRESULT Fill();

    HRESULT STDMETHODCALLTYPE OnEvent(Lumo::IUixEvent* event) override;

private:
    HRESULT OnSelectionChanged();

    ComPtr<Lumo::IUixObj> m_combo_object;
    ComPtr<Lumo::IUixCombo> m_combo;
    ComPtr<Lumo::IUixEventSource> m_source;
    DWORD m_cookie = 0;
    std::shared_ptr<AccountStore> m_store;
    // The entries point into this copy of the store's list.
    std::vector<AccountEntryPtr> m_snapshot;
    NavigateCallback m_navigate;
    // Above 0 while Fill changes the combo: its own changes are no picks.
    int m_updating = 0;
};

// What the selector shows for an account: the user's display name, then the
// path of the folder it was last in below My Drive ("/Projects/2024").
std::wstring AccountItemText(const AccountEntry& entry);

} // namespace gd
