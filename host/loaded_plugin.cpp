#include "host/loaded_plugin.h"

#include "errors/check.h"

namespace gd {

LoadedPlugin::~LoadedPlugin() {
    if (m_started)
        Stop();
    Unload();
}

HRESULT LoadedPlugin::Load(const std::wstring& path) {
    RETURN_HR_IF(E_UNEXPECTED, m_module != nullptr);
    return m_host->OnUi([&]() -> HRESULT {
        m_module = LoadLibraryW(path.c_str());
        RETURN_HR_IF(HRESULT_FROM_WIN32(GetLastError()), m_module == nullptr);
        auto get_plugin = reinterpret_cast<Lumo::LUME_GetPluginProc>(
            reinterpret_cast<void (*)()>(GetProcAddress(m_module, Lumo::LUME_GetPluginName)));
        RETURN_HR_IF(HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND), get_plugin == nullptr);
        return get_plugin(0, nullptr, m_plugin.PutVoid());
    });
}

HRESULT LoadedPlugin::Start() {
    RETURN_HR_IF(E_UNEXPECTED, !m_plugin);
    RETURN_IF_FAILED(m_host->OnUi([&]() -> HRESULT {
        RETURN_IF_FAILED(m_plugin->Init(m_host.Get()));
        m_started = true;
        RETURN_IF_FAILED(m_plugin->InitFileSystems());
        return m_plugin->InitUI();
    }));
    RETURN_IF_FAILED(m_host->CustomizeCmdBars(&m_cmd_bars));
    return m_host->OnUi([&] { return m_plugin->PostInit(); });
}

HRESULT LoadedPlugin::Stop() {
    RETURN_HR_IF(E_UNEXPECTED, !m_plugin);
    m_started = false;
    return m_host->OnUi([&] { return m_plugin->Uninit(); });
}

void LoadedPlugin::Unload() {
    m_host->OnUi([&] {
        m_plugin.Reset();
        if (m_module != nullptr) {
            // A reference left behind would be released into unmapped code.
            m_host->DropObjectsOf(m_module);
            FreeLibrary(m_module);
        }
        m_module = nullptr;
        return S_OK;
    });
}

} // namespace gd
