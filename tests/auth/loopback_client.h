// A plain client of the sign-in's loopback listener, over a socket of its own.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <string>

namespace gd::test {

// One GET of target at 127.0.0.1:port: the status line ("HTTP/1.1 404 Not
// Found"), or "" when nobody listens there.
inline std::string LoopbackStatus(USHORT port, const std::string& target) {
    WSADATA data{};
    WSAStartup(MAKEWORD(2, 2), &data);
    std::string status;
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    if (connect(s, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0) {
        std::string request = "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
        send(s, request.data(), static_cast<int>(request.size()), 0);
        std::string answer;
        char buffer[1024];
        for (int got; (got = recv(s, buffer, sizeof(buffer), 0)) > 0;)
            answer.append(buffer, static_cast<size_t>(got));
        status = answer.substr(0, answer.find("\r\n"));
    }
    closesocket(s);
    WSACleanup();
    return status;
}

} // namespace gd::test
