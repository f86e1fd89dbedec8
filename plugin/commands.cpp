#include "plugin/commands.h"

#include "dialogs/file_dialog.h"
#include "drivefs/file_system.h"
#include "drivefs/name_text.h"
#include "errors/check.h"
#include "errors/codes.h"
#include "plugin/gd_plugin.h"
#include "plugin/host_instance.h"
#include "plugin/resources.h"

#include <iterator>

namespace gd {
namespace {

constexpr WORD kCommandImages[] = {106, 107, 108, 109};
constexpr wchar_t kCustomizeEvent[] = L"e.mainView.customizeCmdBars";
constexpr wchar_t kCategory[] = L"gd.cmd.cmdsCategory";
constexpr DWORD kFailureStyle = Lumo::LUMO_MsgBox_FromCommand | Lumo::LUMO_MsgBox_Error;
constexpr DISPID kOnEventId = 1;

// The event sink's one method, for its type information.
PARAMDATA g_on_event_params[] = {
    {const_cast<OLECHAR*>(L"event_id"), VT_I4},
    {const_cast<OLECHAR*>(L"source"), VT_UNKNOWN},
    {const_cast<OLECHAR*>(L"event"), VT_UNKNOWN},
};
METHODDATA g_sink_methods[] = {
    {const_cast<OLECHAR*>(L"OnEvent"), g_on_event_params, kOnEventId, 7, CC_STDCALL, 3,
     DISPATCH_METHOD, VT_ERROR},
};
INTERFACEDATA g_sink_interface = {g_sink_methods, 1};

// CreateDispTypeInfo describes a coclass, through which Invoke finds no
// member: calls dispatch through the interface it implements.
ComPtr<ITypeInfo> SinkTypeInfo() {
    ComPtr<ITypeInfo> made;
    if (FAILED(CreateDispTypeInfo(&g_sink_interface, LOCALE_SYSTEM_DEFAULT, made.Put())))
        return nullptr;
    TYPEATTR* attributes = nullptr;
    if (FAILED(made->GetTypeAttr(&attributes)))
        return made;
    const bool isClass = attributes->typekind == TKIND_COCLASS;
    made->ReleaseTypeAttr(attributes);
    HREFTYPE implemented = 0;
    ComPtr<ITypeInfo> sink;
    if (isClass && SUCCEEDED(made->GetRefTypeOfImplType(0, &implemented)) &&
        SUCCEEDED(made->GetRefTypeInfo(implemented, sink.Put())) && sink)
        return sink;
    return made;
}

std::wstring Prefixed(const wchar_t* id) {
    return std::wstring(L"$$$.") + id;
}

HRESULT LocalizedText(const wchar_t* id, Bstr* text) {
    Lumo::ILumoInstance* host = HostInstance::Instance();
    RETURN_HR_IF_NULL(GD_E_MISSING, host);
    Bstr key;
    RETURN_IF_FAILED(key.Assign(id));
    return host->GetString(key.Get(), text->Put());
}

// The Drive menu entries go into these File sub-menus.
HRESULT PlaceCommand(Lumo::IUixMenu* file, const wchar_t* subMenu, long commandId) {
    long index = -1;
    if (FAILED(file->FindItem(subMenu, &index)) || index < 0)
        return S_OK;
    ComPtr<Lumo::IUixMenuItem> item;
    RETURN_IF_FAILED(file->get_Item(index, item.Put()));
    ComPtr<Lumo::IUixMenu> menu;
    if (!item || FAILED(item->get_SubMenu(menu.Put())) || !menu)
        return S_OK;
    long position = -1;
    if (SUCCEEDED(menu->FindCommand(commandId, 0, &position)) && position >= 0)
        return S_OK;
    return menu->InsertCommand(-1, commandId, 0, 0);
}

} // namespace

ComPtr<Lumo::ILumoView> MainViewOf(IUnknown* context) {
    Lumo::ILumoInstance* host = HostInstance::Instance();
    ComPtr<Lumo::ILumoFrame> frame;
    if (host == nullptr || FAILED(host->GetMainFrame(context, -1, frame.Put())) || !frame)
        return nullptr;
    ComPtr<Lumo::ILumoView> view;
    if (FAILED(frame->get_MainView(view.Put())))
        return nullptr;
    return view;
}

CommandsHandler::CommandsHandler(GDPlugin* plugin)
    : m_plugin(plugin),
      m_entries{
          {0, L"gd.cmd.open", L"gd.cmd.open.tip", L"gd.msg.openFailed", &CommandsHandler::OpenState,
           &CommandsHandler::OpenFlow, 0, kCommandImages, std::size(kCommandImages)},
          {0, L"gd.cmd.save", L"gd.cmd.save.tip", L"gd.msg.saveFailed", &CommandsHandler::SaveState,
           &CommandsHandler::SaveFlow, 0, kCommandImages, std::size(kCommandImages)},
      },
      m_type_info(SinkTypeInfo()) {}

CommandsHandler::~CommandsHandler() = default;

DriveFileSystem* CommandsHandler::FileSystem() const {
    return m_plugin != nullptr ? m_plugin->FileSystem() : nullptr;
}

HRESULT CommandsHandler::CreateCommands() {
    Lumo::IUixInstance* uix = HostInstance::Uix();
    ComPtr<Lumo::IUixCmdRegistry> registry;
    ComPtr<Lumo::IUixCmdCollection> collection;
    if (uix != nullptr && SUCCEEDED(uix->get_CmdRegistry(registry.Put())) && registry &&
        SUCCEEDED(registry->get_Collection(collection.Put())) && collection) {
        for (CommandEntry& entry : m_entries)
            LOG_IF_FAILED(CreateCommand(collection.Get(), entry));
    }
    return Subscribe();
}

HRESULT CommandsHandler::CreateCommand(Lumo::IUixCmdCollection* collection, CommandEntry& entry) {
    ComPtr<Lumo::IUixCommand> command;
    RETURN_IF_FAILED(collection->CreateCommand(entry.name, 0, this, command.Put()));
    RETURN_HR_IF(GD_E_UNEXPECTED, !command);
    RETURN_IF_FAILED(command->get_ID(&entry.id));
    command->put_Title(Prefixed(entry.name).c_str());
    if (entry.tip != nullptr)
        command->put_Tip(Prefixed(entry.tip).c_str());
    command->put_Style(entry.style);
    command->put_Category(kCategory);
    ComPtr<Lumo::IUixIcon> icon;
    if (entry.image_count > 0 && SUCCEEDED(MakeIcon(entry, &icon)) && icon)
        command->put_Icon(icon.Get());
    return S_OK;
}

// The icon of every size the module holds; none when no image decodes.
HRESULT CommandsHandler::MakeIcon(const CommandEntry& entry, ComPtr<Lumo::IUixIcon>* icon) {
    Lumo::IUixInstance* uix = HostInstance::Uix();
    RETURN_HR_IF_NULL(GD_E_MISSING, uix);
    ComPtr<Lumo::IUixIcon> made;
    RETURN_IF_FAILED(uix->CreateIcon(made.Put()));
    RETURN_HR_IF(GD_E_UNEXPECTED, !made);
    size_t added = 0;
    for (size_t i = 0; i < entry.image_count; ++i) {
        ComPtr<IStream> stream;
        ComPtr<Lumo::IUixImage> image;
        if (FAILED(
                CreateResourceStream(nullptr, kPngResourceType, entry.images[i], stream.Put())) ||
            FAILED(uix->DecodeImage(stream.Get(), image.Put())) || !image)
            continue;
        if (SUCCEEDED(made->AddImage(image.Get())))
            ++added;
    }
    if (added > 0)
        *icon = std::move(made);
    return S_OK;
}

HRESULT CommandsHandler::Subscribe() {
    Lumo::ILumoInstance* host = HostInstance::Instance();
    RETURN_HR_IF_NULL(GD_E_UNEXPECTED, host);
    RETURN_IF_FAILED(host->GetNameId(kCustomizeEvent, Lumo::LUMO_NameId_Auto, &m_customize_event));
    ComPtr<Lumo::ILumoEvents> events;
    RETURN_IF_FAILED(host->get_Events(events.Put()));
    RETURN_HR_IF(GD_E_UNEXPECTED, !events);
    return events->Subscribe(m_customize_event, this, 0);
}

HRESULT CommandsHandler::OnCustomizeCmdBars(Lumo::IUixCmdBars* bars) {
    RETURN_HR_IF_NULL(GD_E_INVALID_ARG, bars);
    ComPtr<Lumo::IUixMenu> menuBar;
    RETURN_HR_IF(E_FAIL, FAILED(bars->get_MenuBar(menuBar.Put())) || !menuBar);
    long index = -1;
    RETURN_HR_IF(GD_E_UNEXPECTED, FAILED(menuBar->FindItem(L"cmd.file", &index)) || index < 0);
    ComPtr<Lumo::IUixMenuItem> item;
    RETURN_HR_IF(GD_E_UNEXPECTED, FAILED(menuBar->get_Item(index, item.Put())) || !item);
    ComPtr<Lumo::IUixMenu> file;
    RETURN_HR_IF(GD_E_UNEXPECTED, FAILED(item->get_SubMenu(file.Put())) || !file);
    LOG_IF_FAILED(PlaceCommand(file.Get(), L"cmd.openFrom", m_entries[0].id));
    LOG_IF_FAILED(PlaceCommand(file.Get(), L"cmd.saveTo", m_entries[1].id));
    return S_OK;
}

HRESULT CommandsHandler::GetTypeInfoCount(UINT* count) {
    RETURN_HR_IF_NULL(E_POINTER, count);
    *count = 1;
    return S_OK;
}

HRESULT CommandsHandler::GetTypeInfo(UINT index, LCID, ITypeInfo** info) {
    RETURN_HR_IF_NULL(E_POINTER, info);
    *info = nullptr;
    RETURN_HR_IF(DISP_E_BADINDEX, index != 0);
    RETURN_HR_IF(E_UNEXPECTED, !m_type_info);
    return m_type_info.CopyTo(info);
}

HRESULT CommandsHandler::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
    RETURN_HR_IF(E_UNEXPECTED, !m_type_info);
    return DispGetIDsOfNames(m_type_info.Get(), names, count, ids);
}

