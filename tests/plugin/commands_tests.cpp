#include <windows.h>

#include <bcrypt.h>
#include <tlhelp32.h>
#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <future>

#include "errors/check.h"
#include "host/file_dialog_driver.h"
#include "host/loaded_plugin.h"
#include "http/encoding.h"
#include "tests/auth/auth_support.h"

// GD_PLUGIN_MODULE comes from the build.

namespace gd {
namespace {

constexpr DWORD kDeadline = 30000;
constexpr wchar_t kOpen[] = L"gd.cmd.open";
constexpr wchar_t kSave[] = L"gd.cmd.save";

std::wstring ModulePath() {
    std::string narrow = GD_PLUGIN_MODULE;
    return std::wstring(narrow.begin(), narrow.end());
}

std::string Sha256(const std::vector<BYTE>& bytes) {
    BYTE digest[32] = {};
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0);
    BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0);
    BCryptHashData(hash, const_cast<BYTE*>(bytes.data()), static_cast<ULONG>(bytes.size()), 0);
    BCryptFinishHash(hash, digest, sizeof digest, 0);
    BCryptDestroyHash(hash);
    BCryptCloseAlgorithmProvider(algorithm, 0);
    static const char kHex[] = "0123456789abcdef";
    std::string text;
    for (BYTE b : digest) {
        text += kHex[b >> 4];
        text += kHex[b & 15];
    }
    return text;
}

std::string ContentSha256(const std::string& id) {
    rapidjson::Document answer;
    answer.Parse(
        test::EmulatorControl(L"GET", (L"/_emu/files/" + FromUtf8(id) + L"/content-sha256").c_str())
            .c_str());
    return answer["sha256"].GetString();
}

// The emulator's id of the file with that title and parent (root: none).
std::string IdOf(const char* title) {
    rapidjson::Document files;
    files.Parse(test::EmulatorControl(L"GET", L"/_emu/files").c_str());
    for (const auto& file : files["files"].GetArray()) {
        if (std::string(file["title"].GetString()) == title && !file["trashed"].GetBool())
            return file["id"].GetString();
    }
    return {};
}

// How many threads this process has; 0 when it cannot tell.
size_t ThreadsOfProcess() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return 0;
    size_t count = 0;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID == GetCurrentProcessId())
            ++count;
    }
    CloseHandle(snapshot);
    return count;
}

bool IsOwnWindow(HWND window) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    return process == GetCurrentProcessId();
}

BOOL CALLBACK CountOwnWindow(HWND window, LPARAM count) {
    if (IsOwnWindow(window))
        ++*reinterpret_cast<size_t*>(count);
    return TRUE;
}

// This process's top-level and message-only windows.
size_t WindowsOfProcess() {
    size_t count = 0;
    EnumWindows(CountOwnWindow, reinterpret_cast<LPARAM>(&count));
    for (HWND window = FindWindowExW(HWND_MESSAGE, nullptr, nullptr, nullptr); window != nullptr;
         window = FindWindowExW(HWND_MESSAGE, window, nullptr, nullptr)) {
        if (IsOwnWindow(window))
            ++count;
    }
    return count;
}

// The plug-in loaded by the emulated host as the editor loads it, Alice
// signing in through the host's browser when asked.
class CommandsTest : public testing::Test {
protected:
    void SetUp() override {
        test::ResetEmulator();
        test::UseEmulator();
        ASSERT_EQ(MakeObject(&m_host), S_OK);
        m_host->SetCallTimeout(kDeadline);
        m_host->SetBrowserScript({BrowserAction::Approve, L"alice.emulator@example.com"});
        m_plugin = std::make_unique<LoadedPlugin>(m_host.Get());
        ASSERT_EQ(m_plugin->Load(ModulePath()), S_OK);
        ASSERT_EQ(m_plugin->Start(), S_OK);
    }
    void TearDown() override {
        if (m_run.valid() &&
            m_run.wait_for(std::chrono::milliseconds(kDeadline)) != std::future_status::ready) {
            ADD_FAILURE() << "the command did not end";
            m_host->OnUi([this] { return m_host->Uix().CancelModalDialogs(), S_OK; });
        }
        if (m_run.valid())
            m_run.get();
        m_plugin.reset();
        m_host.Reset();
        SetEnvironmentVariableW(L"DRIVE_EMULATOR_HOST", nullptr);
    }

