#include "auth/account_store.h"
#include "tests/drivefs/fs_fixture.h"

#include <gtest/gtest.h>

namespace gd {
namespace {

using test::FsTest;

AccountEntryPtr EntryOf(const wchar_t* userId) {
    auto account = std::make_shared<DriveAccount>(L"client", L"secret");
    auto info = std::make_shared<DriveUserInfo>();
    info->id = userId;
    account->SetUserInfo(info);
    return std::make_shared<AccountEntry>(nullptr, nullptr, account);
}

TEST(AccountStoreTest, GrowsByTheRuleAndKeepsTheCurrentAccount) {
    AccountStore store;
    std::vector<std::size_t> capacities;
    for (int i = 0; i < 30; ++i) {
        ASSERT_EQ(store.AddAccount(EntryOf(std::to_wstring(i).c_str())), S_OK);
        if (capacities.empty() || capacities.back() != store.Capacity())
            capacities.push_back(store.Capacity());
    }
    EXPECT_EQ(capacities, (std::vector<std::size_t>{4, 8, 12, 16, 24, 36}));
    AccountEntryPtr current;
    EXPECT_EQ(store.GetCurrentAccount(&current), S_OK);
    EXPECT_EQ(current->Name(), L"29");
    EXPECT_EQ(store.SelectAccount(L"29"), S_FALSE);
    EXPECT_EQ(store.SelectAccount(L"3"), S_OK);
    EXPECT_EQ(store.SelectAccount(L"nobody"), GD_E_INVALID_ARG);
    EXPECT_EQ(store.GetCurrentAccount(&current), S_OK);
    EXPECT_EQ(current->Name(), L"3");
    AccountEntryPtr found;
    EXPECT_EQ(store.FindAccount(L"7", &found), S_OK);
    EXPECT_EQ(found->Name(), L"7");
    EXPECT_EQ(store.FindAccount(L"nobody", &found), S_FALSE);
    EXPECT_FALSE(found);
    EXPECT_EQ(store.AddAccount(nullptr), GD_E_INVALID_ARG);
    EXPECT_EQ(store.FindAccount(L"7", nullptr), E_POINTER);
    store.ClearCurrentAccount();
    EXPECT_EQ(store.GetCurrentAccount(&current), S_FALSE);
    std::vector<AccountEntryPtr> all;
    EXPECT_EQ(store.GetAccounts(&all), S_OK);
    EXPECT_EQ(all.size(), 30u);
}

// A root without an account signs in once no account is current; the same
// user twice gives the one entry.
TEST_F(FsTest, SignsInANewAccountOnlyWhenNoneIsCurrent) {
    m_fs->Store()->ClearCurrentAccount();
    m_consent.Script().user = test::kBob;
    ComPtr<Lumo::IAfsName> bobRoot = Resolve(L"https://drive.google.com");
    EXPECT_EQ(m_consent.Script().urls.size(), 1u);
    ComPtr<Lumo::IAfsName> again = Resolve(L"https://drive.google.com");
    EXPECT_EQ(m_consent.Script().urls.size(), 1u);
    m_fs->Store()->ClearCurrentAccount();
    ComPtr<Lumo::IAfsName> third = Resolve(L"https://drive.google.com");
    EXPECT_EQ(m_consent.Script().urls.size(), 2u);
    std::vector<AccountEntryPtr> accounts;
    ASSERT_EQ(m_fs->Store()->GetAccounts(&accounts), S_OK);
    ASSERT_EQ(accounts.size(), 2u);
    EXPECT_EQ(accounts[1]->Name(), test::kBobId);
    // Bob's root lists Bob's files.
    ComPtr<Lumo::IAfsEnumFolder> enumerator;
    ASSERT_EQ(m_fs->EnumFolder(third.Get(), nullptr, nullptr, enumerator.Put()), S_OK);
    ComPtr<Lumo::IAfsFileInfo> item;
    ASSERT_EQ(enumerator->Next(item.Put()), S_OK);
    Bstr title;
    item->get_Title(title.Put());
    EXPECT_STREQ(title.Text(), L"Welcome.pdf");
    // Without credentials nobody can be signed in.
    ComPtr<DriveFileSystem> bare;
    ASSERT_EQ(MakeObject(&bare, ComPtr<Lumo::IAfsInstance>(m_afs.Get())), S_OK);
    Bstr root;
    root.Assign(L"https://drive.google.com");
    ComPtr<Lumo::IAfsName> none;
    EXPECT_EQ(bare->ResolveName(root.Get(), 0, nullptr, nullptr, nullptr, none.Put()),
              GD_E_MISSING);
}

} // namespace
} // namespace gd
