#include <windows.h>

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

// The plug-in object comes with the host integration; until then the host
// learns that the module offers none. The first two arguments are not examined.
extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE
    LUME_GetPlugin(DWORD, void*, void** plugin) {
    if (plugin == nullptr)
        return E_POINTER;
    *plugin = nullptr;
    return E_NOTIMPL;
}
