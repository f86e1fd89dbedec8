#include "host/emulated_host.h"

#include <gtest/gtest.h>

#include <cstring>
#include <new>
#include <string>
#include <thread>

#include "errors/check.h"
#include "plugin/resources.h"

// GD_PLUGIN_MODULE comes from the build.

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
    for (long& answer : answers)
        EXPECT_EQ(m_host->ShowMessage(L"text", L"caption", 0, nullptr,
                                      Lumo::LUMO_MsgBox_AskYesNoCancel, &answer),
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
class MenuSink : public ComObject<Lumo::ILumoEventSink> {
public:
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                     UINT*) override {
        return E_NOTIMPL;
    }
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

} // namespace
} // namespace gd
