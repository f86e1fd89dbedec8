#include "host/emulated_host.h"

#include <gtest/gtest.h>

#include <cstring>
#include <new>
#include <string>
#include <thread>

#include "errors/check.h"
#include "host/loaded_plugin.h"
#include "host/xml_reader.h"
#include "plugin/resources.h"
#include "tests/support/sdk_stubs.h"

// GD_PLUGIN_MODULE and GD_COUNTING_PLUGIN come from the build.

namespace gd {
namespace {

constexpr DWORD kDeadline = 10000;

class HostTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(MakeObject(&m_host)));
        m_host->SetCallTimeout(kDeadline);
    }
    ComPtr<EmulatedHost> m_host;
};

TEST_F(HostTest, RunFromAWorkerWaitsUntilTheWorkRanOnTheUiThread) {
    DWORD ran_on = 0;
    HRESULT hr = m_host->Ui().Run(
        [&] {
            Sleep(50); // the caller must still be waiting
            ran_on = GetCurrentThreadId();
            return S_FALSE;
        },
        kDeadline);
    EXPECT_EQ(hr, S_FALSE);
    EXPECT_NE(ran_on, 0u);
    EXPECT_NE(ran_on, GetCurrentThreadId());
    EXPECT_TRUE(m_host->Ui().Run([&] { return m_host->Ui().IsCurrent() ? S_OK : E_FAIL; },
                                 kDeadline) == S_OK);
}

TEST_F(HostTest, RunOnTheUiThreadItselfRunsAtOnce) {
    std::string order;
    HRESULT hr = m_host->Ui().Run(
        [&] {
            order += "outer ";
            // Queued work would deadlock here; work run at once returns first.
            HRESULT inner = m_host->Ui().Run([&] {
                order += "inner ";
                return S_FALSE;
            });
            order += "after";
            return inner;
        },
        kDeadline);
    EXPECT_EQ(hr, S_FALSE);
    EXPECT_EQ(order, "outer inner after");
}

TEST_F(HostTest, RunGivesUpAfterItsTimeoutAndTurnsExceptionsIntoCodes) {
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    // The first call keeps the UI thread busy until released.
    std::thread busy(
        [&] { m_host->Ui().Run([&] { return WaitForSingleObject(release, kDeadline), S_OK; }); });
    Sleep(50);
    bool ran = false;
    EXPECT_EQ(m_host->Ui().Run([&ran] { return ran = true, S_OK; }, 100),
              HRESULT_FROM_WIN32(ERROR_TIMEOUT));
    SetEvent(release);
    busy.join();
    // Work whose wait ran out never runs: it would use the waiter's frame.
    EXPECT_EQ(m_host->OnUi([] { return S_OK; }), S_OK);
    EXPECT_FALSE(ran);
    CloseHandle(release);

    EXPECT_EQ(m_host->OnUi([]() -> HRESULT { throw std::bad_alloc(); }), E_OUTOFMEMORY);
    EXPECT_EQ(m_host->OnUi([]() -> HRESULT { throw 42; }), E_FAIL);
}

// Points this program's import of a function at a replacement while alive.
class ImportPatch {
public:
    ImportPatch(const wchar_t* dll, const char* function, void* replacement) {
        void* original = reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(dll), function));
        auto* base = reinterpret_cast<BYTE*>(GetModuleHandleW(nullptr));
        auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(
            base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
        const IMAGE_DATA_DIRECTORY& imports =
            nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
        auto* entry = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
        for (; original != nullptr && entry->Name != 0 && m_slot == nullptr; ++entry) {
            for (auto* thunk = reinterpret_cast<IMAGE_THUNK_DATA*>(base + entry->FirstThunk);
                 thunk->u1.Function != 0; ++thunk) {
                if (reinterpret_cast<void*>(thunk->u1.Function) == original) {
                    m_slot = reinterpret_cast<void**>(&thunk->u1.Function);
                    break;
                }
            }
        }
        if (m_slot != nullptr)
            Write(replacement);
        m_original = original;
    }
    ~ImportPatch() {
        if (m_slot != nullptr)
            Write(m_original);
    }
    bool Applied() const { return m_slot != nullptr; }

