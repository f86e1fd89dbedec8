// The plug-in's two commands: open a document from Drive, save the active
// one to Drive. Created by InitUI; placed into the File menu whenever the
// host rebuilds its command bars.
#pragma once

#include "dialogs/file_dialog.h"
#include "plugin/com_object.h"
#include "plugin/sdk/lumo.h"

#include <windows.h>

#include <memory>

namespace gd {

class GDPlugin;
class CommandsHandler;
class DriveFileSystem;

struct CommandEntry {
    long id = 0;
    const wchar_t* name;
    const wchar_t* tip;
    const wchar_t* failure_message;
    void (CommandsHandler::*state)(IUnknown* context, long* state);
    HRESULT (CommandsHandler::*run)(IUnknown* context);
    long style = 0;
    const WORD* images;
    size_t image_count;
};

// Command states the host understands.
constexpr long kCommandEnabled = 0;
constexpr long kCommandDisabled = 2;

class CommandsHandler : public ComObject<Lumo::ILumoEventSink, Lumo::IUixCmdHandler> {
public:
    // plugin is not counted: it owns this object.
    explicit CommandsHandler(GDPlugin* plugin);
    ~CommandsHandler() override;

    // The plug-in is going away: the flows find no file system from now on.
    void ForgetPlugin() { m_plugin = nullptr; }
    // Creates the commands with their texts and icon, then subscribes to the
    // command bars' customize event.
    HRESULT CreateCommands();
    // Puts the commands into the File menu's "cmd.openFrom" and "cmd.saveTo"
    // sub-menus, once each however often it runs.
    HRESULT OnCustomizeCmdBars(Lumo::IUixCmdBars* bars);

    // ILumoEventSink
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale,
                                            DISPID* ids) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID locale, WORD flags,
                                     DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                                     UINT* argument) override;
    HRESULT STDMETHODCALLTYPE OnEvent(long event_id, IUnknown* source, IUnknown* event) override;

    // IUixCmdHandler
    HRESULT STDMETHODCALLTYPE Reserved1() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved2() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE UpdateState(Lumo::IUixCommand* command, long reserved,
                                          IUnknown* context, long* state) override;
    HRESULT STDMETHODCALLTYPE Reserved3() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Execute(long reserved, Lumo::IUixCommand* command, long reserved2,
                                      IUnknown* context) override;
    HRESULT STDMETHODCALLTYPE Reserved4() override { return E_NOTIMPL; }

private:
    DriveFileSystem* FileSystem() const;
    CommandEntry* Find(Lumo::IUixCommand* command);
    HRESULT CreateCommand(Lumo::IUixCmdCollection* collection, CommandEntry& entry);
    HRESULT MakeIcon(const CommandEntry& entry, ComPtr<Lumo::IUixIcon>* icon);
    HRESULT Subscribe();
    void ShowFailure(const CommandEntry& entry, IUnknown* context);

    HRESULT StartFolder(std::unique_ptr<FolderHolder>* holder);
    void RememberFolder(const FolderHolder& holder);
    // The dialog from the start folder; chosen gets the first name chosen.
    HRESULT RunDialog(FileDialogMode mode, DWORD flags, ComPtr<Lumo::IAfsName>* chosen);

    void OpenState(IUnknown* context, long* state);
    void SaveState(IUnknown* context, long* state);
    HRESULT OpenFlow(IUnknown* context);
    HRESULT SaveFlow(IUnknown* context);

    GDPlugin* m_plugin;
    long m_customize_event = 0;
    CommandEntry m_entries[2];
    ComPtr<ITypeInfo> m_type_info;
};

// The main view of a command context: null when there is none.
ComPtr<Lumo::ILumoView> MainViewOf(IUnknown* context);

} // namespace gd
