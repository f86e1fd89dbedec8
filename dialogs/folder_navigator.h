// The folder the Open/Save dialog shows and its entries, listed on a worker
// thread of their own; the result reaches the UI thread through the host's
// main-thread call.
#pragma once

#include "plugin/com_object.h"
#include "plugin/sdk/lumo.h"

#include <windows.h>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <thread>

namespace gd {

// The host's main-thread task around a callable: Run calls it; an empty
// callable or an exception escaping it gives E_FAIL.
class MainThreadCall : public ComObject<Lumo::ILumoTask> {
public:
    explicit MainThreadCall(std::function<HRESULT()> function) : m_function(std::move(function)) {}
    HRESULT STDMETHODCALLTYPE Run() override;

private:
    std::function<HRESULT()> m_function;
};

// Runs function on the host's UI thread through a MainThreadCall, waiting
// without limit; on the UI thread itself it runs at once. The host call's
// own result is not looked at.
void CallOnMainThread(Lumo::ILumoInstance* host, std::function<HRESULT()> function);

// Orders names by the identity of their objects.
struct NameByAddress {
    bool operator()(const ComPtr<Lumo::IAfsName>& a, const ComPtr<Lumo::IAfsName>& b) const {
        return std::less<Lumo::IAfsName*>()(a.Get(), b.Get());
    }
};

class FolderNavigator {
public:
    // The children of the current folder: name to enumeration item. The
    // order carries no meaning.
    using Entries = std::map<ComPtr<Lumo::IAfsName>, ComPtr<Lumo::IAfsFileInfo>, NameByAddress>;
    // Called on the UI thread when an enumeration ends, with its result: 0,
    // 1 for a folder that could not be listed (no folder), a failure, or a
    // cancellation.
    using Completion = std::function<HRESULT(HRESULT)>;

    FolderNavigator(ComPtr<Lumo::ILumoInstance> host, ComPtr<Lumo::IAfsFileSystem> file_system,
                    Completion on_completed);
    // Stops a running enumeration first. Inside the completion (a dialog
    // closing from it) the worker is left to end on its own: it waits for
    // the completion to return and touches nothing of the navigator after.
    ~FolderNavigator();
    FolderNavigator(const FolderNavigator&) = delete;
    FolderNavigator& operator=(const FolderNavigator&) = delete;

    // Shows a folder, or the folder of a file, and starts listing it. On the
    // UI thread; E_FAIL while an enumeration runs (nothing changes then).
    HRESULT Navigate(Lumo::IAfsName* folder_or_file_item);
    // Lists the current folder again; E_FAIL while an enumeration runs,
    // S_FALSE (completed at once with 1) without a current folder.
    HRESULT Refresh();
    // Cancels a running enumeration and waits for its worker; its completion
    // is not called. Safe on the UI thread while the worker hands over its
    // result.
    void Stop();

    // The current folder (a new reference; null when there is none).
    ComPtr<Lumo::IAfsName> GetFolder() const { return m_folder; }
    // The entries; read on the UI thread in the completion or while idle.
    const Entries& GetEntries() const { return m_entries; }
    bool IsRunning() const { return m_is_running.load(); }

private:
    // The worker's listing of m_folder into m_entries.
    HRESULT Enumerate();
    // Hands result to the completion on the UI thread unless stopped. False
    // when the navigator was destroyed inside the completion.
    bool Complete(HRESULT result, const std::shared_ptr<std::atomic<bool>>& destroyed);
    void WaitForWorker();

    ComPtr<Lumo::ILumoInstance> m_host;
    ComPtr<Lumo::IAfsFileSystem> m_file_system;
    ComPtr<Lumo::IAfsName> m_folder;
    Completion m_on_completed;
    Entries m_entries;
    std::thread m_worker;
    std::atomic<bool> m_is_running{false};
    // Set by the worker as its last step.
    HANDLE m_worker_done = nullptr;
    // The completion runs (UI thread only).
    bool m_in_completion = false;
    // Shared with the worker, which outlives a navigator destroyed inside
    // the completion.
    std::shared_ptr<std::atomic<bool>> m_destroyed;
};

} // namespace gd
