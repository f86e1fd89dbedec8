// lumo-host: loads a plug-in module the way the editor does, runs its
// lifecycle and prints what the plug-in tells about itself.
#include <cstdio>
#include <string>

#include "host/loaded_plugin.h"
#include "plugin/module.h"

namespace gd {
namespace {

std::wstring Text(HRESULT (STDMETHODCALLTYPE Lumo::ILumoPlugin::*getter)(BSTR*),
                  Lumo::ILumoPlugin* plugin) {
    Bstr text;
    return SUCCEEDED((plugin->*getter)(text.Put())) ? text.Text() : L"?";
}

void PrintIdentity(Lumo::ILumoPlugin* plugin) {
    GUID id{};
    wchar_t id_text[64] = L"?";
    if (SUCCEEDED(plugin->get_ID(&id)))
        StringFromGUID2(id, id_text, ARRAYSIZE(id_text));
    DWORD version = 0;
    plugin->get_Version(&version);
    wprintf(L"id:      %ls\n", id_text);
    wprintf(L"title:   %ls\n", Text(&Lumo::ILumoPlugin::get_Title, plugin).c_str());
    wprintf(L"version: %lu.%lu\n", version >> 16, version & 0xFFFF);
    wprintf(L"company: %ls\n", Text(&Lumo::ILumoPlugin::get_Company, plugin).c_str());
}

void PrintMenu(const wchar_t* label, HostMenu* menu, EmulatedHost& host) {
    if (menu == nullptr)
        return;
    wprintf(L"%ls:", label);
    for (const std::wstring& name : menu->CommandNames()) {
        ComPtr<HostCommand> command = host.Uix().FindCommand(name);
        std::wstring shown = command ? host.Strings().Resolve(command->m_title) : name;
        wprintf(L" [%ls]", shown.c_str());
    }
    wprintf(L"\n");
}

int Run(const wchar_t* path) {
    ComPtr<EmulatedHost> host;
    if (FAILED(MakeObject(&host)))
        return 1;
    HRESULT hr = S_OK;
    {
        LoadedPlugin plugin(host.Get());
        hr = plugin.Load(path);
        if (SUCCEEDED(hr))
            hr = plugin.Start();
        if (SUCCEEDED(hr)) {
            PrintIdentity(plugin.Plugin());
            HostMenu* file = plugin.CmdBars()->MenuBar()->SubMenu(L"cmd.file");
            PrintMenu(L"cmd.openFrom", file->SubMenu(L"cmd.openFrom"), *host.Get());
            PrintMenu(L"cmd.saveTo", file->SubMenu(L"cmd.saveTo"), *host.Get());
            wprintf(L"file systems: %zu\n", host->Afs().FileSystems().size());
            hr = plugin.Stop();
        }
    }
    if (FAILED(hr))
        fwprintf(stderr, L"lumo-host: %ls failed with 0x%08lX\n", path,
                 static_cast<unsigned long>(hr));
    return FAILED(hr) ? 1 : 0;
}

} // namespace
} // namespace gd

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        fwprintf(stderr, L"usage: lumo-host <plug-in module>\n");
        return 2;
    }
    gd::InitModule();
    int result = gd::Run(argv[1]);
    gd::UninitModule();
    return result;
}
