// The plug-in object the host drives from Init to Uninit.
#pragma once

#include "drivefs/file_system.h"
#include "plugin/commands.h"
#include "plugin/com_object.h"
#include "plugin/sdk/lumo.h"

namespace gd {

// The plug-in's own identity and version.
constexpr GUID kPluginId = {
    0x853C44EB, 0x3429, 0x4286, {0xA3, 0x8A, 0x9D, 0xE1, 0x66, 0xEC, 0x9B, 0x71}};
constexpr DWORD kPluginVersion = 0x00030000;

// Numbers of the dialog's string and control ids, registered with the host
// by the first InitUI.
struct DialogIds {
    long dlg_open_file = 0;
    long dlg_save_file = 0;
    long lb_test = 0;
    long ed_file_name = 0;
    long cpt_select_file = 0;
    long msg_select_file = 0;
    long msg_navigate_error = 0;
    long cpt_navigate_error = 0;
    long msg_save_replace = 0;
    long cpt_save_replace = 0;
    long msg_file_not_found = 0;
    long cpt_file_not_found = 0;
    long msg_invalid_file_name = 0;
    long cpt_invalid_file_name = 0;
    long cb_google_acc = 0;
};
const DialogIds& GetDialogIds();

class GDPlugin : public ComObject<Lumo::ILumoPlugin> {
public:
    ~GDPlugin() override;

    HRESULT STDMETHODCALLTYPE get_ID(GUID* id) override;
    HRESULT STDMETHODCALLTYPE get_Title(BSTR* title) override;
    HRESULT STDMETHODCALLTYPE get_Notice(BSTR* notice) override;
    HRESULT STDMETHODCALLTYPE get_Version(DWORD* version) override;
    HRESULT STDMETHODCALLTYPE get_Flags(DWORD* flags) override;
    HRESULT STDMETHODCALLTYPE get_Name(BSTR* name) override;
    HRESULT STDMETHODCALLTYPE get_Description(BSTR* description) override;
    HRESULT STDMETHODCALLTYPE get_Company(BSTR* company) override;
    HRESULT STDMETHODCALLTYPE get_Flags2(DWORD* flags) override;
    HRESULT STDMETHODCALLTYPE Init(Lumo::ILumoInstance* host) override;
    HRESULT STDMETHODCALLTYPE InitFileSystems() override;
    HRESULT STDMETHODCALLTYPE InitUI() override;
    HRESULT STDMETHODCALLTYPE PostInit() override;
    HRESULT STDMETHODCALLTYPE Uninit() override;
    HRESULT STDMETHODCALLTYPE Reserved1() override;
    HRESULT STDMETHODCALLTYPE Reserved2() override;
    HRESULT STDMETHODCALLTYPE Reserved3() override;
    HRESULT STDMETHODCALLTYPE Reserved4() override;

    // The file system between Init and Uninit, else null.
    DriveFileSystem* FileSystem() const { return m_file_system.Get(); }

private:
    void LoadStrings();
    void RegisterDialogIds();

    ComPtr<DriveFileSystem> m_file_system;
    // The commands handler; kept until this object is destroyed.
    ComPtr<CommandsHandler> m_commands;
    bool m_ids_registered = false;
};

} // namespace gd
