// The emulated host's UI thread: a thread with a message loop and a hidden
// main window through which other threads hand it work.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <thread>

namespace gd {

// Registers a window class of this program once; later calls do nothing.
void RegisterWindowClass(const wchar_t* name, WNDPROC procedure);

// S_OK on the given thread, RPC_E_WRONG_THREAD on any other: UI objects
// answer only on the thread that owns their windows.
inline HRESULT CheckThread(DWORD thread) {
    return GetCurrentThreadId() == thread ? S_OK : RPC_E_WRONG_THREAD;
}

class UiThread {
public:
    // Starts the thread and waits until its window exists.
    UiThread();
    // Quits the message loop (running modal loops end first) and joins the
    // thread; on the UI thread itself the loop ends once the current message
    // returns, without touching this object again.
    ~UiThread();
    UiThread(const UiThread&) = delete;
    UiThread& operator=(const UiThread&) = delete;

    bool IsCurrent() const { return GetCurrentThreadId() == m_thread_id; }
    DWORD ThreadId() const { return m_thread_id; }
    // The hidden main window; owner of dialogs and message boxes.
    HWND Window() const { return m_window; }

    // Runs work on the UI thread and waits up to timeout milliseconds for it;
    // on the UI thread itself it runs at once. Gives the work's result, or
    // HRESULT_FROM_WIN32(ERROR_TIMEOUT) when the work had not started when
    // the wait ran out (it then never runs); work that has started is waited
    // for. Exceptions of the work become codes.
    HRESULT Run(std::function<HRESULT()> work, DWORD timeout = INFINITE);
    // How many threads wait in Run for work posted to the UI thread.
    int Waiting() const { return m_waiting.load(); }

    // Dispatches the calling thread's messages (and so UI-thread work) until
    // done() holds or timeout milliseconds passed; true when done() held.
    // A quit message ends it too (false), and stays posted for the loops
    // around it. Modal loops and tests' waits use it.
    static bool PumpUntil(const std::function<bool()>& done, DWORD timeout);

private:
    // Runs the loop; after `ready` is set it uses locals only, since the
    // object may be destroyed from a message the loop dispatches.
    void Main(HANDLE ready);

    std::thread m_thread;
    DWORD m_thread_id = 0;
    HWND m_window = nullptr;
    std::atomic<int> m_waiting{0};
};

} // namespace gd