HRESULT CommandsHandler::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params,
                                VARIANT* result, EXCEPINFO* exception, UINT* argument) {
    RETURN_HR_IF(E_UNEXPECTED, !m_type_info);
    return DispInvoke(static_cast<Lumo::ILumoEventSink*>(this), m_type_info.Get(), id, flags,
                      params, result, exception, argument);
}

HRESULT CommandsHandler::OnEvent(long eventId, IUnknown*, IUnknown* event) {
    if (eventId != m_customize_event || event == nullptr)
        return S_OK;
    ComPtr<Lumo::IUixCmdBars> bars;
    if (SUCCEEDED(event->QueryInterface(__uuidof(Lumo::IUixCmdBars), bars.PutVoid())))
        LOG_IF_FAILED(OnCustomizeCmdBars(bars.Get()));
    return S_OK;
}

CommandEntry* CommandsHandler::Find(Lumo::IUixCommand* command) {
    long id = 0;
    if (command == nullptr || FAILED(command->get_ID(&id)))
        return nullptr;
    for (CommandEntry& entry : m_entries) {
        if (entry.id == id && id != 0)
            return &entry;
    }
    return nullptr;
}

HRESULT CommandsHandler::UpdateState(Lumo::IUixCommand* command, long, IUnknown* context,
                                     long* state) {
    RETURN_HR_IF_NULL(E_POINTER, state);
    *state = kCommandDisabled;
    CommandEntry* entry = Find(command);
    if (entry != nullptr && entry->state != nullptr)
        (this->*entry->state)(context, state);
    return S_OK;
}

