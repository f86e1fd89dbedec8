// A plug-in module loaded by the emulated host and driven through its
// lifecycle on the host's UI thread, as the editor does.
#pragma once

#include <string>

#include "host/emulated_host.h"

namespace gd {

class LoadedPlugin {
public:
    explicit LoadedPlugin(EmulatedHost* host) : m_host(host) {}
    // Uninit when still started, then releases the plug-in and unloads the module.
    ~LoadedPlugin();
    LoadedPlugin(const LoadedPlugin&) = delete;
    LoadedPlugin& operator=(const LoadedPlugin&) = delete;

    // LoadLibraryW and LUME_GetPlugin.
    HRESULT Load(const std::wstring& path);
    // Init, InitFileSystems, InitUI, the command bars' customization, PostInit.
    HRESULT Start();
    // Uninit.
    HRESULT Stop();
    // Releases the plug-in, has the host drop every object of the module it
    // still holds, and unloads the module.
    void Unload();

    Lumo::ILumoPlugin* Plugin() const { return m_plugin.Get(); }
    HMODULE Module() const { return m_module; }
    // The command bars the plug-in customized at Start.
    HostCmdBars* CmdBars() const { return m_cmd_bars.Get(); }

private:
    ComPtr<EmulatedHost> m_host;
    HMODULE m_module = nullptr;
    ComPtr<Lumo::ILumoPlugin> m_plugin;
    ComPtr<HostCmdBars> m_cmd_bars;
    bool m_started = false;
};

} // namespace gd
