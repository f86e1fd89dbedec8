#include "host/emulated_host.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <functional>
#include <future>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "errors/check.h"
#include "plugin/resources.h"
#include "tests/support/sdk_stubs.h"

// GD_PLUGIN_MODULE comes from the build.

namespace gd {
namespace {

constexpr DWORD kDeadline = 10000;

// Rows "row 0", "row 1", ... in one column; remembers the activated row.
class RowsCallback : public test::NoListImages<ComObject<Lumo::IUixListCallback>> {
public:
    HRESULT STDMETHODCALLTYPE GetItemText(const Lumo::UIX_ListItemId* item, LPCWSTR* text,
                                          long* length, DWORD* flags) override {
        m_text = L"row " + std::to_wstring(item->nItem);
        *text = m_text.c_str();
        *length = static_cast<long>(m_text.size());
        *flags = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnItemActivated(const Lumo::UIX_ListItemId* item, DWORD) override {
        m_activated = item->nItem;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnColumnClick(long, long) override { return S_OK; }

    std::wstring m_text;
    long m_activated = -1;
};

// Behaves like a plug-in's dialog: fills the account combo at start, ends
// with 1 on OK (keeping the typed name) and 2 on Cancel.
class DialogHandler : public ComObject<Lumo::IUixEventHandler> {
public:
    explicit DialogHandler(EmulatedHost* host) : m_host(host) {}

    HRESULT STDMETHODCALLTYPE OnEvent(Lumo::IUixEvent* event) override {
        long code = 0, item = 0, kind = 0;
        RETURN_IF_FAILED(event->get_Code(&code));
        m_codes.push_back(code);
        if (code == Lumo::UIX_Event_ObjAttached)
            return event->get_Object(m_dialog.Put());
        if (code == Lumo::UIX_Event_InitDialog) {
            RETURN_IF_FAILED(FillAccounts());
            RETURN_IF_FAILED(FillRows());
            // A dialog that gives up while it starts.
            return m_end_at_start ? m_dialog->EndModal(Lumo::UIX_ModalResult_Cancel) : S_OK;
        }
        if (code != Lumo::UIX_Event_Notify)
            return S_OK;
        RETURN_IF_FAILED(event->get_ItemId(&item));
        RETURN_IF_FAILED(event->get_Kind(&kind));
        if (kind != Lumo::UIX_Notify_Click)
            return S_OK;
        if (item == Id(L"btn.ok")) {
            ComPtr<Lumo::IUixObj> edit;
            RETURN_IF_FAILED(Item(L"gd.ed.fileName", &edit));
            RETURN_IF_FAILED(edit->get_Text(m_file_name.Put()));
            return m_dialog->EndModal(Lumo::UIX_ModalResult_Ok);
        }
        if (item == Id(L"btn.cancel"))
            return m_dialog->EndModal(Lumo::UIX_ModalResult_Cancel);
        return S_OK;
    }

    long Id(const wchar_t* name) {
        long id = 0;
        m_host->GetNameId(name, Lumo::LUMO_NameId_Auto, &id);
        return id;
    }
    HRESULT Item(const wchar_t* name, ComPtr<Lumo::IUixObj>* item) {
        ComPtr<Lumo::IUixDialog> dialog;
        RETURN_IF_FAILED(m_dialog.As(&dialog));
        return dialog->GetItem(Id(name), item->Put());
    }
    HRESULT FillAccounts() {
        ComPtr<Lumo::IUixObj> item;
        ComPtr<Lumo::IUixCombo> combo;
        RETURN_IF_FAILED(Item(L"cb.googleAcc", &item));
        RETURN_IF_FAILED(item.As(&combo));
        RETURN_IF_FAILED(combo->InsertItem(-1, L"a@example.com", nullptr, nullptr, 11, 0));
        RETURN_IF_FAILED(combo->InsertItem(-1, L"b@example.com", nullptr, nullptr, 22, 0));
        return combo->put_SelItem(0);
    }

    HRESULT FillRows() {
        ComPtr<Lumo::IUixObj> item;
        RETURN_IF_FAILED(Item(L"gd.lst.Test", &item));
        RETURN_IF_FAILED(item.As(&m_list));
        RETURN_IF_FAILED(MakeObject(&m_rows));
        RETURN_IF_FAILED(m_list->put_Callback(m_rows.Get()));
        RETURN_IF_FAILED(m_list->InsertColumn(-1, 100, L"Name", L"hint"));
        return m_list->put_ItemCount(3);
    }

    EmulatedHost* m_host;
    ComPtr<Lumo::IUixObj> m_dialog;
    ComPtr<Lumo::IUixList> m_list;
    ComPtr<RowsCallback> m_rows;
    std::vector<long> m_codes;
    Bstr m_file_name;
    bool m_end_at_start = false;
};

class HostDialogs : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(MakeObject(&m_host)));
        m_host->SetCallTimeout(kDeadline);
        m_module = LoadLibraryExA(GD_PLUGIN_MODULE, nullptr,
                                  LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        ASSERT_NE(m_module, nullptr);
        ASSERT_EQ(GetResourceBytes(m_module, kXmlResourceType, kLayoutsResourceId, &m_layout,
                                   &m_layout_size),
                  S_OK);
        ComPtr<IStream> strings;
        ASSERT_EQ(
            CreateResourceStream(m_module, kXmlResourceType, kStringsResourceId, strings.Put()),
            S_OK);
        ASSERT_EQ(m_host->LoadLocalization(strings.Get()), S_OK);
        ASSERT_TRUE(SUCCEEDED(MakeObject(&m_handler, m_host.Get())));
    }
    // A test that failed midway leaves its dialog modal: end it, so that the
    // pending show returns instead of blocking the fixture's end.
    void TearDown() override {
        if (m_shown.valid()) {
            m_host->OnUi([&] { return m_host->Uix().CancelModalDialogs(), S_OK; });
            m_shown.wait_for(std::chrono::milliseconds(kDeadline));
        }
        if (m_module != nullptr)
            FreeLibrary(m_module);
    }