private:
    void Write(void* value) {
        DWORD protection = 0;
        VirtualProtect(m_slot, sizeof *m_slot, PAGE_READWRITE, &protection);
        *m_slot = value;
        VirtualProtect(m_slot, sizeof *m_slot, protection, &protection);
    }
    void** m_slot = nullptr;
    void* m_original = nullptr;
};

BOOL WINAPI PostFailingWithoutError(HWND, UINT, WPARAM, LPARAM) {
    SetLastError(ERROR_SUCCESS);
    return FALSE;
}

TEST_F(HostTest, RunFailsAtOnceWhenItsWorkCannotBePosted) {
    bool ran = false;
    HRESULT hr = S_OK;
    {
        ImportPatch patch(L"user32.dll", "PostMessageW",
                          reinterpret_cast<void*>(&PostFailingWithoutError));
        ASSERT_TRUE(patch.Applied());
        hr = m_host->Ui().Run([&ran] { return ran = true, S_OK; }, 2000);
    }
    EXPECT_TRUE(FAILED(hr));
    EXPECT_NE(hr, HRESULT_FROM_WIN32(ERROR_TIMEOUT)) << "it waited for work never posted";
    EXPECT_FALSE(ran);
    EXPECT_EQ(m_host->OnUi([] { return S_FALSE; }), S_FALSE);
}

// A last release on the UI thread ends the thread, and nothing of the freed
// object is read again: its memory is overwritten at once.
TEST(UiThreadTeardown, DestroyedOnItsOwnThreadItStillEnds) {
    alignas(UiThread) unsigned char storage[sizeof(UiThread)];
    auto* ui = new (storage) UiThread;
    HANDLE thread = nullptr;
    HRESULT hr = ui->Run(
        [&] {
            thread = OpenThread(SYNCHRONIZE, FALSE, GetCurrentThreadId());
            ui->~UiThread();
            std::memset(storage, 0xCC, sizeof storage);
            return S_OK;
        },
        kDeadline);
    ASSERT_EQ(hr, S_OK);
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(WaitForSingleObject(thread, kDeadline), WAIT_OBJECT_0);
    CloseHandle(thread);
}

class CountingTask : public ComObject<Lumo::ILumoTask> {
public:
    HRESULT STDMETHODCALLTYPE Run() override {
        m_thread = GetCurrentThreadId();
        return S_FALSE;
    }
    DWORD m_thread = 0;
};

TEST_F(HostTest, RunOnMainThreadRunsTheTaskOnTheUiThread) {
    ComPtr<CountingTask> task;
    ASSERT_TRUE(SUCCEEDED(MakeObject(&task)));
    EXPECT_EQ(m_host->RunOnMainThread(task.Get(), kDeadline), S_FALSE);
    EXPECT_NE(task->m_thread, GetCurrentThreadId());
    EXPECT_NE(task->m_thread, 0u);
    EXPECT_EQ(m_host->RunOnMainThread(nullptr, kDeadline), E_INVALIDARG);
}

HRESULT LoadStrings(StringTable& table, const char* xml) {
    ComPtr<IStream> stream;
    HRESULT hr = CreateStreamOnCopy(xml, std::strlen(xml), stream.Put());
    return SUCCEEDED(hr) ? table.Load(stream.Get()) : hr;
}

