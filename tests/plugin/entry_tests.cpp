#include <gtest/gtest.h>

#include "errors/check.h"
#include "host/loaded_plugin.h"

// GD_PLUGIN_MODULE comes from the build.

namespace gd {
namespace {

constexpr DWORD kDeadline = 20000;

std::wstring ModulePath() {
    std::string narrow = GD_PLUGIN_MODULE;
    return std::wstring(narrow.begin(), narrow.end());
}

class PluginEntry : public testing::Test {
protected:
    void SetUp() override {
        m_module = LoadLibraryW(ModulePath().c_str());
        ASSERT_NE(m_module, nullptr);
        m_get_plugin = reinterpret_cast<Lumo::LUME_GetPluginProc>(
            reinterpret_cast<void (*)()>(GetProcAddress(m_module, Lumo::LUME_GetPluginName)));
        ASSERT_NE(m_get_plugin, nullptr);
    }
    void TearDown() override {
        if (m_module != nullptr)
            FreeLibrary(m_module);
    }
    HMODULE m_module = nullptr;
    Lumo::LUME_GetPluginProc m_get_plugin = nullptr;
};

TEST_F(PluginEntry, AnswersThePluginInterfaceWithTheOnlyReference) {
    EXPECT_EQ(m_get_plugin(0, nullptr, nullptr), E_POINTER);

    void* raw = reinterpret_cast<void*>(1);
    ASSERT_EQ(m_get_plugin(0, nullptr, &raw), S_OK);
    ASSERT_NE(raw, nullptr);
    auto* plugin = static_cast<Lumo::ILumoPlugin*>(raw);
    EXPECT_EQ(plugin->AddRef(), 2u);

    ComPtr<IUnknown> unknown;
    EXPECT_EQ(plugin->QueryInterface(__uuidof(IUnknown), unknown.PutVoid()), S_OK);
    unknown.Reset();
    void* other = reinterpret_cast<void*>(1);
    EXPECT_EQ(plugin->QueryInterface(__uuidof(Lumo::IUixCmdHandler), &other), E_NOINTERFACE);
    EXPECT_EQ(other, nullptr);

    EXPECT_EQ(plugin->Release(), 1u);
    EXPECT_EQ(plugin->Release(), 0u);
}

TEST_F(PluginEntry, ReportsItsIdentity) {
    ComPtr<Lumo::ILumoPlugin> plugin;
    ASSERT_EQ(m_get_plugin(0, nullptr, plugin.PutVoid()), S_OK);

    GUID id{};
    ASSERT_EQ(plugin->get_ID(&id), S_OK);
    const GUID kId = {0x853C44EB, 0x3429, 0x4286, {0xA3, 0x8A, 0x9D, 0xE1, 0x66, 0xEC, 0x9B, 0x71}};
    EXPECT_TRUE(IsEqualGUID(id, kId));
    EXPECT_EQ(plugin->get_ID(nullptr), E_POINTER);

    DWORD value = 7;
    EXPECT_EQ(plugin->get_Version(&value), S_OK);
    EXPECT_EQ(value, 0x00030000u);
    EXPECT_EQ(plugin->get_Version(nullptr), S_OK);
    EXPECT_EQ(plugin->get_Flags(&value), S_OK);
    EXPECT_EQ(value, 0u);
    EXPECT_EQ(plugin->get_Flags2(nullptr), S_OK);

    using Getter = HRESULT (STDMETHODCALLTYPE Lumo::ILumoPlugin::*)(BSTR*);
    for (Getter getter : {&Lumo::ILumoPlugin::get_Title, &Lumo::ILumoPlugin::get_Name,
                          &Lumo::ILumoPlugin::get_Notice, &Lumo::ILumoPlugin::get_Description,
                          &Lumo::ILumoPlugin::get_Company}) {
        Bstr text;
        EXPECT_EQ((plugin.Get()->*getter)(text.Put()), S_OK);
        EXPECT_GT(text.Length(), 0u);
        EXPECT_EQ((plugin.Get()->*getter)(nullptr), E_POINTER);
    }
    Bstr title;
    ASSERT_EQ(plugin->get_Title(title.Put()), S_OK);
    EXPECT_STREQ(title.Text(), L"Rodovu Vuvez Udeder");

    EXPECT_EQ(plugin->PostInit(), S_OK);
    EXPECT_EQ(plugin->Reserved1(), E_NOTIMPL);
    EXPECT_EQ(plugin->Reserved2(), E_NOTIMPL);
    EXPECT_EQ(plugin->Reserved3(), E_NOTIMPL);
    EXPECT_EQ(plugin->Reserved4(), E_NOTIMPL);
}

class PluginLifecycle : public testing::Test {
protected:
    void SetUp() override {
        for (auto* host : {&m_host, &m_other_host}) {
            ASSERT_TRUE(SUCCEEDED(MakeObject(host)));
            (*host)->SetCallTimeout(kDeadline);
        }
    }
    HRESULT OnUi(std::function<HRESULT()> work) { return m_host->OnUi(std::move(work)); }