    // Runs a command through its handler on the UI thread, as the menu does,
    // and waits for its dialog.
    ComPtr<HostDialog> StartCommand(const wchar_t* name) {
        std::wstring command = name;
        m_run = std::async(std::launch::async,
                           [this, command] { return m_host->ExecuteCommand(command); });
        ComPtr<HostDialog> dialog;
        EXPECT_EQ(Driver().Wait(&dialog), S_OK) << "no file dialog";
        return dialog;
    }
    // Runs work that must end without a dialog; a dialog left up fails it.
    HRESULT RunToEnd(std::function<HRESULT()> work) {
        m_run = std::async(std::launch::async, std::move(work));
        return Finish();
    }
    HRESULT Finish() {
        if (m_run.wait_for(std::chrono::milliseconds(kDeadline)) != std::future_status::ready)
            return E_ABORT;
        return m_run.get();
    }
    HRESULT Drive(HostDialog* dialog, std::function<HRESULT(HostDialog&)> step) {
        return m_host->OnUi([&] { return step(*dialog); });
    }
    void WaitListed(HostDialog* dialog) { EXPECT_EQ(Driver().WaitListed(dialog), S_OK); }
    // Double-clicks the row whose title (with its extension) is text.
    void Activate(HostDialog* dialog, const std::wstring& text) {
        EXPECT_EQ(Driver().Activate(dialog, text), S_OK) << "no row " << ToUtf8(text);
    }
    void TypeAndOk(HostDialog* dialog, const wchar_t* text) {
        ASSERT_EQ(Driver().TypeAndOk(dialog, text), S_OK);
    }
    FileDialogDriver Driver() { return FileDialogDriver(*m_host.Get(), kDeadline); }
    std::vector<std::wstring> Entries(const wchar_t* subMenu) {
        HostMenu* file = m_plugin->CmdBars()->MenuBar()->SubMenu(L"cmd.file");
        return file->SubMenu(subMenu)->CommandNames();
    }
    std::wstring String(const wchar_t* id) {
        std::wstring text;
        EXPECT_TRUE(m_host->Strings().Find(id, &text)) << ToUtf8(id);
        return text;
    }

    ComPtr<EmulatedHost> m_host;
    std::unique_ptr<LoadedPlugin> m_plugin;
    std::future<HRESULT> m_run;
};

// The editor's own entries stay; the plug-in's comes last, once.
void ExpectOnceAtTheEnd(const std::vector<std::wstring>& entries, const wchar_t* command) {
    EXPECT_EQ(std::count(entries.begin(), entries.end(), command), 1);
    ASSERT_FALSE(entries.empty());
    EXPECT_EQ(entries.back(), command);
}

TEST_F(CommandsTest, TheCommandsAreInTheFileMenuOnceHoweverOftenItIsBuilt) {
    ExpectOnceAtTheEnd(Entries(L"cmd.openFrom"), kOpen);
    ExpectOnceAtTheEnd(Entries(L"cmd.saveTo"), kSave);
    ComPtr<HostCmdBars> bars(m_plugin->CmdBars());
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(m_host->FireEvent(L"e.mainView.customizeCmdBars",
                                    static_cast<Lumo::ILumoInstance*>(m_host.Get()), bars.Get()),
                  S_OK);
    }
    ExpectOnceAtTheEnd(Entries(L"cmd.openFrom"), kOpen);
    ExpectOnceAtTheEnd(Entries(L"cmd.saveTo"), kSave);
    for (const wchar_t* name : {kOpen, kSave}) {
        ComPtr<HostCommand> command = m_host->Uix().FindCommand(name);
        ASSERT_TRUE(command);
        EXPECT_EQ(m_host->Strings().Resolve(command->m_title), L"&Google Drive...");
        EXPECT_EQ(m_host->Strings().Resolve(command->m_tip),
                  String((name + std::wstring(L".tip")).c_str()));
        EXPECT_EQ(command->m_category, L"gd.cmd.cmdsCategory");
        auto* icon = dynamic_cast<HostIcon*>(command->m_icon.Get());
        ASSERT_NE(icon, nullptr);
        EXPECT_EQ(icon->ImageWidths(), (std::vector<UINT>{16, 24, 32, 48}));
    }
}

