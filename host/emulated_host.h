// The emulated host: the instance a plug-in gets at Init, with its UI thread,
// strings, events, "AFS" and "UIX" extensions, frame and view. It records
// what the plug-in asked of it and answers message boxes from a script.
#pragma once

#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "host/afs_host.h"
#include "host/headless_browser.h"
#include "host/string_table.h"
#include "host/ui_thread.h"
#include "host/uix_host.h"
#include "plugin/com_object.h"
#include "plugin/sdk/lumo.h"

namespace gd {

struct MessageRecord {
    std::wstring text;
    std::wstring caption;
    DWORD style = 0;
    long answer = 0;
    HWND owner = nullptr;
    DWORD help_id = 0;
};

struct OpenRecord {
    ComPtr<Lumo::IAfsName> name;
    long open_file_flags = 0;
    bool can_show_err_msg = false;
    // A parameter was written back in another type than its own.
    bool wrong_type_write = false;
    HRESULT result = S_OK;
};

struct SaveRecord {
    ComPtr<Lumo::IAfsName> target;
    long mode = 0;
    HRESULT result = S_OK;
};

class EmulatedHost : public ComObject<Lumo::ILumoInstance, Lumo::ILumoEvents> {
public:
    // An unscripted message box gets this answer.
    static constexpr long kDefaultAnswer = Lumo::LUMO_MsgBox_Cancel;

    EmulatedHost();
    // The last reference is best dropped off the UI thread.
    ~EmulatedHost() override;

    // ILumoInstance
    HRESULT STDMETHODCALLTYPE GetExtension(LPCWSTR name, IUnknown** extension) override;
    HRESULT STDMETHODCALLTYPE LoadLocalization(IStream* strings) override;
    HRESULT STDMETHODCALLTYPE GetNameId(LPCWSTR name, long requested, long* id) override;
    HRESULT STDMETHODCALLTYPE GetString(BSTR id, BSTR* text) override;
    HRESULT STDMETHODCALLTYPE GetStringByNumber(long id, BSTR* text) override;
    HRESULT STDMETHODCALLTYPE get_Events(Lumo::ILumoEvents** events) override;
    HRESULT STDMETHODCALLTYPE RunOnMainThread(Lumo::ILumoTask* task, DWORD timeout) override;
    HRESULT STDMETHODCALLTYPE GetMainFrame(IUnknown* context, long index,
                                           Lumo::ILumoFrame** frame) override;
    HRESULT STDMETHODCALLTYPE get_MainWindow(HWND* window) override;
    HRESULT STDMETHODCALLTYPE CreateOpenParams(Lumo::ILumoOpenParams** params) override;
    HRESULT STDMETHODCALLTYPE CreateOperationOptions(IUnknown** options) override;
    HRESULT STDMETHODCALLTYPE ShowMessage(LPCWSTR text, LPCWSTR caption, DWORD help_id, HWND owner,
                                          DWORD style, long* answer) override;
    HRESULT STDMETHODCALLTYPE GetFileTypeFilter(LPCWSTR key, long expand, BSTR* filter) override;
    HRESULT STDMETHODCALLTYPE FormatSize(LONGLONG bytes, DWORD format, BSTR* text) override;
    HRESULT STDMETHODCALLTYPE InitCreateParams(long reserved,
                                               Lumo::UIX_CreateParams* params) override;

    // ILumoEvents
    HRESULT STDMETHODCALLTYPE Subscribe(long event_id, Lumo::ILumoEventSink* sink,
                                        long reserved) override;

    // What the host and the tests drive.
    UiThread& Ui() { return m_ui; }
    StringTable& Strings() { return *m_strings; }
    AfsHost& Afs() { return *m_afs.Get(); }
    UixHost& Uix() { return *m_uix.Get(); }

    // How long the driver calls below wait for the UI thread (INFINITE at
    // first); tests set a deadline so that a stuck plug-in fails instead of
    // hanging. Work not started when its wait runs out is dropped.
    void SetCallTimeout(DWORD timeout) { m_call_timeout = timeout; }
    DWORD CallTimeout() const { return m_call_timeout; }
    // Runs work on the UI thread within the call timeout.
    HRESULT OnUi(std::function<HRESULT()> work) {
        return m_ui.Run(std::move(work), m_call_timeout);
    }
    // How many threads wait for work they handed to the UI thread
    // (RunOnMainThread, OnUi).
    int WaitingUiCalls() const { return m_ui.Waiting(); }