HRESULT CommandsHandler::Execute(long, Lumo::IUixCommand* command, long, IUnknown* context) {
    CommandEntry* entry = Find(command);
    if (entry == nullptr || entry->run == nullptr)
        return S_OK;
    HRESULT hr = RunGuarded([&] { return (this->*entry->run)(context); });
    if (FAILED(hr) && !IsCancellation(hr))
        ShowFailure(*entry, context);
    return S_OK;
}

void CommandsHandler::ShowFailure(const CommandEntry& entry, IUnknown* context) {
    ComPtr<Lumo::ILumoView> view = MainViewOf(context);
    Lumo::ILumoInstance* host = HostInstance::Instance();
    if (!view || host == nullptr)
        return;
    Bstr text, title;
    if (FAILED(LOG_IF_FAILED(LocalizedText(entry.failure_message, &text))) ||
        FAILED(LOG_IF_FAILED(LocalizedText(L"gd.GDPlugin", &title))))
        return;
    HWND owner = nullptr;
    view->get_Window(&owner);
    LOG_IF_FAILED(host->ShowMessage(text.Text(), title.Text(), 0, owner, kFailureStyle, nullptr));
}

// "OpenFileFlags" without the show-dialog bit, in the property's own type.
HRESULT ClearShowDialog(Lumo::ILumoProperty* property) {
    long type = 0;
    RETURN_IF_FAILED(property->get_Type(&type));
    Variant value;
    RETURN_IF_FAILED(property->get_Value(value.Put()));
    long flags = 0;
    if (type == Lumo::LUMO_PropType_Int && V_VT(&value.Get()) == VT_I4)
        flags = V_I4(&value.Get());
    else if (type == Lumo::LUMO_PropType_Bool && V_VT(&value.Get()) == VT_BOOL)
        flags = V_BOOL(&value.Get()) != VARIANT_FALSE ? 1 : 0;
    flags &= ~Lumo::LUMO_OpenFileFlag_ShowDialog;
    VARIANT stored;
    VariantInit(&stored);
    switch (type) {
    case Lumo::LUMO_PropType_Bool:
        V_VT(&stored) = VT_BOOL;
        V_BOOL(&stored) = flags != 0 ? VARIANT_TRUE : VARIANT_FALSE;
        break;
    case Lumo::LUMO_PropType_Int64:
        V_VT(&stored) = VT_I8;
        V_I8(&stored) = flags;
        break;
    case Lumo::LUMO_PropType_Double:
        V_VT(&stored) = VT_R8;
        V_R8(&stored) = flags;
        break;
    default:
        V_VT(&stored) = VT_I4;
        V_I4(&stored) = flags;
        break;
    }
    return property->put_Value(stored);
}