// A user may take either sub-menu out of the File menu: the other still gets
// its command, and nothing goes anywhere else.
TEST_F(CommandsTest, AFileMenuWithoutASubMenuStillGetsTheOther) {
    const struct {
        std::vector<std::wstring> removed;
        // The sub-menus the commands go into; null: none is left.
        const wchar_t* open_in;
        const wchar_t* save_in;
    } kCases[] = {
        {{L"cmd.openFrom"}, nullptr, L"cmd.saveTo"},
        {{L"cmd.saveTo"}, L"cmd.openFrom", nullptr},
        {{L"cmd.openFrom", L"cmd.saveTo"}, nullptr, nullptr},
    };
    for (const auto& c : kCases) {
        std::string removed;
        for (const auto& entry : c.removed)
            removed += ToUtf8(entry) + " ";
        SCOPED_TRACE("without " + removed);
        m_host->SetRemovedFileEntries(c.removed);
        ComPtr<HostCmdBars> bars;
        ASSERT_EQ(m_host->CustomizeCmdBars(&bars), S_OK);
        HostMenu* file = bars->MenuBar()->SubMenu(L"cmd.file");
        ASSERT_NE(file, nullptr);
        for (const wchar_t* entry : {L"cmd.openFrom", L"cmd.saveTo"}) {
            bool isRemoved = std::count(c.removed.begin(), c.removed.end(), entry) > 0;
            EXPECT_EQ(file->SubMenu(entry) == nullptr, isRemoved);
        }
        if (c.open_in != nullptr)
            ExpectOnceAtTheEnd(file->SubMenu(c.open_in)->CommandNames(), kOpen);
        if (c.save_in != nullptr)
            ExpectOnceAtTheEnd(file->SubMenu(c.save_in)->CommandNames(), kSave);
        std::vector<std::wstring> fileEntries = file->CommandNames();
        EXPECT_EQ(std::count(fileEntries.begin(), fileEntries.end(), kOpen), 0);
        EXPECT_EQ(std::count(fileEntries.begin(), fileEntries.end(), kSave), 0);
    }
}

// A host that calls the event sink through IDispatch reaches the same
// OnEvent, which acts only on the customize event.
TEST_F(CommandsTest, TheEventSinkAnswersThroughItsTypeInformation) {
    ComPtr<Lumo::ILumoEventSink> sink;
    ASSERT_EQ(m_host->Uix().FindCommand(kOpen)->m_handler.As(&sink), S_OK);
    UINT count = 0;
    EXPECT_EQ(sink->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(sink->GetTypeInfoCount(nullptr), E_POINTER);
    ComPtr<ITypeInfo> info;
    EXPECT_EQ(sink->GetTypeInfo(1, 0, info.Put()), DISP_E_BADINDEX);
    EXPECT_EQ(sink->GetTypeInfo(0, 0, nullptr), E_POINTER);
    EXPECT_EQ(sink->GetTypeInfo(0, 0, info.Put()), S_OK);
    DISPID id = 0;
    LPOLESTR name = const_cast<LPOLESTR>(L"OnEvent");
    ASSERT_EQ(sink->GetIDsOfNames(IID_NULL, &name, 1, 0, &id), S_OK);

    long customize = 0;
    ASSERT_EQ(m_host->GetNameId(L"e.mainView.customizeCmdBars", -1, &customize), S_OK);
    ComPtr<HostCmdBars> bars;
    ASSERT_EQ(m_host->MakeCmdBars(&bars), S_OK);
    HostMenu* openFrom = bars->MenuBar()->SubMenu(L"cmd.file")->SubMenu(L"cmd.openFrom");
    for (long event : {customize + 1, customize}) {
        // The arguments go last to first.
        VARIANT args[3];
        V_VT(&args[0]) = VT_UNKNOWN;
        V_UNKNOWN(&args[0]) = static_cast<Lumo::IUixCmdBars*>(bars.Get());
        V_VT(&args[1]) = VT_UNKNOWN;
        V_UNKNOWN(&args[1]) = static_cast<Lumo::ILumoInstance*>(m_host.Get());
        V_VT(&args[2]) = VT_I4;
        V_I4(&args[2]) = event;
        DISPPARAMS params{args, nullptr, 3, 0};
        Variant result;
        EXPECT_EQ(m_host->OnUi([&] {
            return sink->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params, result.Put(), nullptr,
                                nullptr);
        }),
                  S_OK);
        std::vector<std::wstring> entries = openFrom->CommandNames();
        EXPECT_EQ(std::count(entries.begin(), entries.end(), kOpen), event == customize ? 1 : 0);
    }
}

