#include "plugin/gd_plugin.h"

#include "auth/client_credentials.h"
#include "errors/check.h"
#include "plugin/host_instance.h"
#include "plugin/resources.h"

namespace gd {
namespace {

constexpr const wchar_t* kTitle = L"Rodovu Vuvez Udeder";
constexpr const wchar_t* kNotice =
    L"Copyright (c) 2026 Zidivo Ridev Aduviz developers. All rights reserved.";
constexpr const wchar_t* kDescription =
    L"Opens and saves documents in Google Drive. This functionality relies on the Google Drive "
    L"API.";
constexpr const wchar_t* kCompany = L"Zidivo Ridev Aduviz developers";

DialogIds g_dialog_ids;

} // namespace

const DialogIds& GetDialogIds() {
    return g_dialog_ids;
}

GDPlugin::~GDPlugin() {
    // The host may still hold the handler for a while: it must not reach back.
    if (m_commands)
        m_commands->ForgetPlugin();
}

HRESULT GDPlugin::get_ID(GUID* id) {
    if (id == nullptr)
        return E_POINTER;
    *id = kPluginId;
    return S_OK;
}

HRESULT GDPlugin::get_Title(BSTR* title) {
    return CopyToBstr(kTitle, title);
}
HRESULT GDPlugin::get_Notice(BSTR* notice) {
    return CopyToBstr(kNotice, notice);
}
HRESULT GDPlugin::get_Name(BSTR* name) {
    return CopyToBstr(kTitle, name);
}
HRESULT GDPlugin::get_Description(BSTR* text) {
    return CopyToBstr(kDescription, text);
}
HRESULT GDPlugin::get_Company(BSTR* company) {
    return CopyToBstr(kCompany, company);
}

HRESULT GDPlugin::get_Version(DWORD* version) {
    if (version != nullptr)
        *version = kPluginVersion;
    return S_OK;
}

HRESULT GDPlugin::get_Flags(DWORD* flags) {
    if (flags != nullptr)
        *flags = 0;
    return S_OK;
}

HRESULT GDPlugin::get_Flags2(DWORD* flags) {
    return get_Flags(flags);
}

HRESULT GDPlugin::Init(Lumo::ILumoInstance* host) {
    if (host == nullptr)
        return E_INVALIDARG;
    HostInstance::Fill(host);
    ComPtr<DriveFileSystem> fileSystem;
    RETURN_IF_FAILED(MakeObject(&fileSystem, ComPtr<Lumo::IAfsInstance>(HostInstance::Afs())));
    m_file_system = fileSystem;
    Variant clientId, clientSecret;
    RETURN_IF_FAILED(clientId.SetText(BuiltInClientId()));
    RETURN_IF_FAILED(clientSecret.SetText(BuiltInClientSecret()));
    Bstr idName, secretName;
    RETURN_IF_FAILED(idName.Assign(L"ClientID"));
    RETURN_IF_FAILED(secretName.Assign(L"ClientSecret"));
    m_file_system->SetProperty(idName.Get(), clientId.Get());
    return m_file_system->SetProperty(secretName.Get(), clientSecret.Get());
}

HRESULT GDPlugin::InitFileSystems() {
    if (HostInstance::Afs() != nullptr && m_file_system)
        HostInstance::Afs()->RegisterFileSystem(m_file_system.Get());
    return S_OK;
}

HRESULT GDPlugin::InitUI() {
    LoadStrings();
    RegisterDialogIds();
    // Without the handler there are no commands; InitUI succeeds all the same.
    if (m_commands)
        m_commands->ForgetPlugin();
    m_commands.Reset();
    if (SUCCEEDED(MakeObject(&m_commands, this)))
        LOG_IF_FAILED(m_commands->CreateCommands());
    return S_OK;
}

// A missing string table only leaves the host without the plug-in's strings.
void GDPlugin::LoadStrings() {
    Lumo::ILumoInstance* host = HostInstance::Instance();
    for (WORD id : {kStringsResourceId, kSignInStringsResourceId}) {
        ComPtr<IStream> strings;
        if (FAILED(CreateResourceStream(nullptr, kXmlResourceType, id, strings.Put())))
            continue;
        if (strings && host != nullptr)
            host->LoadLocalization(strings.Get());
    }
}

void GDPlugin::RegisterDialogIds() {
    Lumo::ILumoInstance* host = HostInstance::Instance();
    if (m_ids_registered || host == nullptr)
        return;
    m_ids_registered = true;
    const struct {
        const wchar_t* name;
        long DialogIds::*field;
    } kNames[] = {
        {L"gd.DlgOpenFile", &DialogIds::dlg_open_file},
        {L"gd.DlgSaveFile", &DialogIds::dlg_save_file},
        {L"gd.lb.Test", &DialogIds::lb_test},
        {L"gd.ed.fileName", &DialogIds::ed_file_name},
        {L"gd.cpt.selectFile", &DialogIds::cpt_select_file},
        {L"gd.msg.selectFile", &DialogIds::msg_select_file},
        {L"gd.msg.navigateError", &DialogIds::msg_navigate_error},
        {L"gd.cpt.navigateError", &DialogIds::cpt_navigate_error},
        {L"gd.msg.saveReplace", &DialogIds::msg_save_replace},
        {L"gd.cpt.saveReplace", &DialogIds::cpt_save_replace},
        {L"gd.msg.fileNotFound", &DialogIds::msg_file_not_found},
        {L"gd.cpt.fileNotFound", &DialogIds::cpt_file_not_found},
        {L"gd.msg.invalidFileName", &DialogIds::msg_invalid_file_name},
        {L"gd.cpt.invalidFileName", &DialogIds::cpt_invalid_file_name},
        {L"cb.googleAcc", &DialogIds::cb_google_acc},
    };
    for (const auto& entry : kNames)
        host->GetNameId(entry.name, Lumo::LUMO_NameId_Auto, &(g_dialog_ids.*entry.field));
}

HRESULT GDPlugin::PostInit() {
    return S_OK;
}

HRESULT GDPlugin::Uninit() {
    if (HostInstance::Afs() != nullptr && m_file_system) {
        HostInstance::Afs()->UnregisterFileSystem(m_file_system.Get());
        m_file_system->DropStore();
    }
    m_file_system.Reset();
    HostInstance::Clear();
    return S_OK;
}

HRESULT GDPlugin::Reserved1() {
    return E_NOTIMPL;
}
HRESULT GDPlugin::Reserved2() {
    return E_NOTIMPL;
}
HRESULT GDPlugin::Reserved3() {
    return E_NOTIMPL;
}
HRESULT GDPlugin::Reserved4() {
    return E_NOTIMPL;
}

} // namespace gd
