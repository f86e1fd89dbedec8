// The emulated "AFS" extension: the registry of file systems.
#pragma once

#include <mutex>
#include <vector>

#include "plugin/com_object.h"
#include "plugin/sdk/lumo.h"

namespace gd {

class AfsHost : public ComObject<Lumo::IAfsInstance> {
public:
    // S_FALSE when the file system is registered already.
    HRESULT STDMETHODCALLTYPE RegisterFileSystem(Lumo::IAfsFileSystem* file_system) override;
    // E_INVALIDARG when the file system is not registered.
    HRESULT STDMETHODCALLTYPE UnregisterFileSystem(Lumo::IAfsFileSystem* file_system) override;
    // An account object that lets the account write.
    HRESULT STDMETHODCALLTYPE CreateAccountObject(Lumo::IAfsFileSystem* file_system,
                                                  Lumo::IAfsAccount** account) override;

    std::vector<ComPtr<Lumo::IAfsFileSystem>> FileSystems() const;
    // Forgets the file systems whose code is the module's, before it is freed.
    void DropObjectsOf(HMODULE module);

private:
    mutable std::mutex m_lock;
    std::vector<ComPtr<Lumo::IAfsFileSystem>> m_file_systems;
};

} // namespace gd