// The handler answers only for its own commands: another command (or none)
// is disabled and runs nothing.
TEST_F(CommandsTest, AnotherCommandIsDisabledAndRunsNothing) {
    ComPtr<Lumo::IUixCmdHandler> handler = m_host->Uix().FindCommand(kOpen)->m_handler;
    ASSERT_TRUE(handler);
    ComPtr<Lumo::IUixCommand> other;
    ASSERT_EQ(m_host->Uix().CreateCommand(L"cmd.print", 0, handler.Get(), other.Put()), S_OK);
    for (Lumo::IUixCommand* command : {other.Get(), static_cast<Lumo::IUixCommand*>(nullptr)}) {
        long state = 0;
        EXPECT_EQ(m_host->OnUi([&] { return handler->UpdateState(command, 0, nullptr, &state); }),
                  S_OK);
        EXPECT_EQ(state, 2);
        ASSERT_EQ(RunToEnd([&] {
                      return m_host->OnUi([&] { return handler->Execute(0, command, 0, nullptr); });
                  }),
                  S_OK)
            << "a dialog came up";
    }
    EXPECT_EQ(m_host->OnUi([&] { return handler->UpdateState(other.Get(), 0, nullptr, nullptr); }),
              E_POINTER);
    EXPECT_TRUE(m_host->Uix().Dialogs().empty());
    EXPECT_TRUE(m_host->Messages().empty());
    EXPECT_TRUE(m_host->Opens().empty());
}

TEST_F(CommandsTest, OpenIsAlwaysEnabledAndSaveOnlyWithADocument) {
    long state = -1;
    EXPECT_EQ(m_host->CommandState(kOpen, &state), S_OK);
    EXPECT_EQ(state, 0);
    EXPECT_EQ(m_host->CommandState(kSave, &state), S_OK);
    EXPECT_EQ(state, 0);
    m_host->SetHasDocument(false);
    EXPECT_EQ(m_host->CommandState(kSave, &state), S_OK);
    EXPECT_EQ(state, 2);
    // Without a document Save does nothing and shows nothing.
    EXPECT_EQ(m_host->ExecuteCommand(kSave), S_OK);
    EXPECT_TRUE(m_host->Messages().empty());
    EXPECT_TRUE(m_host->Saves().empty());
}

// The host keeps the commands until it frees the module: after Uninit they
// find no file system and no host, and neither run nor show anything.
TEST_F(CommandsTest, AfterUninitTheCommandsDoNothing) {
    ASSERT_EQ(m_plugin->Stop(), S_OK);
    long state = -1;
    EXPECT_EQ(m_host->CommandState(kSave, &state), S_OK);
    EXPECT_EQ(state, 2);
    for (const wchar_t* name : {kOpen, kSave})
        ASSERT_EQ(RunToEnd([&] { return m_host->ExecuteCommand(name); }), S_OK)
            << "a dialog came up";
    EXPECT_TRUE(m_host->Uix().Dialogs().empty());
    EXPECT_TRUE(m_host->Messages().empty());
    EXPECT_TRUE(m_host->Opens().empty());
    EXPECT_TRUE(m_host->Saves().empty());
}

// A denied sign-in reaches the command as a cancellation and shows nothing;
// a failure of the host's open shows the command's own message.
TEST_F(CommandsTest, AFailureShowsTheCommandsMessageButACancellationNothing) {
    m_host->SetBrowserScript({BrowserAction::Deny, L"alice.emulator@example.com"});
    EXPECT_EQ(RunToEnd([this] { return m_host->ExecuteCommand(kOpen); }), S_OK);
    EXPECT_TRUE(m_host->Messages().empty());

    m_host->SetBrowserScript({BrowserAction::Approve, L"alice.emulator@example.com"});
    m_host->SetDocumentResults(E_ACCESSDENIED, S_OK);
    ComPtr<HostDialog> dialog = StartCommand(kOpen);
    ASSERT_TRUE(dialog);
    Activate(dialog.Get(), L"Welcome.pdf");
    EXPECT_EQ(Finish(), S_OK);
    auto messages = m_host->Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, String(L"gd.msg.openFailed"));
    EXPECT_EQ(messages[0].caption, String(L"gd.GDPlugin"));
    EXPECT_EQ(messages[0].style, 0xA0000301u);
    EXPECT_EQ(messages[0].owner, m_host->Ui().Window());
}

TEST_F(CommandsTest, OpensAPdfTwoFoldersDownInTheEditor) {
    m_host->SetOpenFileFlags(0x4001);
    ComPtr<HostDialog> dialog = StartCommand(kOpen);
    ASSERT_TRUE(dialog);
    Activate(dialog.Get(), L"Projects");
    Activate(dialog.Get(), L"2024");
    Activate(dialog.Get(), L"Budget 2024.pdf");
    EXPECT_EQ(Finish(), S_OK);
    auto opens = m_host->Opens();
    ASSERT_EQ(opens.size(), 1u);
    EXPECT_EQ(opens[0].open_file_flags, 0x0001);
    EXPECT_TRUE(opens[0].can_show_err_msg);
    EXPECT_FALSE(opens[0].wrong_type_write);
    EXPECT_EQ(opens[0].result, S_OK);
    EXPECT_EQ(Sha256(m_host->OpenedDocument()), ContentSha256(IdOf("Budget 2024.pdf")));
    EXPECT_TRUE(m_host->Messages().empty());
}