TEST(StringTable, ResolvesNamespacedIdsAndMarkedTexts) {
    StringTable table;
    ASSERT_EQ(LoadStrings(table, "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
                                 "<Localization><Module name=\"M\" namespace=\"ns\" /><Strings>"
                                 "<text id=\"a\">&amp;Open &quot;x&quot;</text>"
                                 "<text id=\"empty\" />"
                                 "<text id=\"b.c\">two words</text>"
                                 "</Strings></Localization>"),
              S_OK);
    const struct {
        const wchar_t* text;
        const wchar_t* shown;
    } kCases[] = {
        {L"$$$.ns.a", L"&Open \"x\""},  {L"$$$.ns.b.c", L"two words"},
        {L"$$$.ns.empty", L""},         {L"$$$.btn.ok", L"OK"},
        {L"$$$.a", L"$$$.a"},           {L"$$$.ns.unknown", L"$$$.ns.unknown"},
        {L"plain text", L"plain text"}, {L"ns.a", L"ns.a"},
    };
    for (const auto& c : kCases)
        EXPECT_EQ(table.Resolve(c.text), c.shown) << c.text;
}

TEST(StringTable, NamesKeepTheirNumbers) {
    StringTable table;
    long first = table.NameId(L"gd.DlgOpenFile");
    EXPECT_EQ(table.NameId(L"gd.DlgOpenFile", 7), first);
    EXPECT_EQ(table.NameId(L"requested", 7), 7);
    long other = table.NameId(L"taken", 7);
    EXPECT_NE(other, 7);
    EXPECT_NE(other, first);
    std::wstring name;
    ASSERT_TRUE(table.NameOf(other, &name));
    EXPECT_EQ(name, L"taken");
    EXPECT_FALSE(table.HasName(L"never"));
}

TEST_F(HostTest, MessageBoxesAreRecordedAndAnsweredFromTheScript) {
    m_host->ScriptAnswers({Lumo::LUMO_MsgBox_Yes, Lumo::LUMO_MsgBox_No});
    long answers[3] = {};
    // Off the UI thread a message box is refused and uses no answer.
    long refused = -1;
    EXPECT_EQ(m_host->ShowMessage(L"text", L"caption", 0, nullptr, 0, &refused),
              RPC_E_WRONG_THREAD);
    EXPECT_EQ(refused, -1);
    for (long& answer : answers)
        EXPECT_EQ(m_host->OnUi([&] {
            return m_host->ShowMessage(L"text", L"caption", 0, nullptr,
                                       Lumo::LUMO_MsgBox_AskYesNoCancel, &answer);
        }),
                  S_OK);
    EXPECT_EQ(answers[0], Lumo::LUMO_MsgBox_Yes);
    EXPECT_EQ(answers[1], Lumo::LUMO_MsgBox_No);
    EXPECT_EQ(answers[2], EmulatedHost::kDefaultAnswer);
    auto messages = m_host->Messages();
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(messages[1].text, L"text");
    EXPECT_EQ(messages[1].caption, L"caption");
    EXPECT_EQ(messages[1].style, Lumo::LUMO_MsgBox_AskYesNoCancel);
    EXPECT_EQ(messages[1].answer, Lumo::LUMO_MsgBox_No);
}

// Inserts a command into the File menu's "cmd.openFrom" sub-menu the way a
// plug-in does when the command bars are customized.
class MenuSink : public test::NoDispatch<ComObject<Lumo::ILumoEventSink>> {
public:
    HRESULT STDMETHODCALLTYPE OnEvent(long, IUnknown*, IUnknown* event) override {
        m_thread = GetCurrentThreadId();
        ComPtr<IUnknown> object(event);
        ComPtr<Lumo::IUixCmdBars> bars;
        ComPtr<Lumo::IUixMenu> bar, file, open_from;
        ComPtr<Lumo::IUixMenuItem> item;
        long index = -1;
        RETURN_IF_FAILED(object.As(&bars));
        RETURN_IF_FAILED(bars->get_MenuBar(bar.Put()));
        RETURN_IF_FAILED(bar->FindItem(L"cmd.file", &index));
        RETURN_IF_FAILED(bar->get_Item(index, item.Put()));
        RETURN_IF_FAILED(item->get_SubMenu(file.Put()));
        RETURN_IF_FAILED(file->FindItem(L"cmd.openFrom", &index));
        RETURN_IF_FAILED(file->get_Item(index, item.Put()));
        RETURN_IF_FAILED(item->get_SubMenu(open_from.Put()));
        return open_from->InsertCommand(0, m_command_id, 0, 0);
    }
    long m_command_id = 0;
    DWORD m_thread = 0;
};

