#include "dialogs/folder_navigator.h"

#include "dialogs/traced_call.h"
#include "errors/check.h"
#include "errors/codes.h"

namespace gd {
namespace {

// Lets the calling thread's messages run (the host's main-thread calls among
// them) until event is set. A quit seen meanwhile is posted again afterwards
// for the loops around.
void WaitLettingMessagesRun(HANDLE event) {
    bool quit = false;
    int quit_code = 0;
    while (MsgWaitForMultipleObjects(1, &event, FALSE, INFINITE, QS_ALLINPUT) != WAIT_OBJECT_0) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                quit = true;
                quit_code = static_cast<int>(message.wParam);
                continue;
            }
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    if (quit)
        PostQuitMessage(quit_code);
}

} // namespace

HRESULT MainThreadCall::Run() {
    if (!m_function)
        return E_FAIL;
    try {
        return m_function();
    } catch (...) {
        return E_FAIL;
    }
}

void CallOnMainThread(Lumo::ILumoInstance* host, std::function<HRESULT()> function) {
    ComPtr<MainThreadCall> call;
    if (host == nullptr || FAILED(LOG_IF_FAILED(MakeObject(&call, std::move(function)))))
        return;
    host->RunOnMainThread(call.Get(), INFINITE);
}

FolderNavigator::FolderNavigator(ComPtr<Lumo::ILumoInstance> host,
                                 ComPtr<Lumo::IAfsFileSystem> file_system, Completion on_completed)
    : m_host(std::move(host)), m_file_system(std::move(file_system)),
      m_on_completed(std::move(on_completed)),
      m_worker_done(CreateEventW(nullptr, TRUE, TRUE, nullptr)),
      m_destroyed(std::make_shared<std::atomic<bool>>(false)) {}

FolderNavigator::~FolderNavigator() {
    Stop();
    if (m_in_completion && m_worker.joinable()) {
        // The worker waits for this completion to return: it cannot be
        // joined here, and it ends without touching this object.
        *m_destroyed = true;
        m_worker.detach();
    }
    WaitForWorker();
    if (m_worker_done != nullptr)
        CloseHandle(m_worker_done);
}

HRESULT FolderNavigator::Navigate(Lumo::IAfsName* folder_or_file_item) {
    RETURN_HR_IF(E_FAIL, m_is_running);
    RETURN_HR_IF_NULL(GD_E_MISSING, m_file_system.Get());
    ComPtr<Lumo::IAfsFileInfo> information;
    RETURN_IF_FAILED_AS(
        "m_file_system->GetFileInfo(folder_or_file_item, nullptr, nullptr, &information)",
        m_file_system->GetFileInfo(folder_or_file_item, nullptr, nullptr, information.Put()));
    RETURN_HR_IF(GD_E_UNEXPECTED, !information);
    DWORD attributes = 0;
    RETURN_IF_FAILED_AS("information->get_Attributes(&attributes)",
                        information->get_Attributes(&attributes));
    if ((attributes & Lumo::AFS_Attribute_Folder) != 0) {
        m_folder = ComPtr<Lumo::IAfsName>(folder_or_file_item);
    } else {
        RETURN_IF_FAILED_AS("m_file_system->NameGetParent(folder_or_file_item, &m_folder)",
                            m_file_system->NameGetParent(folder_or_file_item, m_folder.Put()));
    }
    RETURN_IF_FAILED_AS("Refresh()", Refresh());
    return S_OK;
}

HRESULT FolderNavigator::Refresh() {
    // Inside the completion, also after a Stop there, the worker still waits
    // for it to return: no other may start.
    RETURN_HR_IF(E_FAIL, m_in_completion);
    if (m_is_running.exchange(true)) {
        TraceReturn("!m_is_running.exchange(true)", E_FAIL);
        return E_FAIL;
    }
    m_entries.clear();
    if (!m_folder) {
        m_is_running = false;
        // A copy: the navigator may be destroyed inside the completion.
        CallOnMainThread(m_host.Get(),
                         [on_completed = m_on_completed] { return on_completed(S_FALSE); });
        return S_FALSE;
    }
    // The last worker cleared the flag as its last step: it is ending.
    WaitForWorker();
    return RunGuarded([&]() -> HRESULT {
        ResetEvent(m_worker_done);
        try {
            m_worker = std::thread([this, destroyed = m_destroyed] {
                HRESULT result = RunGuarded([this] { return Enumerate(); });
                if (Complete(result, destroyed))
                    SetEvent(m_worker_done);
            });
        } catch (...) {
            SetEvent(m_worker_done);
            m_is_running = false;
            throw;
        }
        return S_OK;
    });
}

void FolderNavigator::Stop() {
    if (!m_is_running.exchange(false) || !m_worker.joinable())
        return;
    // Inside the completion the worker waits for this very call to return.
    if (m_in_completion)
        return;
    WaitLettingMessagesRun(m_worker_done);
    m_worker.join();
}

void FolderNavigator::WaitForWorker() {
    if (m_in_completion || !m_worker.joinable())
        return;
    m_worker.join();
}

HRESULT FolderNavigator::Enumerate() {
    ComPtr<Lumo::IAfsEnumFolder> enum_folder;
    RETURN_IF_FAILED_AS(
        "m_file_system->EnumFolder(m_folder, nullptr, nullptr, &enum_folder)",
        m_file_system->EnumFolder(m_folder.Get(), nullptr, nullptr, enum_folder.Put()));
    RETURN_HR_IF(GD_E_UNEXPECTED, !enum_folder);
    if (!m_is_running) {
        TraceReturn("m_is_running", GD_E_CANCELLED);
        return GD_E_CANCELLED;
    }
    ComPtr<Lumo::IAfsFileInfo> enum_item;
    RETURN_IF_FAILED_AS("enum_folder->Next(&enum_item)", enum_folder->Next(enum_item.Put()));
    while (enum_item) {
        // Checked between items, so a stop waits at most for one page.
        if (!m_is_running) {
            TraceReturn("m_is_running", GD_E_CANCELLED);
            return GD_E_CANCELLED;
        }
        ComPtr<Lumo::IAfsName> name;
        RETURN_IF_FAILED_AS("enum_item->get_Name(&name)", enum_item->get_Name(name.Put()));
        m_entries[name] = std::move(enum_item);
        RETURN_IF_FAILED_AS("enum_folder->Next(&enum_item)", enum_folder->Next(enum_item.Put()));
    }
    if (!m_is_running) {
        TraceReturn("m_is_running", GD_E_CANCELLED);
        return GD_E_CANCELLED;
    }
    return S_OK;
}

bool FolderNavigator::Complete(HRESULT result,
                               const std::shared_ptr<std::atomic<bool>>& destroyed) {
    if (m_is_running) {
        // Kept here: the navigator may be destroyed inside the completion.
        ComPtr<Lumo::ILumoInstance> host = m_host;
        // A stop that came while this call waited for the UI thread drops it.
        CallOnMainThread(host.Get(), [this, result, destroyed]() -> HRESULT {
            if (!m_is_running)
                return GD_E_CANCELLED;
            Completion on_completed = m_on_completed;
            m_in_completion = true;
            HRESULT hr = RunGuarded([&] { return on_completed(result); });
            if (!*destroyed)
                m_in_completion = false;
            return hr;
        });
        if (*destroyed)
            return false;
    }
    m_is_running = false;
    return true;
}

} // namespace gd
