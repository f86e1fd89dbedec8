// The browser sign-in's redirect target: a one-shot HTTP listener on
// 127.0.0.1 at a port the system picks. It answers until one request to "/"
// carries the expected state with a code or an error, then closes.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <functional>
#include <string>
#include <string_view>

namespace gd {

// What the authorization server sent back: a code, or an error such as
// "access_denied".
struct LoopbackAnswer {
    std::wstring code;
    std::wstring error;
};

// Milliseconds of the sign-in's waits (GetTickCount64); tests install a clock
// that jumps. An empty function restores the system's; the previous one is
// returned.
using SignInClock = std::function<ULONGLONG()>;
SignInClock SetSignInClock(SignInClock clock);

class LoopbackListener {
public:
    LoopbackListener() = default;
    ~LoopbackListener() { Close(); }
    LoopbackListener(const LoopbackListener&) = delete;
    LoopbackListener& operator=(const LoopbackListener&) = delete;

    // Binds 127.0.0.1 on a free port and listens.
    HRESULT Open();
    bool IsOpen() const { return m_socket != INVALID_SOCKET; }
    // "http://127.0.0.1:PORT/".
    std::wstring RedirectUri() const;
    USHORT Port() const { return m_port; }

    // Serves requests until the callback comes: S_OK with its code or error.
    // Another path gets 404, a wrong or missing state 400, and the wait goes
    // on. GD_E_CANCELLED when cancel (may be null) is signalled or timeout
    // milliseconds pass on the sign-in clock. The listener is closed on return.
    HRESULT Wait(std::wstring_view state, HANDLE cancel, DWORD timeout, LoopbackAnswer& answer);
    void Close();

private:
    // S_OK when this connection brought the callback, S_FALSE otherwise.
    HRESULT Serve(SOCKET client, std::wstring_view state, LoopbackAnswer& answer);

    SOCKET m_socket = INVALID_SOCKET;
    USHORT m_port = 0;
    bool m_started = false; // WSAStartup succeeded
};

} // namespace gd