HRESULT AllowErrorMessages(Lumo::ILumoProperty* property) {
    long type = 0;
    RETURN_IF_FAILED(property->get_Type(&type));
    if (type != Lumo::LUMO_PropType_Empty && type != Lumo::LUMO_PropType_Bool)
        return S_OK;
    VARIANT yes;
    VariantInit(&yes);
    V_VT(&yes) = VT_BOOL;
    V_BOOL(&yes) = VARIANT_TRUE;
    return property->put_Value(yes);
}

// Fresh open parameters: no dialog of the host's own, error messages allowed.
HRESULT PrepareOpenParams(ComPtr<Lumo::ILumoOpenParams>* params) {
    RETURN_IF_FAILED(HostInstance::Instance()->CreateOpenParams(params->Put()));
    if (!*params)
        return S_OK;
    ComPtr<Lumo::ILumoProperties> properties;
    if (FAILED((*params)->get_Properties(properties.Put())) || !properties)
        return S_OK;
    ComPtr<Lumo::ILumoProperty> property;
    if (properties->FindItem(L"OpenFileFlags", property.Put()) == S_OK && property)
        LOG_IF_FAILED(ClearShowDialog(property.Get()));
    if (properties->FindItem(L"CanShowErrMsg", property.Put()) == S_OK && property)
        LOG_IF_FAILED(AllowErrorMessages(property.Get()));
    return S_OK;
}