TEST_F(HostTest, CustomizingCommandBarsLetsSubscribersFillTheFileMenu) {
    ComPtr<MenuSink> sink;
    ASSERT_TRUE(SUCCEEDED(MakeObject(&sink)));
    ComPtr<Lumo::IUixCommand> command;
    ASSERT_EQ(m_host->Uix().CreateCommand(L"gd.cmd.open", 0, nullptr, command.Put()), S_OK);
    ASSERT_EQ(command->get_ID(&sink->m_command_id), S_OK);
    long event_id = 0;
    ASSERT_EQ(m_host->GetNameId(L"e.mainView.customizeCmdBars", -1, &event_id), S_OK);
    ASSERT_EQ(m_host->Subscribe(event_id, sink.Get(), 0), S_OK);

    ComPtr<HostCmdBars> bars;
    ASSERT_EQ(m_host->CustomizeCmdBars(&bars), S_OK);
    EXPECT_NE(sink->m_thread, 0u);
    EXPECT_NE(sink->m_thread, GetCurrentThreadId());
    HostMenu* file = bars->MenuBar()->SubMenu(L"cmd.file");
    ASSERT_NE(file, nullptr);
    ASSERT_NE(file->SubMenu(L"cmd.saveTo"), nullptr);
    EXPECT_EQ(file->SubMenu(L"cmd.openFrom")->CommandNames(),
              (std::vector<std::wstring>{L"gd.cmd.open", L"cmd.openLocal"}));
    EXPECT_EQ(file->SubMenu(L"cmd.saveTo")->CommandNames(),
              (std::vector<std::wstring>{L"cmd.saveLocal"}));
}

