// The signed-in accounts of one file system: the list in the order they were
// added, the current one, and per account the folder the user was last in.
// Accounts live in memory only.
#pragma once

#include "driveapi/drive_account.h"
#include "errors/critical_section.h"
#include "plugin/com_ptr.h"
#include "plugin/sdk/lumo.h"

#include <windows.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace gd {

class AccountEntry {
public:
    AccountEntry(ComPtr<Lumo::IAfsFileSystem> fileSystem, ComPtr<Lumo::IAfsAccount> hostAccount,
                 std::shared_ptr<DriveAccount> account);

    const ComPtr<Lumo::IAfsFileSystem>& FileSystem() const { return m_file_system; }
    // The host's object for this account of the file system.
    const ComPtr<Lumo::IAfsAccount>& HostAccount() const { return m_host_account; }
    const std::shared_ptr<DriveAccount>& Account() const { return m_account; }
    // The account's name: its user id, empty without user info.
    std::wstring Name() const;

    ComPtr<Lumo::IAfsName> LastFolder() const;
    void SetLastFolder(ComPtr<Lumo::IAfsName> folder);

private:
    const ComPtr<Lumo::IAfsFileSystem> m_file_system;
    const ComPtr<Lumo::IAfsAccount> m_host_account;
    const std::shared_ptr<DriveAccount> m_account;
    mutable std::mutex m_lock;
    ComPtr<Lumo::IAfsName> m_last_folder;
};

using AccountEntryPtr = std::shared_ptr<AccountEntry>;

// Every operation holds the store's lock and hands out references, never the
// list itself.
class AccountStore {
public:
    AccountStore();
    ~AccountStore();
    AccountStore(const AccountStore&) = delete;
    AccountStore& operator=(const AccountStore&) = delete;

    // Appends the entry and makes it current; 0x822203E8 when the list
    // cannot grow.
    HRESULT AddAccount(AccountEntryPtr entry);
    // S_FALSE when the current account has that name already; 0x82220001
    // when no account has it.
    HRESULT SelectAccount(const std::wstring& name);
    // S_FALSE and nothing when no account has that name.
    HRESULT FindAccount(const std::wstring& name, AccountEntryPtr* out) const;
    // S_FALSE and nothing when there is no current account.
    HRESULT GetCurrentAccount(AccountEntryPtr* out) const;
    HRESULT GetAccounts(std::vector<AccountEntryPtr>* out) const;
    void ClearCurrentAccount();
    // Forgets every account and the folders they remember: the last folder
    // holds names that hold their account, a cycle only this breaks.
    void Clear();

    std::size_t Capacity() const;

private:
    AccountEntryPtr FindLocked(const std::wstring& name) const;

    mutable CriticalSection m_section;
    std::vector<AccountEntryPtr> m_accounts;
    AccountEntryPtr m_current;
};

// Account names are equal under the user's locale, letter case counting.
bool SameAccountName(const std::wstring& first, const std::wstring& second);

} // namespace gd
