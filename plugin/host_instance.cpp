#include "plugin/host_instance.h"

#include "plugin/com_ptr.h"

namespace gd {
namespace {

struct Record {
    Lumo::ILumoInstance* instance = nullptr;
    ComPtr<Lumo::IAfsInstance> afs;
    ComPtr<Lumo::IUixInstance> uix;
};

Record& TheRecord() {
    static Record record;
    return record;
}

template <class T> ComPtr<T> GetExtension(Lumo::ILumoInstance* host, const wchar_t* name) {
    ComPtr<IUnknown> extension;
    ComPtr<T> result;
    if (SUCCEEDED(host->GetExtension(name, extension.Put())) && extension)
        extension.As(&result);
    return result;
}

} // namespace

Lumo::ILumoInstance* HostInstance::Instance() {
    return TheRecord().instance;
}
Lumo::IAfsInstance* HostInstance::Afs() {
    return TheRecord().afs.Get();
}
Lumo::IUixInstance* HostInstance::Uix() {
    return TheRecord().uix.Get();
}

bool HostInstance::OnUiThread() {
    Lumo::ILumoInstance* host = Instance();
    HWND window = nullptr;
    if (host == nullptr || FAILED(host->get_MainWindow(&window)) || window == nullptr)
        return false;
    return GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId();
}

void HostInstance::Fill(Lumo::ILumoInstance* host) {
    Record& record = TheRecord();
    if (record.instance != nullptr || host == nullptr)
        return;
    record.instance = host;
    record.afs = GetExtension<Lumo::IAfsInstance>(host, L"AFS");
    record.uix = GetExtension<Lumo::IUixInstance>(host, L"UIX");
}

void HostInstance::Clear() {
    Record& record = TheRecord();
    record.uix.Reset();
    record.afs.Reset();
    record.instance = nullptr;
}

} // namespace gd
