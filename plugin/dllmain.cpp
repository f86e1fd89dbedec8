#include <windows.h>

#include "plugin/gd_plugin.h"
#include "plugin/module.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        DisableThreadLibraryCalls(instance);
        gd::InitModule();
        break;
    case DLL_PROCESS_DETACH:
        gd::UninitModule();
        break;
    }
    return TRUE;
}

// Creates the plug-in object and answers it as the plug-in interface; on
// success the host holds the only reference. The first two arguments are not
// examined.
extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE
    LUME_GetPlugin(DWORD, void*, void** plugin) {
    if (plugin == nullptr)
        return E_POINTER;
    *plugin = nullptr;
    gd::ComPtr<gd::GDPlugin> object;
    HRESULT hr = gd::MakeObject(&object);
    if (FAILED(hr))
        return hr;
    return object->QueryInterface(__uuidof(Lumo::ILumoPlugin), plugin);
}
