// Test-side access to the Drive emulator that the CTest fixture runs on the
// Linux side. The control calls use plain WinINet, independent of the code
// under test.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <map>
#include <string>
#include <vector>

namespace gd::test {

struct ServerAddress {
    std::wstring host; // "127.0.0.1"
    INTERNET_PORT port = 0;
};

// Reads "<kind>.addr" ("host:port") from the fixture's state folder
// (GD_EMULATOR_STATE). kind: "http", "https" or "ftp". Fails the test when absent.
ServerAddress EmulatorAddress(const char* kind = "http");

// A file of the fixture's state folder, as a Windows path.
std::wstring EmulatorStatePath(const wchar_t* file);

// Sends one request to the control interface on the plain HTTP port and
// returns the response body; a transport failure or a status >= 400 fails the test.
std::string EmulatorControl(const wchar_t* verb, const wchar_t* path, const std::string& body = {});

// Clears the request log and every scripted fault.
void ResetEmulator();

// Scripts a fault: one JSON object as the emulator's README describes.
void AddFault(const std::string& json);

struct LoggedRequest {
    std::string method;
    std::string path;                           // with the query
    std::map<std::string, std::string> headers; // names in lower case
    std::string body;
    int client_port = 0; // the connection it came on
};

// Every request the emulator received since the last reset, oldest first
// (control requests excluded).
std::vector<LoggedRequest> RequestLog();

} // namespace gd::test