    // What a plug-in asks for to build the layout's dialog `id` (no handler).
    HRESULT InitParams(const wchar_t* id, Lumo::UIX_CreateParams* params) {
        RETURN_IF_FAILED(m_host->InitCreateParams(0, params));
        params->kind = Lumo::UIX_ObjKind_Dialog;
        params->layout_format = Lumo::UIX_LayoutFormat_Xml;
        params->layout = m_layout;
        params->layout_size = m_layout_size;
        params->id = id;
        params->style = 0x86CD0000; // popup with caption and sizing frame
        return S_OK;
    }

    // Shows "DlgOpenFile" modally on the UI thread, as a plug-in's command does.
    std::future<long>& ShowDialog() {
        return m_shown = std::async(std::launch::async, [this] {
                   long result = -1;
                   m_host->Ui().Run([&]() -> HRESULT {
                       Lumo::UIX_CreateParams params{};
                       RETURN_IF_FAILED(InitParams(L"DlgOpenFile", &params));
                       params.handler = m_handler.Get();
                       RETURN_IF_FAILED(m_host->Uix().CreateObj(&params, nullptr));
                       RETURN_HR_IF_NULL(E_UNEXPECTED, m_handler->m_dialog.Get());
                       RETURN_IF_FAILED(
                           m_handler->m_dialog->DoModal(Lumo::UIX_ObjModal_AppModal, &result));
                       return m_handler->m_dialog->Destroy();
                   });
                   return result;
               });
    }

