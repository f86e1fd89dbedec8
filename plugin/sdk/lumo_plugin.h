// Lumo host SDK: the plug-in interface and the module's one export.
#pragma once

#include "plugin/sdk/lumo_base.h"
#include "plugin/sdk/lumo_instance.h"

LUMO_DECLARE_INTERFACE(ILumoPlugin, "3077CBDA-34BB-4DBE-BE4D-4DA035CB49BA")

namespace Lumo {

// What the host drives a plug-in through, from Init to Uninit.
struct ILumoPlugin : public IUnknown {
    // The plug-in's own identity.
    virtual HRESULT STDMETHODCALLTYPE get_ID(GUID* id) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Title(BSTR* title) = 0;
    // The legal notice.
    virtual HRESULT STDMETHODCALLTYPE get_Notice(BSTR* notice) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Version(DWORD* version) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Flags(DWORD* flags) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Name(BSTR* name) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Description(BSTR* description) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Company(BSTR* company) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Flags2(DWORD* flags) = 0;
    // Hands over the host instance; the plug-in keeps it without a reference.
    virtual HRESULT STDMETHODCALLTYPE Init(ILumoInstance* host) = 0;
    // Time to register file systems with the "AFS" extension.
    virtual HRESULT STDMETHODCALLTYPE InitFileSystems() = 0;
    // Time to load strings and create commands.
    virtual HRESULT STDMETHODCALLTYPE InitUI() = 0;
    // Every plug-in is initialised.
    virtual HRESULT STDMETHODCALLTYPE PostInit() = 0;
    // The host is about to unload the plug-in: let go of the host.
    virtual HRESULT STDMETHODCALLTYPE Uninit() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved1() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved2() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved3() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved4() = 0;
};

// The export every plug-in module has: creates the plug-in and answers it as
// __uuidof(ILumoPlugin) in *plugin. The first two arguments are the host's.
typedef HRESULT(STDAPICALLTYPE* LUME_GetPluginProc)(DWORD sdk_version, void* reserved,
                                                    void** plugin);
constexpr char LUME_GetPluginName[] = "LUME_GetPlugin";

} // namespace Lumo
