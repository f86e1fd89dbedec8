// Shared by the file dialog tests: the emulated host registered as the
// process's host, the plug-in's file system on the Drive emulator, Alice
// signed in through the host's browser when a name first needs her account.
#pragma once

#include "auth/client_credentials.h"
#include "tests/auth/auth_support.h"
#include "drivefs/file_system.h"
#include "drivefs/name_text.h"
#include "errors/check.h"
#include "plugin/resources.h"
#include "tests/driveapi/drive_fixture.h"
#include "tests/support/emulator.h"
#include "tests/support/host_sign_in.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace gd::test {

inline constexpr DWORD kDialogDeadline = 30000;

class DriveDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetEmulator();
        UseEmulator();
        ComPtr<IStream> strings;
        ASSERT_EQ(
            CreateResourceStream(nullptr, kXmlResourceType, kStringsResourceId, strings.Put()),
            S_OK);
        ASSERT_EQ(Host().LoadLocalization(strings.Get()), S_OK);
        Host().SetBrowserScript({BrowserAction::Approve, L"alice.emulator@example.com"});
        ASSERT_EQ(MakeObject(&m_file_system, ComPtr<Lumo::IAfsInstance>(&Host().Afs())), S_OK);
        SetProperty(L"ClientID", BuiltInClientId());
        SetProperty(L"ClientSecret", BuiltInClientSecret());
    }
    void TearDown() override {
        m_file_system->DropStore();
        if (m_changed_files)
            EmulatorControl(L"POST", L"/_emu/seed");
        SetEnvironmentVariableW(L"DRIVE_EMULATOR_HOST", nullptr);
    }

    EmulatedHost& Host() { return m_sign_in.Host(); }

    void SetProperty(const wchar_t* name, const wchar_t* value) {
        Bstr property;
        ASSERT_EQ(property.Assign(name), S_OK);
        Variant text;
        ASSERT_EQ(text.SetText(value), S_OK);
        ASSERT_EQ(m_file_system->SetProperty(property.Get(), text.Get()), S_OK);
    }

    // The English text of a string id.
    std::wstring String(const wchar_t* id) {
        std::wstring text;
        EXPECT_TRUE(Host().Strings().Find(id, &text)) << id;
        return text;
    }

    // Alice's My Drive (signing her in), resolved off the UI thread.
    ComPtr<Lumo::IAfsName> MyDrive() {
        ComPtr<Lumo::IAfsName> root;
        HRESULT hr = m_sign_in.Run([&] {
            Bstr text;
            RETURN_IF_FAILED(text.Assign(DriveWebBase().c_str()));
            return m_file_system->ResolveName(text.Get(), 0, nullptr, nullptr, nullptr, root.Put());
        });
        EXPECT_EQ(hr, S_OK);
        EXPECT_TRUE(root);
        return root;
    }

    // A folder of Alice's (in her root unless parent_id is given) holding
    // count PDFs "Entry 00000.pdf"...; its id. The seed is restored after
    // the test.
    std::wstring AddFolder(const std::string& title, int count = 0,
                           const std::string& parent_id = {}, long long created_ms = -1,
                           long long modified_ms = -1) {
        m_changed_files = true;
        return CreateItem(L"/_emu/folders",
                          "\"title\":\"" + title + "\",\"count\":" + std::to_string(count),
                          parent_id, created_ms, modified_ms);
    }
    // A file of size pattern bytes in a folder of Alice's; its id.
    std::wstring AddFile(const std::string& title, long long size, const std::string& parent_id,
                         long long created_ms = -1, long long modified_ms = -1) {
        m_changed_files = true;
        return CreateItem(L"/_emu/files",
                          "\"title\":\"" + title + "\",\"size\":" + std::to_string(size), parent_id,
                          created_ms, modified_ms);
    }

    test::HostSignIn m_sign_in;
    ComPtr<DriveFileSystem> m_file_system;

private:
    std::wstring CreateItem(const wchar_t* route, std::string fields, const std::string& parent_id,
                            long long created_ms, long long modified_ms) {
        if (!parent_id.empty())
            fields += ",\"parent\":\"" + parent_id + "\"";
        if (created_ms >= 0)
            fields += ",\"created_ms\":" + std::to_string(created_ms);
        if (modified_ms >= 0)
            fields += ",\"modified_ms\":" + std::to_string(modified_ms);
        std::string id = ControlMember(EmulatorControl(L"POST", route, "{" + fields + "}"), "id");
        EXPECT_FALSE(id.empty());
        return std::wstring(id.begin(), id.end());
    }

    bool m_changed_files = false;
};

} // namespace gd::test