    ComPtr<EmulatedHost> m_host;
    HMODULE m_module = nullptr;
    const BYTE* m_layout = nullptr;
    DWORD m_layout_size = 0;
    ComPtr<DialogHandler> m_handler;
    std::future<long> m_shown;
};

TEST_F(HostDialogs, AModalDialogIsDrivenWithoutAScreen) {
    std::future<long>& shown = ShowDialog();
    ComPtr<HostDialog> dialog = m_host->Uix().WaitForDialog(L"DlgOpenFile", kDeadline);
    ASSERT_TRUE(dialog);

    // The modal loop keeps running work handed to the UI thread.
    EXPECT_EQ(m_host->OnUi([] { return S_FALSE; }), S_FALSE);

    HRESULT hr = m_host->OnUi([&]() -> HRESULT {
        HWND window = nullptr;
        RETURN_IF_FAILED(dialog->get_Window(&window));
        EXPECT_FALSE(IsWindowVisible(window));
        EXPECT_EQ(dialog->Control(L"btn.ok")->Text(), L"OK");
        EXPECT_EQ(dialog->Control(L"btn.connectToAnother")->Text(), L"New Login...");
        EXPECT_EQ(dialog->Control(L"gd.lbl.fileName")->Text(), L"File Name:");
        HostControl* accounts = dialog->Control(L"cb.googleAcc");
        EXPECT_EQ(accounts->ComboEntries().size(), 2u);
        RETURN_IF_FAILED(accounts->Pick(1));
        RETURN_IF_FAILED(dialog->Control(L"gd.ed.fileName")->Type(L"report.pdf"));
        return dialog->Control(L"btn.ok")->Click();
    });
    ASSERT_EQ(hr, S_OK);
    ASSERT_EQ(shown.wait_for(std::chrono::milliseconds(kDeadline)), std::future_status::ready);
    EXPECT_EQ(shown.get(), Lumo::UIX_ModalResult_Ok);
    EXPECT_STREQ(m_handler->m_file_name.Text(), L"report.pdf");
    EXPECT_TRUE(dialog->IsDestroyed());

    const std::vector<long>& codes = m_handler->m_codes;
    ASSERT_GE(codes.size(), 3u);
    EXPECT_EQ(codes[0], Lumo::UIX_Event_ObjAttached);
    EXPECT_EQ(codes[1], Lumo::UIX_Event_InitDialog);
    EXPECT_EQ(codes.back(), Lumo::UIX_Event_ObjDetached);
}

// Marks Escape handled, as a dialog's keyboard filter does.
class EscapeFilter : public ComObject<Lumo::IUixEventHandler> {
public:
    HRESULT STDMETHODCALLTYPE OnEvent(Lumo::IUixEvent* event) override {
        long code = 0;
        WPARAM key = 0;
        RETURN_IF_FAILED(event->get_Code(&code));
        RETURN_IF_FAILED(event->get_WParam(&key));
        ++m_seen;
        if (code == WM_KEYDOWN && key == VK_ESCAPE)
            return event->put_Handled(VARIANT_TRUE);
        return S_OK;
    }
    int m_seen = 0;
};

TEST_F(HostDialogs, KeysReachTheKeyboardHandlersOfTheDialog) {
    std::future<long>& shown = ShowDialog();
    ComPtr<HostDialog> dialog = m_host->Uix().WaitForDialog(L"DlgOpenFile", kDeadline);
    ASSERT_TRUE(dialog);
    ComPtr<EscapeFilter> filter;
    ASSERT_TRUE(SUCCEEDED(MakeObject(&filter)));
    HRESULT hr = m_host->OnUi([&]() -> HRESULT {
        ComPtr<Lumo::IUixEventSource> keys;
        DWORD cookie = 0;
        RETURN_IF_FAILED(dialog->GetEventSource(Lumo::UIX_EventSource_Keyboard, keys.Put()));
        RETURN_IF_FAILED(keys->Advise(filter.Get(), &cookie));
        EXPECT_EQ(dialog->PressKey(VK_ESCAPE), S_OK);
        EXPECT_EQ(dialog->PressKey(VK_RETURN), S_FALSE);
        RETURN_IF_FAILED(keys->Unadvise(cookie));
        EXPECT_EQ(dialog->PressKey(VK_ESCAPE), S_FALSE);
        return dialog->Control(L"btn.cancel")->Click();
    });
    ASSERT_EQ(hr, S_OK);
    EXPECT_EQ(filter->m_seen, 2);
    ASSERT_EQ(shown.wait_for(std::chrono::milliseconds(kDeadline)), std::future_status::ready);
    EXPECT_EQ(shown.get(), Lumo::UIX_ModalResult_Cancel);
}

TEST_F(HostDialogs, ADisabledButtonCannotBeClicked) {
    std::future<long>& shown = ShowDialog();
    ComPtr<HostDialog> dialog = m_host->Uix().WaitForDialog(L"DlgOpenFile", kDeadline);
    ASSERT_TRUE(dialog);
    HRESULT hr = m_host->OnUi([&]() -> HRESULT {
        HostControl* ok = dialog->Control(L"btn.ok");
        RETURN_IF_FAILED(ok->put_Enabled(VARIANT_FALSE));
        EXPECT_TRUE(FAILED(ok->Click()));
        EXPECT_TRUE(dialog->IsModal());
        return dialog->Control(L"btn.cancel")->Click();
    });
    ASSERT_EQ(hr, S_OK);
    ASSERT_EQ(shown.wait_for(std::chrono::milliseconds(kDeadline)), std::future_status::ready);
    EXPECT_EQ(shown.get(), Lumo::UIX_ModalResult_Cancel);
    EXPECT_EQ(m_handler->m_file_name.Get(), nullptr);
}

TEST_F(HostDialogs, AVirtualListAsksItsCallbackForCellsAndSelections) {
    std::future<long>& shown = ShowDialog();
    ComPtr<HostDialog> dialog = m_host->Uix().WaitForDialog(L"DlgOpenFile", kDeadline);
    ASSERT_TRUE(dialog);
    HRESULT hr = m_host->OnUi([&]() -> HRESULT {
        HostControl* list = dialog->Control(L"gd.lst.Test");
        EXPECT_EQ(list->RowCount(), 3);
        std::wstring text;
        RETURN_IF_FAILED(list->CellText(2, 0, &text));
        EXPECT_EQ(text, L"row 2");

        // Several rows only in a list that allows them.
        EXPECT_EQ(list->SelectRows({2, 0}), E_INVALIDARG);
        RETURN_IF_FAILED(
            list->SetStyle(Lumo::UIX_ListStyle_MultiSelect, Lumo::UIX_ListStyle_MultiSelect));
        RETURN_IF_FAILED(list->SelectRows({2, 0}));
        Lumo::UIX_ListItemId item{};
        EXPECT_EQ(m_handler->m_list->GetFirstSelected(&item), S_OK);
        EXPECT_EQ(item.nItem, 0);
        EXPECT_EQ(m_handler->m_list->GetNextSelected(&item), S_OK);
        EXPECT_EQ(item.nItem, 2);
        EXPECT_EQ(m_handler->m_list->GetNextSelected(&item), S_FALSE);
        EXPECT_TRUE(FAILED(list->SelectRows({3})));

        RETURN_IF_FAILED(list->ActivateRow(1));
        EXPECT_EQ(m_handler->m_rows->m_activated, 1);
        return dialog->Control(L"btn.cancel")->Click();
    });
    ASSERT_EQ(hr, S_OK);
    ASSERT_EQ(shown.wait_for(std::chrono::milliseconds(kDeadline)), std::future_status::ready);
    EXPECT_EQ(shown.get(), Lumo::UIX_ModalResult_Cancel);
}

TEST_F(HostDialogs, AnEndAskedForAtTheStartEndsTheModalLoopAtOnce) {
    m_handler->m_end_at_start = true;
    std::future<long>& shown = ShowDialog();
    ASSERT_EQ(shown.wait_for(std::chrono::milliseconds(kDeadline)), std::future_status::ready)
        << "the modal loop missed the end";
    EXPECT_EQ(shown.get(), Lumo::UIX_ModalResult_Cancel);
}

// Tells when it is gone; otherwise an event handler and a list callback.
class Watched
    : public test::NoListImages<ComObject<Lumo::IUixEventHandler, Lumo::IUixListCallback>> {
public:
    explicit Watched(bool* gone, std::function<void()> on_event = {})
        : m_gone(gone), m_on_event(std::move(on_event)) {}
    ~Watched() override { *m_gone = true; }
    HRESULT STDMETHODCALLTYPE OnEvent(Lumo::IUixEvent*) override {
        if (m_on_event)
            m_on_event();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetItemText(const Lumo::UIX_ListItemId*, LPCWSTR* text, long* length,
                                          DWORD*) override {
        *text = L"";
        *length = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnItemActivated(const Lumo::UIX_ListItemId*, DWORD) override {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnColumnClick(long, long) override { return S_OK; }
    ComPtr<Lumo::IUixList> m_list; // a list callback holds its list

private:
    bool* m_gone;
    std::function<void()> m_on_event;
};

HRESULT AdviseOn(Lumo::IUixObj* object, Lumo::UIX_EventSourceKind kind,
                 Lumo::IUixEventHandler* handler) {
    ComPtr<Lumo::IUixEventSource> source;
    DWORD cookie = 0;
    RETURN_IF_FAILED(object->GetEventSource(kind, source.Put()));
    return source->Advise(handler, &cookie);
}

TEST_F(HostDialogs, DestroyLetsGoOfTheListCallbackAndTheHandlers) {
    bool callback_gone = false, notify_gone = false, keys_gone = false;
    ComPtr<Lumo::IUixObj> ok; // a plug-in may keep a control past its dialog
    HRESULT hr = m_host->OnUi([&]() -> HRESULT {
        Lumo::UIX_CreateParams params{};
        RETURN_IF_FAILED(InitParams(L"DlgOpenFile", &params));
        params.handler = m_handler.Get();
        RETURN_IF_FAILED(m_host->Uix().CreateObj(&params, nullptr));
        ComPtr<Lumo::IUixObj> dialog = m_handler->m_dialog;
        ComPtr<Watched> callback, notify, keys;
        RETURN_IF_FAILED(MakeObject(&callback, &callback_gone));
        RETURN_IF_FAILED(MakeObject(&notify, &notify_gone));
        RETURN_IF_FAILED(MakeObject(&keys, &keys_gone));
        callback->m_list = m_handler->m_list;
        RETURN_IF_FAILED(m_handler->m_list->put_Callback(callback.Get()));
        RETURN_IF_FAILED(m_handler->Item(L"btn.ok", &ok));
        RETURN_IF_FAILED(AdviseOn(ok.Get(), Lumo::UIX_EventSource_Notify, notify.Get()));
        RETURN_IF_FAILED(AdviseOn(dialog.Get(), Lumo::UIX_EventSource_Keyboard, keys.Get()));
        m_handler->m_list.Reset();
        return dialog->Destroy();
    });
    ASSERT_EQ(hr, S_OK);
    EXPECT_TRUE(callback_gone) << "the list and its callback keep each other";
    EXPECT_TRUE(notify_gone);
    EXPECT_TRUE(keys_gone);
    m_host->OnUi([&] { return ok.Reset(), S_OK; });
}

TEST_F(HostDialogs, ANotifyHandlerMayDestroyTheDialog) {
    std::future<long>& shown = ShowDialog();
    ComPtr<HostDialog> dialog = m_host->Uix().WaitForDialog(L"DlgOpenFile", kDeadline);
    ASSERT_TRUE(dialog);
    bool gone = false;
    HRESULT hr = m_host->OnUi([&]() -> HRESULT {
        ComPtr<Watched> destroyer;
        RETURN_IF_FAILED(MakeObject(&destroyer, &gone, [&] { dialog->Destroy(); }));
        HostControl* ok = dialog->Control(L"btn.ok");
        RETURN_IF_FAILED(AdviseOn(ok, Lumo::UIX_EventSource_Notify, destroyer.Get()));
        destroyer.Reset();
        return ok->Click();
    });
    EXPECT_EQ(hr, S_OK);
    EXPECT_TRUE(gone);
    EXPECT_TRUE(dialog->IsDestroyed());
    ASSERT_EQ(shown.wait_for(std::chrono::milliseconds(kDeadline)), std::future_status::ready);
    shown.get();
    EXPECT_EQ(m_handler->m_file_name.Get(), nullptr); // the dialog's handler heard no OK
}

// The last reference to the host goes while a dialog runs its modal loop:
// the loop ends as a cancel and the UI thread ends.
TEST_F(HostDialogs, TheHostsTeardownEndsARunningModalLoop) {
    std::future<long>& shown = ShowDialog();
    ASSERT_TRUE(m_host->Uix().WaitForDialog(L"DlgOpenFile", kDeadline));
    auto released = std::make_shared<std::promise<void>>();
    std::future<void> done = released->get_future();
    std::thread([host = std::move(m_host), released]() mutable {
        host.Reset();
        released->set_value();
    }).detach();
    if (done.wait_for(std::chrono::milliseconds(kDeadline)) != std::future_status::ready) {
        ADD_FAILURE() << "the host's teardown hangs";
        new std::future<long>(std::move(m_shown)); // stuck for good: left to the process's end
        return;
    }
    ASSERT_EQ(shown.wait_for(std::chrono::milliseconds(kDeadline)), std::future_status::ready);
    EXPECT_EQ(shown.get(), Lumo::UIX_ModalResult_Cancel);
}

TEST_F(HostDialogs, UiOperationsOffTheUiThreadAreRefused) {
    std::future<long>& shown = ShowDialog();
    ComPtr<HostDialog> dialog = m_host->Uix().WaitForDialog(L"DlgOpenFile", kDeadline);
    ASSERT_TRUE(dialog);
    Lumo::UIX_CreateParams params{};
    ASSERT_EQ(InitParams(L"DlgOpenFile", &params), S_OK);
    ComPtr<Lumo::IUixCombo> accounts;
    ASSERT_EQ(ComPtr<Lumo::IUixObj>(dialog->Control(L"cb.googleAcc")).As(&accounts), S_OK);
    HostControl* ok = dialog->Control(L"btn.ok");
    long result = 0;
    HWND window = nullptr;
    ComPtr<Lumo::IUixObj> item;
    ComPtr<Lumo::IUixEventSource> source;
    const std::pair<const char*, std::function<HRESULT()>> kCalls[] = {
        {"CreateObj", [&] { return m_host->Uix().CreateObj(&params, nullptr); }},
        {"DoModal", [&] { return dialog->DoModal(Lumo::UIX_ObjModal_AppModal, &result); }},
        {"EndModal", [&] { return dialog->EndModal(Lumo::UIX_ModalResult_Ok); }},
        {"GetItem", [&] { return dialog->GetItem(ok->m_id, item.Put()); }},
        {"put_Text", [&] { return dialog->put_Text(L"title"); }},
        {"get_Window", [&] { return ok->get_Window(&window); }},
        {"GetEventSource",
         [&] { return ok->GetEventSource(Lumo::UIX_EventSource_Notify, source.Put()); }},
        {"InsertItem", [&] { return accounts->InsertItem(-1, L"c", nullptr, nullptr, 0, 0); }},
        {"put_ItemCount", [&] { return m_handler->m_list->put_ItemCount(9); }},
        {"put_Callback", [&] { return m_handler->m_list->put_Callback(nullptr); }},
        {"Click", [&] { return ok->Click(); }},
        {"Destroy", [&] { return dialog->Destroy(); }},
    };
    for (const auto& call : kCalls)
        EXPECT_EQ(call.second(), RPC_E_WRONG_THREAD) << call.first;
    EXPECT_EQ(m_host->Uix().Dialogs().size(), 1u);
    EXPECT_TRUE(dialog->IsModal());
    HRESULT hr = m_host->OnUi([&]() -> HRESULT {
        EXPECT_EQ(dialog->Control(L"gd.lst.Test")->RowCount(), 3);
        EXPECT_EQ(dialog->Control(L"cb.googleAcc")->ComboEntries().size(), 2u);
        std::wstring text;
        RETURN_IF_FAILED(dialog->Control(L"gd.lst.Test")->CellText(0, 0, &text));
        return dialog->Control(L"btn.cancel")->Click();
    });
    EXPECT_EQ(hr, S_OK);
    ASSERT_EQ(shown.wait_for(std::chrono::milliseconds(kDeadline)), std::future_status::ready);
    EXPECT_EQ(shown.get(), Lumo::UIX_ModalResult_Cancel);
}

using Place = std::array<long, 4>; // left, top, right, bottom

// Where a child window lies in its parent's client area.
Place PlaceIn(HWND parent, HWND child) {
    RECT rect{};
    GetWindowRect(child, &rect);
    MapWindowPoints(HWND_DESKTOP, parent, reinterpret_cast<POINT*>(&rect), 2);
    return {rect.left, rect.top, rect.right, rect.bottom};
}

std::vector<HWND> ChildrenOf(HWND parent) {
    std::vector<HWND> children;
    for (HWND child = GetWindow(parent, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT))
        children.push_back(child);
    return children;
}

struct PlacedControl {
    std::wstring name;
    ControlKind kind = ControlKind::Label;
    long id = 0;
    bool by_id = false; // GetItem of its id gives this control
    Place place{};
    HWND window = nullptr;
};

// A dialog built from the module's layout document, as the host saw it.
struct BuiltDialog {
    Place client{};
    std::vector<HWND> children;
    std::vector<PlacedControl> controls; // those asked for by name, found or not
};

struct ExpectedControl {
    const wchar_t* name;
    ControlKind kind;
    Place place;
};

// "DlgOpenFile" is 700 by 480 units with a 40-unit fixed strip at the bottom:
// OK and Cancel lie at y 8 of that strip, 440 + 8 in the client area.
const ExpectedControl kOpenFileControls[] = {
    {L"cb.googleAcc", ControlKind::Combo, {42, 10, 554, 30}},
    {L"btn.connectToAnother", ControlKind::Button, {559, 10, 680, 30}},
    {L"gd.lst.Test", ControlKind::List, {8, 40, 680, 399}},
    {L"gd.lbl.fileName", ControlKind::Label, {8, 408, 88, 423}},
    {L"gd.ed.fileName", ControlKind::Edit, {91, 405, 464, 425}},
    {L"gd.cb.fileExtension", ControlKind::Combo, {471, 405, 680, 425}},
    {L"btn.ok", ControlKind::Button, {483, 448, 583, 472}},
    {L"btn.cancel", ControlKind::Button, {592, 448, 692, 472}},
    {L"Picture1", ControlKind::Picture, {8, 7, 38, 33}},
};

class DialogLayouts : public HostDialogs {
protected:
    // Builds the dialog `id` on the UI thread, reads its client area, child
    // windows and the controls of `names`, then destroys it.
    HRESULT Build(const wchar_t* id, const std::vector<std::wstring>& names, BuiltDialog* built) {
        return m_host->OnUi([&]() -> HRESULT {
            Lumo::UIX_CreateParams params{};
            RETURN_IF_FAILED(InitParams(id, &params));
            ComPtr<Lumo::IUixObj> made;
            RETURN_IF_FAILED(m_host->Uix().CreateObj(&params, made.Put()));
            ComPtr<HostDialog> dialog = m_host->Uix().Dialogs().back();
            HWND window = nullptr;
            RECT client{};
            RETURN_IF_FAILED(dialog->get_Window(&window));
            RETURN_IF_FAILED(dialog->get_ClientRect(&client));
            built->client = {client.left, client.top, client.right, client.bottom};
            built->children = ChildrenOf(window);
            for (const std::wstring& name : names)
                built->controls.push_back(Placed(dialog.Get(), window, name));
            return dialog->Destroy();
        });
    }

    PlacedControl Placed(HostDialog* dialog, HWND window, const std::wstring& name) {
        PlacedControl placed{name};
        HostControl* control = dialog->Control(name);
        if (control == nullptr)
            return placed;
        placed.kind = control->m_kind;
        placed.id = control->m_id;
        ComPtr<Lumo::IUixObj> item;
        placed.by_id = SUCCEEDED(dialog->GetItem(control->m_id, item.Put())) &&
                       item.Get() == static_cast<Lumo::IUixObj*>(control);
        control->get_Window(&placed.window);
        placed.place = PlaceIn(window, placed.window);
        return placed;
    }

    long NameId(const std::wstring& name) {
        long id = 0;
        m_host->GetNameId(name.c_str(), Lumo::LUMO_NameId_Auto, &id);
        return id;
    }
};

TEST_F(DialogLayouts, OpenFileHasItsNineControlsAtTheLayoutsPlaces) {
    std::vector<std::wstring> names;
    for (const auto& expected : kOpenFileControls)
        names.push_back(expected.name);
    BuiltDialog built;
    ASSERT_EQ(Build(L"DlgOpenFile", names, &built), S_OK);

    EXPECT_EQ(built.client, (Place{0, 0, 700, 480}));
    EXPECT_EQ(built.children.size(), std::size(kOpenFileControls));
    ASSERT_EQ(built.controls.size(), std::size(kOpenFileControls));
    for (size_t i = 0; i < built.controls.size(); ++i) {
        const ExpectedControl& expected = kOpenFileControls[i];
        const PlacedControl& placed = built.controls[i];
        SCOPED_TRACE(testing::Message() << expected.name);
        ASSERT_NE(placed.window, nullptr);
        EXPECT_EQ(placed.kind, expected.kind);
        EXPECT_NE(placed.id, 0);
        EXPECT_EQ(placed.id, NameId(expected.name));
        EXPECT_TRUE(placed.by_id);
        EXPECT_EQ(placed.place, expected.place);
        EXPECT_EQ(std::count(built.children.begin(), built.children.end(), placed.window), 1);
    }
}

TEST_F(DialogLayouts, AuthHasNoControlsOfItsOwn) {
    BuiltDialog built;
    ASSERT_EQ(Build(L"DlgAuth", {}, &built), S_OK);
    EXPECT_EQ(built.client, (Place{0, 0, 800, 500}));
    EXPECT_TRUE(built.children.empty());
}

} // namespace
} // namespace gd
