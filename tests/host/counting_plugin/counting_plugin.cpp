// A plug-in module for the host's unload test. It hands the host objects of
// its own (an event sink, a command handler, a dialog with its handler, a
// list callback and a notify handler), releases none of them at Uninit, and
// counts how many are alive. As the module is freed it writes that count to
// the place CountingPlugin_ReportTo named: 0 when the host dropped them all
// first.
#include <windows.h>

#include <atomic>

#include "plugin/com_object.h"
#include "plugin/sdk/lumo.h"
#include "tests/support/sdk_stubs.h"

namespace {

std::atomic<long> g_live{0};
long* g_report = nullptr;

template <class... Interfaces> class Counted : public gd::ComObject<Interfaces...> {
public:
    Counted() { ++g_live; }
    ~Counted() override { --g_live; }
};

using gd::ComPtr;

class Sink : public gd::test::NoDispatch<Counted<Lumo::ILumoEventSink>> {
public:
    HRESULT STDMETHODCALLTYPE OnEvent(long, IUnknown*, IUnknown*) override { return S_OK; }
};

class CommandHandler : public Counted<Lumo::IUixCmdHandler> {
public:
    HRESULT STDMETHODCALLTYPE Reserved1() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved2() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE UpdateState(Lumo::IUixCommand*, long, IUnknown*,
                                          long* state) override {
        *state = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Reserved3() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Execute(long, Lumo::IUixCommand*, long, IUnknown*) override {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Reserved4() override { return E_NOTIMPL; }
};

// Holds its list, as a plug-in's list model does.
class ListCallback : public gd::test::NoListImages<Counted<Lumo::IUixListCallback>> {
public:
    explicit ListCallback(Lumo::IUixList* list) : m_list(list) {}
    HRESULT STDMETHODCALLTYPE GetItemText(const Lumo::UIX_ListItemId*, LPCWSTR* text, long* length,
                                          DWORD* flags) override {
        *text = L"row";
        *length = 3;
        *flags = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnItemActivated(const Lumo::UIX_ListItemId*, DWORD) override {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnColumnClick(long, long) override { return S_OK; }

private:
    ComPtr<Lumo::IUixList> m_list;
};

class NotifyHandler : public Counted<Lumo::IUixEventHandler> {
public:
    HRESULT STDMETHODCALLTYPE OnEvent(Lumo::IUixEvent*) override { return S_OK; }
};

// Keeps its dialog until detached; at start gives the list a callback and
// the button a notify handler.
class DialogHandler : public Counted<Lumo::IUixEventHandler> {
public:
    explicit DialogHandler(Lumo::ILumoInstance* host) : m_host(host) {}
    HRESULT STDMETHODCALLTYPE OnEvent(Lumo::IUixEvent* event) override {
        long code = 0;
        HRESULT hr = event->get_Code(&code);
        if (FAILED(hr))
            return hr;
        if (code == Lumo::UIX_Event_ObjAttached)
            return event->get_Object(m_dialog.Put());
        if (code == Lumo::UIX_Event_ObjDetached)
            m_dialog.Reset();
        return code == Lumo::UIX_Event_InitDialog ? Fill() : S_OK;
    }

private:
    HRESULT Item(const wchar_t* name, ComPtr<Lumo::IUixObj>* item) {
        long id = 0;
        ComPtr<Lumo::IUixDialog> dialog;
        HRESULT hr = m_host->GetNameId(name, Lumo::LUMO_NameId_Auto, &id);
        if (SUCCEEDED(hr))
            hr = m_dialog.As(&dialog);
        return SUCCEEDED(hr) ? dialog->GetItem(id, item->Put()) : hr;
    }
    HRESULT Fill() {
        ComPtr<Lumo::IUixObj> list_item, button;
        ComPtr<Lumo::IUixList> list;
        ComPtr<ListCallback> callback;
        ComPtr<NotifyHandler> notify;
        ComPtr<Lumo::IUixEventSource> source;
        DWORD cookie = 0;
        HRESULT hr = Item(L"counting.lst.rows", &list_item);
        if (SUCCEEDED(hr))
            hr = list_item.As(&list);
        if (SUCCEEDED(hr))
            hr = gd::MakeObject(&callback, list.Get());
        if (SUCCEEDED(hr))
            hr = list->put_Callback(callback.Get());
        if (SUCCEEDED(hr))
            hr = Item(L"btn.ok", &button);
        if (SUCCEEDED(hr))
            hr = button->GetEventSource(Lumo::UIX_EventSource_Notify, source.Put());
        if (SUCCEEDED(hr))
            hr = gd::MakeObject(&notify);
        return SUCCEEDED(hr) ? source->Advise(notify.Get(), &cookie) : hr;
    }

    Lumo::ILumoInstance* m_host;
    ComPtr<Lumo::IUixObj> m_dialog;
};

constexpr char kLayout[] =
    "<dialogs><dialog id=\"DlgCounting\" title=\"Counting\" width=\"200\" height=\"100\">"
    "<items><list id=\"counting.lst.rows\" x=\"0\" y=\"0\" width=\"200\" height=\"70\" />"
    "<button id=\"btn.ok\" text=\"OK\" x=\"0\" y=\"70\" width=\"60\" height=\"24\" />"
    "</items></dialog></dialogs>";

class Plugin : public Counted<Lumo::ILumoPlugin> {
public:
    HRESULT STDMETHODCALLTYPE get_ID(GUID* id) override {
        *id = GUID{};
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Title(BSTR* text) override { return Empty(text); }
    HRESULT STDMETHODCALLTYPE get_Notice(BSTR* text) override { return Empty(text); }
    HRESULT STDMETHODCALLTYPE get_Version(DWORD* version) override {
        *version = 0x10000;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Flags(DWORD* flags) override {
        *flags = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Name(BSTR* text) override { return Empty(text); }
    HRESULT STDMETHODCALLTYPE get_Description(BSTR* text) override { return Empty(text); }
    HRESULT STDMETHODCALLTYPE get_Company(BSTR* text) override { return Empty(text); }
    HRESULT STDMETHODCALLTYPE get_Flags2(DWORD* flags) override { return get_Flags(flags); }
    HRESULT STDMETHODCALLTYPE Init(Lumo::ILumoInstance* host) override {
        m_host = host;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE InitFileSystems() override { return S_OK; }
    // Everything it hands over stays with the host.
    HRESULT STDMETHODCALLTYPE InitUI() override {
        HRESULT hr = Subscribe();
        if (SUCCEEDED(hr))
            hr = CreateCommand();
        return SUCCEEDED(hr) ? ShowDialog() : hr;
    }
    HRESULT STDMETHODCALLTYPE PostInit() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Uninit() override {
        m_host = nullptr;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Reserved1() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved2() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved3() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved4() override { return E_NOTIMPL; }

private:
    static HRESULT Empty(BSTR* text) {
        *text = SysAllocString(L"");
        return *text != nullptr ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT Subscribe() {
        ComPtr<Lumo::ILumoEvents> events;
        ComPtr<Sink> sink;
        long id = 0;
        HRESULT hr = m_host->GetNameId(L"e.mainView.customizeCmdBars", Lumo::LUMO_NameId_Auto, &id);
        if (SUCCEEDED(hr))
            hr = m_host->get_Events(events.Put());
        if (SUCCEEDED(hr))
            hr = gd::MakeObject(&sink);
        return SUCCEEDED(hr) ? events->Subscribe(id, sink.Get(), 0) : hr;
    }
    HRESULT Uix(ComPtr<Lumo::IUixInstance>* uix) {
        ComPtr<IUnknown> extension;
        HRESULT hr = m_host->GetExtension(L"UIX", extension.Put());
        return SUCCEEDED(hr) ? extension.As(uix) : hr;
    }
    HRESULT CreateCommand() {
        ComPtr<Lumo::IUixInstance> uix;
        ComPtr<Lumo::IUixCmdRegistry> registry;
        ComPtr<Lumo::IUixCmdCollection> collection;
        ComPtr<CommandHandler> handler;
        ComPtr<Lumo::IUixCommand> command;
        HRESULT hr = Uix(&uix);
        if (SUCCEEDED(hr))
            hr = uix->get_CmdRegistry(registry.Put());
        if (SUCCEEDED(hr))
            hr = registry->get_Collection(collection.Put());
        if (SUCCEEDED(hr))
            hr = gd::MakeObject(&handler);
        return SUCCEEDED(hr)
                   ? collection->CreateCommand(L"counting.cmd", 0, handler.Get(), command.Put())
                   : hr;
    }
    // Shown and never destroyed.
    HRESULT ShowDialog() {
        ComPtr<Lumo::IUixInstance> uix;
        ComPtr<DialogHandler> handler;
        Lumo::UIX_CreateParams params{};
        HRESULT hr = Uix(&uix);
        if (SUCCEEDED(hr))
            hr = m_host->InitCreateParams(0, &params);
        if (SUCCEEDED(hr))
            hr = gd::MakeObject(&handler, m_host);
        if (FAILED(hr))
            return hr;
        params.kind = Lumo::UIX_ObjKind_Dialog;
        params.layout_format = Lumo::UIX_LayoutFormat_Xml;
        params.layout = kLayout;
        params.layout_size = sizeof kLayout - 1;
        params.id = L"DlgCounting";
        params.style = WS_POPUP | WS_CAPTION;
        params.handler = handler.Get();
        return uix->CreateObj(&params, nullptr);
    }

    Lumo::ILumoInstance* m_host = nullptr;
};

} // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_DETACH && g_report != nullptr)
        *g_report = g_live;
    return TRUE;
}

// Where the count of live objects goes when the module is freed.
extern "C" __declspec(dllexport) void CountingPlugin_ReportTo(long* live_at_unload) {
    g_report = live_at_unload;
}

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE
    LUME_GetPlugin(DWORD, void*, void** plugin) {
    if (plugin == nullptr)
        return E_POINTER;
    *plugin = nullptr;
    ComPtr<Plugin> object;
    HRESULT hr = gd::MakeObject(&object);
    return SUCCEEDED(hr) ? object->QueryInterface(__uuidof(Lumo::ILumoPlugin), plugin) : hr;
}
