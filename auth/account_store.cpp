#include "auth/account_store.h"

#include "errors/check.h"
#include "errors/codes.h"
#include "errors/critical_section.h"
#include "errors/growth.h"

#include <new>

namespace gd {
bool SameAccountName(const std::wstring& first, const std::wstring& second) {
    return CompareStringW(LOCALE_USER_DEFAULT, 0, first.c_str(), static_cast<int>(first.size()),
                          second.c_str(), static_cast<int>(second.size())) == CSTR_EQUAL;
}

AccountEntry::AccountEntry(ComPtr<Lumo::IAfsFileSystem> fileSystem,
                           ComPtr<Lumo::IAfsAccount> hostAccount,
                           std::shared_ptr<DriveAccount> account)
    : m_file_system(std::move(fileSystem)), m_host_account(std::move(hostAccount)),
      m_account(std::move(account)) {}

std::wstring AccountEntry::Name() const {
    return m_account ? m_account->Name() : std::wstring();
}

ComPtr<Lumo::IAfsName> AccountEntry::LastFolder() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_last_folder;
}

void AccountEntry::SetLastFolder(ComPtr<Lumo::IAfsName> folder) {
    std::lock_guard<std::mutex> guard(m_lock);
    std::swap(m_last_folder, folder);
    // The old folder is released after the lock: it may hold this entry.
}

AccountStore::AccountStore() : m_section(4000) {}

AccountStore::~AccountStore() {
    Clear();
}

HRESULT AccountStore::AddAccount(AccountEntryPtr entry) {
    RETURN_HR_IF(GD_E_INVALID_ARG, !entry);
    SectionLock lock(m_section);
    try {
        m_accounts.reserve(GrownCapacity(m_accounts.capacity(), m_accounts.size() + 1));
    } catch (const std::bad_alloc&) {
        RETURN_HR_IF(GD_E_OUTOFMEMORY, true);
    }
    m_accounts.push_back(entry);
    m_current = std::move(entry);
    return S_OK;
}

AccountEntryPtr AccountStore::FindLocked(const std::wstring& name) const {
    for (const AccountEntryPtr& entry : m_accounts) {
        if (SameAccountName(entry->Name(), name))
            return entry;
    }
    return nullptr;
}

HRESULT AccountStore::SelectAccount(const std::wstring& name) {
    SectionLock lock(m_section);
    if (m_current && SameAccountName(m_current->Name(), name))
        return S_FALSE;
    AccountEntryPtr found = FindLocked(name);
    RETURN_HR_IF(GD_E_INVALID_ARG, !found);
    m_current = std::move(found);
    return S_OK;
}

HRESULT AccountStore::FindAccount(const std::wstring& name, AccountEntryPtr* out) const {
    RETURN_HR_IF_NULL(E_POINTER, out);
    SectionLock lock(m_section);
    *out = FindLocked(name);
    return *out ? S_OK : S_FALSE;
}

HRESULT AccountStore::GetCurrentAccount(AccountEntryPtr* out) const {
    RETURN_HR_IF_NULL(E_POINTER, out);
    SectionLock lock(m_section);
    *out = m_current;
    return *out ? S_OK : S_FALSE;
}

HRESULT AccountStore::GetAccounts(std::vector<AccountEntryPtr>* out) const {
    RETURN_HR_IF_NULL(E_POINTER, out);
    return RunGuarded([&]() -> HRESULT {
        SectionLock lock(m_section);
        try {
            *out = m_accounts;
        } catch (const std::bad_alloc&) {
            RETURN_HR_IF(GD_E_OUTOFMEMORY, true);
        }
        return S_OK;
    });
}

void AccountStore::ClearCurrentAccount() {
    SectionLock lock(m_section);
    m_current.reset();
}

void AccountStore::Clear() {
    std::vector<AccountEntryPtr> accounts;
    {
        SectionLock lock(m_section);
        accounts.swap(m_accounts);
        m_current.reset();
    }
    for (const AccountEntryPtr& entry : accounts)
        entry->SetLastFolder(nullptr);
}

std::size_t AccountStore::Capacity() const {
    SectionLock lock(m_section);
    return m_accounts.capacity();
}

} // namespace gd
