#include "host/ui_thread.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <ole2.h>

#include "errors/check.h"

namespace gd {
namespace {

constexpr UINT kRunMessage = WM_APP + 1;
constexpr const wchar_t* kWindowClass = L"LumoHostMainWindow";

// One piece of work, shared by the waiting thread and the UI thread. A wait
// that times out before the work started abandons it: the work refers to the
// waiter's frame, which is gone once Run has returned.
struct WorkItem {
    enum State { kPending, kRunning, kAbandoned };
    std::function<HRESULT()> work;
    std::atomic<int> state{kPending};
    HRESULT result = E_PENDING;
    HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ~WorkItem() {
        if (done != nullptr)
            CloseHandle(done);
    }
};

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    // Closing quits the loops (a modal loop dispatches it as well); the main
    // window is destroyed when the thread's own loop has ended.
    if (message == WM_CLOSE) {
        PostQuitMessage(0);
        return 0;
    }
    if (message != kRunMessage)
        return DefWindowProcW(window, message, wparam, lparam);
    std::unique_ptr<std::shared_ptr<WorkItem>> item(
        reinterpret_cast<std::shared_ptr<WorkItem>*>(lparam));
    int pending = WorkItem::kPending;
    if (!(*item)->state.compare_exchange_strong(pending, WorkItem::kRunning))
        return 0;
    (*item)->result = RunGuarded((*item)->work);
    SetEvent((*item)->done);
    return 0;
}

HWND CreateMainWindow() {
    RegisterWindowClass(kWindowClass, WindowProc);
    HINSTANCE instance = GetModuleHandleW(nullptr);
    HWND window = CreateWindowExW(0, kWindowClass, L"Lumo host", WS_OVERLAPPEDWINDOW, 0, 0, 800,
                                  600, nullptr, nullptr, instance, nullptr);
    // Without a display driver a message-only window still carries the work.
    if (window == nullptr)
        window = CreateWindowExW(0, kWindowClass, L"Lumo host", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                 nullptr, instance, nullptr);
    return window;
}

} // namespace

void RegisterWindowClass(const wchar_t* name, WNDPROC procedure) {
    WNDCLASSEXW window_class{};
    window_class.cbSize = sizeof window_class;
    window_class.lpfnWndProc = procedure;
    window_class.hInstance = GetModuleHandleW(nullptr);
    window_class.lpszClassName = name;
    window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    window_class.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
    RegisterClassExW(&window_class); // fails harmlessly when already registered
}

UiThread::UiThread() {
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    m_thread = std::thread([this, ready] { Main(ready); });
    WaitForSingleObject(ready, INFINITE);
    CloseHandle(ready);
}

UiThread::~UiThread() {
    // Ended from its own thread (a last release there), it cannot wait for itself.
    if (IsCurrent()) {
        PostQuitMessage(0);
        m_thread.detach();
        return;
    }
    if (m_window != nullptr)
        PostMessageW(m_window, WM_CLOSE, 0, 0);
    if (m_thread.joinable())
        m_thread.join();
}

void UiThread::Main(HANDLE ready) {
    OleInitialize(nullptr);
    const HWND window = CreateMainWindow();
    m_thread_id = GetCurrentThreadId();
    m_window = window;
    SetEvent(ready);
    MSG message;
    while (window != nullptr && GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    // Work still queued runs before the thread ends, so no waiter is left behind.
    while (window != nullptr && PeekMessageW(&message, window, kRunMessage, kRunMessage, PM_REMOVE))
        DispatchMessageW(&message);
    if (window != nullptr)
        DestroyWindow(window);
    OleUninitialize();
}

HRESULT UiThread::Run(std::function<HRESULT()> work, DWORD timeout) {
    if (IsCurrent())
        return RunGuarded(work);
    RETURN_HR_IF(E_UNEXPECTED, m_window == nullptr);
    auto item = std::make_shared<WorkItem>();
    RETURN_HR_IF(LastWin32Error(), item->done == nullptr);
    item->work = std::move(work);
    auto* posted = new std::shared_ptr<WorkItem>(item);
    if (!PostMessageW(m_window, kRunMessage, 0, reinterpret_cast<LPARAM>(posted))) {
        const HRESULT failure = LastWin32Error(); // before delete can change it
        delete posted;
        RETURN_IF_FAILED(failure);
    }
    ++m_waiting;
    const DWORD waited = WaitForSingleObject(item->done, timeout);
    --m_waiting;
    if (waited == WAIT_OBJECT_0)
        return item->result;
    int pending = WorkItem::kPending;
    if (item->state.compare_exchange_strong(pending, WorkItem::kAbandoned))
        return HRESULT_FROM_WIN32(ERROR_TIMEOUT);
    // Started in the meantime: it may use the caller's frame until it ends.
    WaitForSingleObject(item->done, INFINITE);
    return item->result;
}

bool UiThread::PumpUntil(const std::function<bool()>& done, DWORD timeout) {
    const ULONGLONG deadline = GetTickCount64() + timeout;
    for (;;) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                PostQuitMessage(static_cast<int>(message.wParam));
                return false;
            }
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        if (done())
            return true;
        ULONGLONG now = GetTickCount64();
        if (timeout != INFINITE && now >= deadline)
            return false;
        DWORD wait =
            timeout == INFINITE ? 50 : static_cast<DWORD>(std::min<ULONGLONG>(50, deadline - now));
        MsgWaitForMultipleObjects(0, nullptr, FALSE, wait, QS_ALLINPUT);
    }
}

} // namespace gd