    // Calls every sink subscribed to the named event; on the UI thread.
    HRESULT FireEvent(const std::wstring& name, IUnknown* source, IUnknown* event);
    // Fresh command bars as the main window builds them, before the plug-ins
    // customize them.
    HRESULT MakeCmdBars(ComPtr<HostCmdBars>* bars);
    // Builds fresh command bars and lets the plug-ins customize them, as the
    // main window does when it rebuilds its menus.
    HRESULT CustomizeCmdBars(ComPtr<HostCmdBars>* bars);
    // The File menu entries ("cmd.openFrom", ...) the user took out of the
    // menus: command bars built from now on lack them.
    void SetRemovedFileEntries(std::vector<std::wstring> removed);
    // On the UI thread, before a plug-in's module is freed: drops every
    // reference the host holds to objects whose code is the module's (event
    // sinks, file systems, commands, dialogs and their handlers, records).
    void DropObjectsOf(HMODULE module);
    // Runs a command by name through its handler, on the UI thread.
    HRESULT ExecuteCommand(const std::wstring& name);
    // The command's state (Lumo::UIX_CmdState), on the UI thread.
    HRESULT CommandState(const std::wstring& name, long* state);

    // The web browser that OleCreate(CLSID_WebBrowser) gives on the UI
    // thread: what it does on a consent page, and what it did.
    // The script of the headless browser (the embedded sign-in) and of the
    // prefix's test browser, which ShellExecuteW starts for the browser
    // sign-in.
    void SetBrowserScript(BrowserScript script);
    const BrowserRecord& Browser() const { return *m_browser; }
    // The HTTP statuses the prefix's test browser got from the sign-in's
    // listener since the script was last set, in order.
    std::vector<int> SystemBrowserStatuses() const;

    // Answers for the next message boxes, in order.
    void ScriptAnswers(std::initializer_list<long> answers);
    std::vector<MessageRecord> Messages() const;
    std::vector<OpenRecord> Opens() const;
    std::vector<SaveRecord> Saves() const;

    // Whether the main frame has a view (an open document); true at first.
    void SetHasDocument(bool has_document);
    bool HasDocument() const;
    // Failures the view's open and save calls give instead of their work
    // (S_OK: they do their work).
    void SetDocumentResults(HRESULT open_result, HRESULT save_result);
    // "OpenFileFlags" of the next open parameters (an Int property).
    void SetOpenFileFlags(long flags);
    // The document a save writes.
    void SetActiveDocument(std::vector<BYTE> bytes);
    // The bytes the last successful open read.
    std::vector<BYTE> OpenedDocument() const;

    // The view's work, on the file system that made the name: an open
    // resolves the name's text again, opens it for reading and reads it the
    // way a PDF viewer does; a save opens the target for writing (create or
    // replace), announces the size, writes and commits.
    HRESULT OpenThroughFileSystem(OpenRecord record);
    HRESULT SaveThroughFileSystem(SaveRecord record);

private:
    static constexpr DWORD kViewerChunk = 64 * 1024;
    HRESULT OwnerOf(Lumo::IAfsName* name, ComPtr<Lumo::IAfsFileSystem>* owner);
    HRESULT ReadDocument(Lumo::IAfsName* name, std::vector<BYTE>* bytes);
    HRESULT WriteDocument(Lumo::IAfsName* target, const std::vector<BYTE>& bytes);

    UiThread m_ui;
    std::shared_ptr<StringTable> m_strings;
    ComPtr<AfsHost> m_afs;
    ComPtr<UixHost> m_uix;
    std::shared_ptr<BrowserRecord> m_browser;
    DWORD m_browser_cookie = 0;

    mutable std::mutex m_lock;
    std::vector<std::pair<long, ComPtr<Lumo::ILumoEventSink>>> m_sinks;
    std::deque<long> m_answers;
    std::vector<MessageRecord> m_messages;
    std::vector<OpenRecord> m_opens;
    std::vector<SaveRecord> m_saves;
    std::atomic<DWORD> m_call_timeout{INFINITE};
    bool m_has_document = true;
    HRESULT m_open_result = S_OK;
    HRESULT m_save_result = S_OK;
    long m_open_file_flags = Lumo::LUMO_OpenFileFlag_ShowDialog;
    std::vector<std::wstring> m_removed_file_entries;
    std::vector<BYTE> m_active_document;
    std::vector<BYTE> m_opened_document;
};

} // namespace gd