// The current account's last folder, or else My Drive of the file system.
HRESULT CommandsHandler::StartFolder(std::unique_ptr<FolderHolder>* holder) {
    DriveFileSystem* fileSystem = FileSystem();
    RETURN_HR_IF_NULL(GD_E_MISSING, fileSystem);
    std::shared_ptr<AccountStore> store;
    RETURN_HR_IF(GD_E_OUTOFMEMORY, FAILED(RunGuarded([&] {
                                       store = fileSystem->Store();
                                       return S_OK;
                                   })) ||
                                       !store);
    ComPtr<Lumo::IAfsName> start;
    AccountEntryPtr current;
    if (store->GetCurrentAccount(&current) == S_OK) {
        ComPtr<Lumo::IAfsName> last = current->LastFolder();
        if (OwnName(last.Get(), fileSystem))
            start = last;
    }
    if (!start) {
        Bstr root;
        RETURN_IF_FAILED(root.Assign(DriveWebBase().c_str()));
        RETURN_IF_FAILED(
            fileSystem->ResolveName(root.Get(), 0, nullptr, nullptr, nullptr, start.Put()));
        RETURN_HR_IF(GD_E_UNEXPECTED, !start);
    }
    return RunGuarded([&] {
        *holder =
            std::make_unique<FolderHolder>(OwnName(start.Get(), fileSystem) ? start : nullptr);
        return S_OK;
    });
}

// The folder the user ended in becomes its account's last folder.
void CommandsHandler::RememberFolder(const FolderHolder& holder) {
    ComPtr<Lumo::IAfsName> folder = holder.Folder();
    ComPtr<IDriveName> own = OwnName(folder.Get(), FileSystem());
    AccountEntryPtr entry;
    if (own && SUCCEEDED(own->GetAccountEntry(&entry)) && entry)
        entry->SetLastFolder(folder);
}

HRESULT CommandsHandler::RunDialog(FileDialogMode mode, DWORD flags,
                                   ComPtr<Lumo::IAfsName>* chosen) {
    std::unique_ptr<FolderHolder> holder;
    RETURN_IF_FAILED(StartFolder(&holder));
    ComPtr<Lumo::IAfsNameList> names;
    HRESULT hr = RunFileDialog(mode, flags, holder.get(), &names);
    RETURN_IF_FAILED(hr);
    RememberFolder(*holder);
    long count = 0;
    if (names && SUCCEEDED(names->get_Count(&count)) && count > 0)
        RETURN_IF_FAILED(names->get_Item(0, chosen->Put()));
    return hr;
}

HRESULT CommandsHandler::OpenFlow(IUnknown*) {
    ComPtr<Lumo::IAfsName> chosen;
    HRESULT dialog = RunDialog(FileDialogMode::Open, kOpenDialogOptions, &chosen);
    RETURN_IF_FAILED(dialog);
    if (!chosen)
        return S_FALSE;
    ComPtr<Lumo::ILumoView> view = MainViewOf(nullptr);
    RETURN_HR_IF(GD_E_MISSING, !view);
    ComPtr<Lumo::ILumoOpenParams> params;
    RETURN_IF_FAILED(PrepareOpenParams(&params));
    return view->OpenDocument(chosen.Get(), params.Get(), 0, 0);
}

// A failed save is the command's failure, so that its message shows.
HRESULT CommandsHandler::SaveFlow(IUnknown*) {
    ComPtr<Lumo::ILumoView> view = MainViewOf(nullptr);
    if (!view)
        return S_OK;
    ComPtr<Lumo::IAfsName> target;
    HRESULT dialog = RunDialog(FileDialogMode::Save, kSaveDialogOptions, &target);
    RETURN_IF_FAILED(dialog);
    if (!target)
        return S_FALSE;
    ComPtr<IUnknown> options;
    LOG_IF_FAILED(HostInstance::Instance()->CreateOperationOptions(options.Put()));
    HRESULT saved =
        view->SaveDocument(target.Get(), Lumo::LUMO_SaveMode_SaveAs, options.Get(), 0, 0, 0, 0, 0);
    if (FAILED(saved) && !IsCancellation(saved))
        return saved;
    return dialog;
}

void CommandsHandler::OpenState(IUnknown*, long* state) {
    *state = kCommandEnabled;
}

void CommandsHandler::SaveState(IUnknown* context, long* state) {
    if (MainViewOf(context))
        *state = kCommandEnabled;
}

} // namespace gd