    ComPtr<EmulatedHost> m_host;
    ComPtr<EmulatedHost> m_other_host;
};

TEST_F(PluginLifecycle, TheHostRunsTheWholeLifecycle) {
    LoadedPlugin loaded(m_host.Get());
    ASSERT_EQ(loaded.Load(ModulePath()), S_OK);
    ASSERT_EQ(loaded.Start(), S_OK);

    EXPECT_EQ(m_host->Strings().Resolve(L"$$$.gd.cmd.open"), L"&Google Drive...");
    EXPECT_EQ(m_host->Strings().Resolve(L"$$$.gd.cmd.save"), L"&Google Drive...");
    for (const wchar_t* name : {L"gd.DlgOpenFile", L"gd.msg.invalidFileName", L"cb.googleAcc"})
        EXPECT_TRUE(m_host->Strings().HasName(name)) << name;
    // The file system is registered, and gone again after Uninit.
    auto fileSystems = m_host->Afs().FileSystems();
    ASSERT_EQ(fileSystems.size(), 1u);
    Bstr name;
    EXPECT_EQ(fileSystems[0]->get_DisplayName(name.Put()), S_OK);
    EXPECT_STREQ(name.Text(), L"Google Drive File System");
    fileSystems.clear();

    EXPECT_EQ(loaded.Stop(), S_OK);
    EXPECT_TRUE(m_host->Afs().FileSystems().empty());
}

// The host decides the order: whatever came before Init does nothing, and
// Init with the rest in another order still brings everything.
TEST_F(PluginLifecycle, CallsBeforeInitDoNothingAndAnyOrderAfterItWorks) {
    LoadedPlugin loaded(m_host.Get());
    ASSERT_EQ(loaded.Load(ModulePath()), S_OK);
    Lumo::ILumoPlugin* plugin = loaded.Plugin();
    ASSERT_EQ(OnUi([&]() -> HRESULT {
                  RETURN_IF_FAILED(plugin->Uninit());
                  RETURN_IF_FAILED(plugin->InitUI());
                  return plugin->InitFileSystems();
              }),
              S_OK);
    EXPECT_TRUE(m_host->Uix().Commands().empty());
    EXPECT_TRUE(m_host->Afs().FileSystems().empty());
    EXPECT_FALSE(m_host->Strings().HasName(L"gd.DlgOpenFile"));

    ASSERT_EQ(OnUi([&]() -> HRESULT {
                  RETURN_IF_FAILED(plugin->Init(m_host.Get()));
                  RETURN_IF_FAILED(plugin->InitUI());
                  return plugin->InitFileSystems();
              }),
              S_OK);
    EXPECT_TRUE(m_host->Uix().FindCommand(L"gd.cmd.open"));
    EXPECT_TRUE(m_host->Uix().FindCommand(L"gd.cmd.save"));
    EXPECT_EQ(m_host->Afs().FileSystems().size(), 1u);
    for (const wchar_t* name : {L"gd.DlgOpenFile", L"gd.msg.invalidFileName", L"cb.googleAcc"})
        EXPECT_TRUE(m_host->Strings().HasName(name)) << name;
    ComPtr<HostCmdBars> bars;
    ASSERT_EQ(m_host->CustomizeCmdBars(&bars), S_OK);
    EXPECT_EQ(
        bars->MenuBar()->SubMenu(L"cmd.file")->SubMenu(L"cmd.openFrom")->CommandNames().back(),
        L"gd.cmd.open");

    // A second Uninit finds nothing left to undo.
    EXPECT_EQ(OnUi([&]() -> HRESULT {
                  RETURN_IF_FAILED(plugin->Uninit());
                  return plugin->Uninit();
              }),
              S_OK);
    EXPECT_TRUE(m_host->Afs().FileSystems().empty());
}

TEST_F(PluginLifecycle, InitKeepsTheFirstHostUntilUninit) {
    LoadedPlugin loaded(m_host.Get());
    ASSERT_EQ(loaded.Load(ModulePath()), S_OK);
    Lumo::ILumoPlugin* plugin = loaded.Plugin();
    ASSERT_EQ(OnUi([&]() -> HRESULT {
                  EXPECT_EQ(plugin->Init(nullptr), E_INVALIDARG);
                  RETURN_IF_FAILED(plugin->Init(m_host.Get()));
                  RETURN_IF_FAILED(plugin->Init(m_other_host.Get()));
                  return plugin->InitUI();
              }),
              S_OK);
    // The strings went to the first host only.
    EXPECT_TRUE(m_host->Strings().HasName(L"gd.DlgOpenFile"));
    EXPECT_FALSE(m_other_host->Strings().HasName(L"gd.DlgOpenFile"));
    std::wstring text;
    EXPECT_FALSE(m_other_host->Strings().Find(L"gd.cmd.open", &text));

    // After Uninit the record is empty: the next Init takes its host.
    ASSERT_EQ(OnUi([&]() -> HRESULT {
                  RETURN_IF_FAILED(plugin->Uninit());
                  RETURN_IF_FAILED(plugin->InitUI()); // no host: nothing to reach
                  RETURN_IF_FAILED(plugin->Init(m_other_host.Get()));
                  return plugin->InitUI();
              }),
              S_OK);
    EXPECT_TRUE(m_other_host->Strings().Find(L"gd.cmd.open", &text));
    EXPECT_EQ(text, L"&Google Drive...");
    EXPECT_EQ(OnUi([&] { return plugin->Uninit(); }), S_OK);
    // The second host holds the commands it was given too: like the first,
    // it lets go of them before the module goes.
    EXPECT_EQ(
        m_other_host->OnUi([&] { return m_other_host->DropObjectsOf(loaded.Module()), S_OK; }),
        S_OK);
}

} // namespace
} // namespace gd
