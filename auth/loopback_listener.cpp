#include "auth/loopback_listener.h"

#include "errors/check.h"
#include "errors/codes.h"
#include "errors/seam.h"
#include "http/encoding.h"

#include <shlwapi.h>
#include <ws2tcpip.h>

#include <new>
#include <string>
#include <utility>

namespace gd {
namespace {

constexpr size_t kMaxRequestBytes = 8192;
// A client that sends nothing does not hold up the sign-in for longer.
constexpr DWORD kReceiveTimeout = 3000;
// How often the wait looks at the clock and the cancel event.
constexpr DWORD kWaitSlice = 100;

Seam<SignInClock>& ClockSeam() {
    static Seam<SignInClock> seam;
    return seam;
}

ULONGLONG Now() {
    SignInClock clock = ClockSeam().Get();
    return clock ? clock() : GetTickCount64();
}

HRESULT LastSocketError() {
    int error = WSAGetLastError();
    return error != 0 ? HRESULT_FROM_WIN32(error) : E_FAIL;
}

// The request head, up to its blank line; empty when the client sent none.
std::string ReadHead(SOCKET client) {
    std::string head;
    char buffer[1024];
    while (head.size() < kMaxRequestBytes && head.find("\r\n\r\n") == std::string::npos) {
        int got = recv(client, buffer, sizeof(buffer), 0);
        if (got <= 0)
            break;
        head.append(buffer, static_cast<size_t>(got));
    }
    return head;
}

// Percent escapes and "+" of one query value, read as UTF-8.
std::wstring DecodeQueryValue(std::string value) {
    for (char& c : value) {
        if (c == '+')
            c = ' ';
    }
    if (!value.empty())
        UrlUnescapeA(value.data(), nullptr, nullptr, URL_UNESCAPE_INPLACE);
    return FromUtf8(value.c_str());
}

// The value of name in a query ("a=1&b=2"); found tells whether it was there.
std::wstring QueryValue(std::string_view query, std::string_view name, bool& found) {
    found = false;
    while (!query.empty()) {
        size_t end = query.find('&');
        std::string_view pair = query.substr(0, end);
        size_t equals = pair.find('=');
        if (pair.substr(0, equals) == name) {
            found = true;
            return equals == std::string_view::npos
                       ? std::wstring()
                       : DecodeQueryValue(std::string(pair.substr(equals + 1)));
        }
        if (end == std::string_view::npos)
            break;
        query.remove_prefix(end + 1);
    }
    return {};
}

void SendPage(SOCKET client, const char* status, const char* text) {
    std::string body = std::string("<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">"
                                   "<title>Google Drive sign-in</title></head>\n<body><p>") +
                       text + "</p></body></html>\n";
    std::string answer = std::string("HTTP/1.1 ") + status +
                         "\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: " +
                         std::to_string(body.size()) +
                         "\r\nCache-Control: no-store\r\nConnection: close\r\n\r\n" + body;
    send(client, answer.data(), static_cast<int>(answer.size()), 0);
    shutdown(client, SD_SEND);
}

} // namespace

SignInClock SetSignInClock(SignInClock clock) {
    return ClockSeam().Replace(std::move(clock));
}

HRESULT LoopbackListener::Open() {
    Close();
    WSADATA data{};
    int started = WSAStartup(MAKEWORD(2, 2), &data);
    RETURN_HR_IF(HRESULT_FROM_WIN32(started), started != 0);
    m_started = true;
    m_socket = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    RETURN_HR_IF(LastSocketError(), m_socket == INVALID_SOCKET);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    int size = sizeof(address);
    HRESULT hr = S_OK;
    if (bind(m_socket, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        listen(m_socket, SOMAXCONN) != 0 ||
        getsockname(m_socket, reinterpret_cast<sockaddr*>(&address), &size) != 0)
        hr = LastSocketError();
    if (FAILED(hr)) {
        Close();
        RETURN_IF_FAILED(hr);
    }
    m_port = ntohs(address.sin_port);
    return S_OK;
}

std::wstring LoopbackListener::RedirectUri() const {
    return L"http://127.0.0.1:" + std::to_wstring(m_port) + L"/";
}

void LoopbackListener::Close() {
    if (m_socket != INVALID_SOCKET) {
        closesocket(m_socket);
        m_socket = INVALID_SOCKET;
    }
    if (m_started) {
        WSACleanup();
        m_started = false;
    }
    m_port = 0;
}

HRESULT LoopbackListener::Wait(std::wstring_view state, HANDLE cancel, DWORD timeout,
                               LoopbackAnswer& answer) {
    HRESULT hr = RunGuarded([&]() -> HRESULT {
        RETURN_HR_IF(GD_E_UNEXPECTED, !IsOpen());
        WSAEVENT ready = WSACreateEvent();
        RETURN_HR_IF(LastSocketError(), ready == WSA_INVALID_EVENT);
        const ULONGLONG deadline = Now() + timeout;
        HRESULT result = GD_E_CANCELLED;
        while (Now() < deadline) {
            if (WSAEventSelect(m_socket, ready, FD_ACCEPT) != 0) {
                result = LastSocketError();
                break;
            }
            HANDLE events[2] = {ready, cancel};
            DWORD count = cancel != nullptr ? 2 : 1;
            DWORD waited = WaitForMultipleObjects(count, events, FALSE, kWaitSlice);
            if (waited == WAIT_OBJECT_0 + 1 || waited == WAIT_FAILED)
                break;
            WSAResetEvent(ready);
            SOCKET client = accept(m_socket, nullptr, nullptr);
            if (client == INVALID_SOCKET)
                continue;
            HRESULT served = Serve(client, state, answer);
            closesocket(client);
            if (served != S_FALSE) {
                result = served;
                break;
            }
        }
        WSACloseEvent(ready);
        return result;
    });
    Close();
    return hr;
}

HRESULT LoopbackListener::Serve(SOCKET client, std::wstring_view state, LoopbackAnswer& answer) {
    // The accepted socket inherits the listener's event selection.
    WSAEventSelect(client, nullptr, 0);
    u_long blocking = 0;
    ioctlsocket(client, FIONBIO, &blocking);
    DWORD receiveTimeout = kReceiveTimeout;
    setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&receiveTimeout),
               sizeof(receiveTimeout));
    std::string head = ReadHead(client);
    std::string_view line(head.data(), std::min(head.find("\r\n"), head.size()));
    size_t space = line.find(' ');
    size_t second = line.find(' ', space == std::string_view::npos ? line.size() : space + 1);
    if (space == std::string_view::npos || second == std::string_view::npos) {
        SendPage(client, "400 Bad Request", "Bad request.");
        return S_FALSE;
    }
    std::string_view method = line.substr(0, space);
    std::string_view target = line.substr(space + 1, second - space - 1);
    size_t question = target.find('?');
    std::string_view path = target.substr(0, question);
    std::string_view query =
        question == std::string_view::npos ? std::string_view() : target.substr(question + 1);
    if (path != "/") {
        SendPage(client, "404 Not Found", "Not found.");
        return S_FALSE;
    }
    if (method != "GET") {
        SendPage(client, "405 Method Not Allowed", "Method not allowed.");
        return S_FALSE;
    }
    bool hasState = false, hasCode = false, hasError = false;
    std::wstring echoed = QueryValue(query, "state", hasState);
    LoopbackAnswer received;
    received.code = QueryValue(query, "code", hasCode);
    received.error = QueryValue(query, "error", hasError);
    if (!hasState || echoed != state || (received.code.empty() && received.error.empty())) {
        SendPage(client, "400 Bad Request", "This is not the answer the sign-in is waiting for.");
        return S_FALSE;
    }
    SendPage(client, "200 OK",
             received.error.empty()
                 ? "You are signed in. You can close this window and return to the editor."
                 : "The sign-in was not completed. You can close this window and return to the "
                   "editor.");
    answer = std::move(received);
    return S_OK;
}

} // namespace gd
