#include "host/afs_host.h"

#include <algorithm>
#include <iterator>

#include "errors/check.h"
#include "host/module_code.h"

namespace gd {
namespace {

class HostAccount : public ComObject<Lumo::IAfsAccount> {
public:
    HRESULT STDMETHODCALLTYPE CanWrite(Lumo::IAfsName*, VARIANT_BOOL* can_write) override {
        RETURN_HR_IF_NULL(E_POINTER, can_write);
        *can_write = VARIANT_TRUE;
        return S_OK;
    }
};

} // namespace

HRESULT AfsHost::RegisterFileSystem(Lumo::IAfsFileSystem* file_system) {
    RETURN_HR_IF_NULL(E_INVALIDARG, file_system);
    std::lock_guard<std::mutex> guard(m_lock);
    for (const auto& known : m_file_systems) {
        if (known.Get() == file_system)
            return S_FALSE;
    }
    m_file_systems.emplace_back(file_system);
    return S_OK;
}

HRESULT AfsHost::UnregisterFileSystem(Lumo::IAfsFileSystem* file_system) {
    std::lock_guard<std::mutex> guard(m_lock);
    auto found =
        std::find_if(m_file_systems.begin(), m_file_systems.end(),
                     [file_system](const auto& known) { return known.Get() == file_system; });
    RETURN_HR_IF(E_INVALIDARG, file_system == nullptr || found == m_file_systems.end());
    m_file_systems.erase(found);
    return S_OK;
}

HRESULT AfsHost::CreateAccountObject(Lumo::IAfsFileSystem*, Lumo::IAfsAccount** account) {
    RETURN_HR_IF_NULL(E_POINTER, account);
    *account = nullptr;
    ComPtr<HostAccount> created;
    RETURN_IF_FAILED(MakeObject(&created));
    *account = created.Detach();
    return S_OK;
}

void AfsHost::DropObjectsOf(HMODULE module) {
    std::vector<ComPtr<Lumo::IAfsFileSystem>> dropped; // released outside the lock
    std::lock_guard<std::mutex> guard(m_lock);
    auto kept =
        std::partition(m_file_systems.begin(), m_file_systems.end(),
                       [module](const auto& known) { return !IsCodeOf(known.Get(), module); });
    std::move(kept, m_file_systems.end(), std::back_inserter(dropped));
    m_file_systems.erase(kept, m_file_systems.end());
}

std::vector<ComPtr<Lumo::IAfsFileSystem>> AfsHost::FileSystems() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_file_systems;
}

} // namespace gd