TEST_F(CommandsTest, CancellingTheDialogShowsNothing) {
    ComPtr<HostDialog> dialog = StartCommand(kOpen);
    ASSERT_TRUE(dialog);
    ASSERT_EQ(Drive(dialog.Get(), [](HostDialog& d) { return d.Control(L"btn.cancel")->Click(); }),
              S_OK);
    EXPECT_EQ(Finish(), S_OK);
    EXPECT_TRUE(m_host->Opens().empty());
    EXPECT_TRUE(m_host->Messages().empty());
}

TEST_F(CommandsTest, SavesTheActiveDocumentUnderANewNameInMyDrive) {
    std::vector<BYTE> document(300000);
    for (size_t i = 0; i < document.size(); ++i)
        document[i] = static_cast<BYTE>(i * 7);
    m_host->SetActiveDocument(document);
    ComPtr<HostDialog> dialog = StartCommand(kSave);
    ASSERT_TRUE(dialog);
    TypeAndOk(dialog.Get(), L"Copy of the budget");
    EXPECT_EQ(Finish(), S_OK);
    std::string id = IdOf("Copy of the budget.pdf");
    ASSERT_FALSE(id.empty());
    EXPECT_EQ(ContentSha256(id), Sha256(document));
    EXPECT_TRUE(m_host->Messages().empty());
}

// The editor may load and unload the plug-in many times in one process:
// nothing of it may stay behind. The first round sets the baseline: the test
// framework starts a watcher thread of its own during it.
TEST_F(CommandsTest, LoadingRunningAndUnloadingLeavesNoThreadWindowOrModule) {
    constexpr int kRounds = 20;
    constexpr wchar_t kModuleName[] = L"GoogleDrive.lmp";
    size_t threads = 0, windows = 0;
    for (int round = 1; round <= kRounds; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        if (round > 1) {
            m_plugin = std::make_unique<LoadedPlugin>(m_host.Get());
            ASSERT_EQ(m_plugin->Load(ModulePath()), S_OK);
            ASSERT_EQ(m_plugin->Start(), S_OK);
        }
        ComPtr<HostDialog> dialog = StartCommand(kOpen);
        ASSERT_TRUE(dialog);
        Activate(dialog.Get(), L"Welcome.pdf");
        ASSERT_EQ(Finish(), S_OK);
        m_host->SetActiveDocument(std::vector<BYTE>(1000, static_cast<BYTE>(round)));
        dialog = StartCommand(kSave);
        ASSERT_TRUE(dialog);
        TypeAndOk(dialog.Get(), (L"Round " + std::to_wstring(round)).c_str());
        ASSERT_EQ(Finish(), S_OK);
        ASSERT_NE(GetModuleHandleW(kModuleName), nullptr);
        m_plugin.reset();

        EXPECT_EQ(GetModuleHandleW(kModuleName), nullptr);
        const size_t now = ThreadsOfProcess();
        ASSERT_GT(now, 0u);
        if (round == 1) {
            threads = now;
            windows = WindowsOfProcess();
            continue;
        }
        EXPECT_LE(now, threads);
        EXPECT_LE(WindowsOfProcess(), windows);
    }
    EXPECT_EQ(m_host->Opens().size(), static_cast<size_t>(kRounds));
    EXPECT_EQ(m_host->Saves().size(), static_cast<size_t>(kRounds));
    EXPECT_TRUE(m_host->Messages().empty());
}

TEST_F(CommandsTest, AFailedUploadShowsItsMessageAndLeavesTheFileAsItWas) {
    const std::string id = IdOf("Welcome.pdf");
    const std::string before = ContentSha256(id);
    test::AddFault(R"({"path": "/upload/drive/v2/files/", "method": "PUT", "status": 403,
                       "reason": "insufficientPermissions", "message": "no", "count": -1})");
    m_host->SetActiveDocument(std::vector<BYTE>(1000, 'x'));
    m_host->ScriptAnswers({Lumo::LUMO_MsgBox_Yes, Lumo::LUMO_MsgBox_Cancel});
    ComPtr<HostDialog> dialog = StartCommand(kSave);
    ASSERT_TRUE(dialog);
    TypeAndOk(dialog.Get(), L"Welcome.pdf");
    EXPECT_EQ(Finish(), S_OK);
    EXPECT_EQ(ContentSha256(id), before);
    auto messages = m_host->Messages();
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.back().text, String(L"gd.msg.saveFailed"));
    EXPECT_EQ(messages.back().caption, String(L"gd.GDPlugin"));
}

} // namespace
} // namespace gd
