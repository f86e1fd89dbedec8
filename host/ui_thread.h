// The emulated host's UI thread: a thread with a message loop and a hidden
// main window through which other threads hand it work.
#pragma once

#include <windows.h>

#include <functional>
#include <thread>

namespace gd {

// Registers a window class of this program once; later calls do nothing.
void RegisterWindowClass(const wchar_t* name, WNDPROC procedure);

class UiThread {
public:
    // Starts the thread and waits until its window exists.
    UiThread();
    // Ends the message loop and joins the thread.
    ~UiThread();
    UiThread(const UiThread&) = delete;
    UiThread& operator=(const UiThread&) = delete;

    bool IsCurrent() const { return GetCurrentThreadId() == m_thread_id; }
    // The hidden main window; owner of dialogs and message boxes.
    HWND Window() const { return m_window; }

    // Runs work on the UI thread and waits up to timeout milliseconds for it;
    // on the UI thread itself it runs at once. Gives the work's result, or
    // HRESULT_FROM_WIN32(ERROR_TIMEOUT) when the work had not started when
    // the wait ran out (it then never runs); work that has started is waited
    // for. Exceptions of the work become codes.
    HRESULT Run(std::function<HRESULT()> work, DWORD timeout = INFINITE);

    // Dispatches the calling thread's messages (and so UI-thread work) until
    // done() holds or timeout milliseconds passed; true when done() held.
    // Modal loops and tests' waits use it.
    static bool PumpUntil(const std::function<bool()>& done, DWORD timeout);

private:
    void Main(HANDLE ready);

    std::thread m_thread;
    DWORD m_thread_id = 0;
    HWND m_window = nullptr;
};

} // namespace gd