TEST_F(HostTest, DecodesThePluginsPngIconsIntoAnIcon) {
    HMODULE module = LoadLibraryExA(GD_PLUGIN_MODULE, nullptr,
                                    LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(module, nullptr);
    ComPtr<Lumo::IUixIcon> icon;
    ASSERT_EQ(m_host->Uix().CreateIcon(icon.Put()), S_OK);
    HRESULT hr = m_host->OnUi([&]() -> HRESULT {
        for (WORD id : kCommandIconIds) {
            ComPtr<IStream> png;
            ComPtr<Lumo::IUixImage> image;
            RETURN_IF_FAILED(CreateResourceStream(module, kPngResourceType, id, png.Put()));
            RETURN_IF_FAILED(m_host->Uix().DecodeImage(png.Get(), image.Put()));
            RETURN_IF_FAILED(icon->AddImage(image.Get()));
        }
        return S_OK;
    });
    FreeLibrary(module);
    ASSERT_EQ(hr, S_OK);
    EXPECT_EQ(static_cast<HostIcon*>(icon.Get())->ImageWidths(),
              (std::vector<UINT>{16, 24, 32, 48}));

    const char kNotAnImage[] = "not an image";
    ComPtr<IStream> junk;
    ASSERT_EQ(CreateStreamOnCopy(kNotAnImage, sizeof kNotAnImage, junk.Put()), S_OK);
    ComPtr<Lumo::IUixImage> image;
    EXPECT_TRUE(
        FAILED(m_host->OnUi([&] { return m_host->Uix().DecodeImage(junk.Get(), image.Put()); })));
    EXPECT_FALSE(image);
}

// A reader whose value buffer is reused by the next move, as XmlLite allows.
class ReusingReader : public ComObject<IXmlReader> {
public:
    HRESULT STDMETHODCALLTYPE SetInput(IUnknown*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetProperty(UINT, LONG_PTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetProperty(UINT, LONG_PTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Read(XmlNodeType*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetNodeType(XmlNodeType*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE MoveToFirstAttribute() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE MoveToNextAttribute() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE MoveToAttributeByName(LPCWSTR name, LPCWSTR) override {
        if (std::wcscmp(name, L"id") != 0)
            return S_FALSE;
        std::wcscpy(m_value, L"btn.ok");
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE MoveToElement() override {
        std::wcscpy(m_value, L"");
        m_on_element = true;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetQualifiedName(LPCWSTR*, UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetNamespaceUri(LPCWSTR*, UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetLocalName(LPCWSTR*, UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetPrefix(LPCWSTR*, UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetValue(LPCWSTR* value, UINT* length) override {
        m_on_element = false;
        *value = m_value;
        if (length != nullptr)
            *length = static_cast<UINT>(std::wcslen(m_value));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ReadValueChunk(WCHAR*, UINT, UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetBaseUri(LPCWSTR*, UINT*) override { return E_NOTIMPL; }
    BOOL STDMETHODCALLTYPE IsDefault() override { return FALSE; }
    BOOL STDMETHODCALLTYPE IsEmptyElement() override { return TRUE; }
    HRESULT STDMETHODCALLTYPE GetLineNumber(UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetLinePosition(UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetAttributeCount(UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetDepth(UINT*) override { return E_NOTIMPL; }
    BOOL STDMETHODCALLTYPE IsEOF() override { return FALSE; }

    wchar_t m_value[32] = L"";
    bool m_on_element = false;
};

TEST(XmlAttribute, TheValueIsTakenBeforeTheReaderMovesBack) {
    ComPtr<ReusingReader> reader;
    ASSERT_TRUE(SUCCEEDED(MakeObject(&reader)));
    EXPECT_EQ(XmlAttribute(reader.Get(), L"id"), L"btn.ok");
    EXPECT_TRUE(reader->m_on_element);
    EXPECT_EQ(XmlAttribute(reader.Get(), L"absent"), L"");
}

std::wstring Widen(const char* text) {
    return std::wstring(text, text + std::strlen(text));
}

// The module counts its objects alive when it is freed; the host must have
// dropped every one it held (sink, command handler, dialog and its handler,
// list callback, notify handler) before.
TEST(PluginUnload, TheHostLetsGoOfThePluginsObjectsBeforeFreeingItsModule) {
    ComPtr<EmulatedHost> host;
    ASSERT_TRUE(SUCCEEDED(MakeObject(&host)));
    host->SetCallTimeout(kDeadline);
    HMODULE reporter = LoadLibraryA(GD_COUNTING_PLUGIN);
    ASSERT_NE(reporter, nullptr);
    auto report_to = reinterpret_cast<void (*)(long*)>(
        reinterpret_cast<void (*)()>(GetProcAddress(reporter, "CountingPlugin_ReportTo")));
    ASSERT_NE(report_to, nullptr);
    long live_at_unload = -1;
    report_to(&live_at_unload);
    {
        LoadedPlugin plugin(host.Get());
        ASSERT_EQ(plugin.Load(Widen(GD_COUNTING_PLUGIN)), S_OK);
        FreeLibrary(reporter); // the host's load is the module's last one now
        ASSERT_EQ(plugin.Start(), S_OK);
        ASSERT_TRUE(host->Uix().FindCommand(L"counting.cmd"));
        ASSERT_EQ(host->Uix().Dialogs().size(), 1u);
        EXPECT_FALSE(host->Uix().Dialogs()[0]->IsDestroyed());
    }
    EXPECT_EQ(live_at_unload, 0);
    if (live_at_unload != 0) {
        (void)host.Detach(); // releasing it would call into the freed module
        return;
    }
    EXPECT_FALSE(host->Uix().FindCommand(L"counting.cmd"));
    EXPECT_TRUE(host->Uix().Dialogs()[0]->IsDestroyed());
    EXPECT_EQ(host->ExecuteCommand(L"counting.cmd"), HRESULT_FROM_WIN32(ERROR_NOT_FOUND));
}

} // namespace
} // namespace gd
