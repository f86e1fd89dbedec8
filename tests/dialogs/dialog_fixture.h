// What the dialog tests share: the emulated host with the plug-in's strings,
// a file system on the emulator with the built-in client, Alice approving
// the first sign-in, and small drivers for the dialog's controls.
#pragma once

#include "auth/client_credentials.h"
#include "drivefs/file_system.h"
#include "errors/check.h"
#include "plugin/resources.h"
#include "tests/auth/auth_support.h"
#include "tests/support/host_sign_in.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

namespace gd::test {

class DialogTest : public ::testing::Test {
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
    // After the dialog has ended.
    void TearDown() override {
        m_file_system->DropStore();
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
    static long RowOf(const std::vector<std::wstring>& rows, const wchar_t* text) {
        auto found = std::find(rows.begin(), rows.end(), text);
        EXPECT_NE(found, rows.end()) << "no row " << testing::PrintToString(std::wstring(text));
        return found == rows.end() ? -1 : static_cast<long>(found - rows.begin());
    }
    HRESULT Drive(HostDialog* dialog, std::function<HRESULT(HostDialog&)> step) {
        return Host().OnUi([&] { return step(*dialog); });
    }
    std::wstring String(const wchar_t* id) {
        std::wstring text;
        EXPECT_TRUE(Host().Strings().Find(id, &text)) << id;
        return text;
    }

    HostSignIn m_sign_in;
    ComPtr<DriveFileSystem> m_file_system;
};

} // namespace gd::test
