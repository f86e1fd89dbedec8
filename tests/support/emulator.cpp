#include "tests/support/emulator.h"

#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <cstdlib>
#include <memory>

namespace gd::test {
namespace {

struct InternetHandleCloser {
    void operator()(HINTERNET handle) const { InternetCloseHandle(handle); }
};
using InternetHandle = std::unique_ptr<void, InternetHandleCloser>;

struct FileCloser {
    void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using FileHandle = std::unique_ptr<void, FileCloser>;

std::wstring Environment(const wchar_t* name) {
    wchar_t buffer[1024];
    DWORD length = GetEnvironmentVariableW(name, buffer, ARRAYSIZE(buffer));
    if (length == 0 || length >= ARRAYSIZE(buffer)) {
        return {};
    }
    return std::wstring(buffer, length);
}

// The addr files and the control answers are ASCII.
std::wstring WidenAscii(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

bool ReadSmallFile(const std::wstring& path, std::string& text) {
    FileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.get() == INVALID_HANDLE_VALUE) {
        file.release();
        return false;
    }
    char buffer[256];
    DWORD read = 0;
    if (!ReadFile(file.get(), buffer, sizeof(buffer), &read, nullptr)) {
        return false;
    }
    text.assign(buffer, read);
    return true;
}

// "host:port" into an address; false when it is not one.
bool ParseAddress(std::string text, ServerAddress& address) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
        text.pop_back();
    }
    size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0) {
        return false;
    }
    char* end = nullptr;
    unsigned long port = std::strtoul(text.c_str() + colon + 1, &end, 10);
    if (*end != '\0' || port == 0 || port > 65535) {
        return false;
    }
    address.host = WidenAscii(text.substr(0, colon));
    address.port = static_cast<INTERNET_PORT>(port);
    return true;
}

bool ReadResponse(HINTERNET request, std::string& body) {
    char buffer[16384];
    DWORD read = 0;
    while (InternetReadFile(request, buffer, sizeof(buffer), &read)) {
        if (read == 0) {
            return true;
        }
        body.append(buffer, read);
    }
    return false;
}

std::string StringMember(const rapidjson::Value& object, const char* name) {
    if (!object.IsObject()) {
        return {};
    }
    auto member = object.FindMember(name);
    if (member == object.MemberEnd() || !member->value.IsString()) {
        return {};
    }
    return std::string(member->value.GetString(), member->value.GetStringLength());
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

bool FromHex(const std::string& hex, std::string& bytes) {
    if (hex.size() % 2 != 0) {
        return false;
    }
    bytes.clear();
    bytes.reserve(hex.size() / 2);
    for (size_t i = 0; i < hex.size(); i += 2) {
        int high = HexDigit(hex[i]);
        int low = HexDigit(hex[i + 1]);
        if (high < 0 || low < 0) {
            return false;
        }
        bytes.push_back(static_cast<char>(high * 16 + low));
    }
    return true;
}

LoggedRequest ToLoggedRequest(const rapidjson::Value& entry) {
    LoggedRequest request;
    request.method = StringMember(entry, "method");
    request.path = StringMember(entry, "path");
    auto headers = entry.FindMember("headers");
    if (headers != entry.MemberEnd() && headers->value.IsObject()) {
        for (const auto& header : headers->value.GetObject()) {
            if (header.value.IsString()) {
                request.headers[header.name.GetString()] = header.value.GetString();
            }
        }
    }
    auto port = entry.FindMember("client_port");
    if (port != entry.MemberEnd() && port->value.IsInt())
        request.client_port = port->value.GetInt();
    if (!FromHex(StringMember(entry, "body_hex"), request.body)) {
        ADD_FAILURE() << "request log: body_hex of " << request.method << " " << request.path
                      << " is not hex";
    }
    return request;
}

} // namespace

ServerAddress EmulatorAddress(const char* kind) {
    ServerAddress address;
    std::wstring state = Environment(L"GD_EMULATOR_STATE");
    if (state.empty()) {
        // Started by hand: the product's own override variable names the HTTP port.
        std::wstring host = Environment(L"DRIVE_EMULATOR_HOST");
        if (std::string(kind) == "http" && !host.empty() &&
            ParseAddress(std::string(host.begin(), host.end()), address)) {
            return address;
        }
        ADD_FAILURE() << "GD_EMULATOR_STATE is not set: the emulator fixture's state folder";
        return address;
    }
    std::wstring path = EmulatorStatePath(WidenAscii(std::string(kind) + ".addr").c_str());
    std::string text;
    if (!ReadSmallFile(path, text)) {
        ADD_FAILURE() << "cannot read " << path << " (is the emulator fixture running?)";
        return address;
    }
    if (!ParseAddress(text, address)) {
        ADD_FAILURE() << path << " holds no host:port: " << text;
    }
    return address;
}

std::wstring EmulatorStatePath(const wchar_t* file) {
    return Environment(L"GD_EMULATOR_STATE") + L"/" + file;
}

std::string EmulatorControl(const wchar_t* verb, const wchar_t* path, const std::string& body) {
    ServerAddress address = EmulatorAddress("http");
    if (address.port == 0) {
        return {};
    }
    InternetHandle session(
        InternetOpenW(L"gd-tests", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
    InternetHandle connection(session ? InternetConnectW(session.get(), address.host.c_str(),
                                                         address.port, nullptr, nullptr,
                                                         INTERNET_SERVICE_HTTP, 0, 0)
                                      : nullptr);
    const DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                        INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_NO_AUTO_REDIRECT;
    InternetHandle request(connection ? HttpOpenRequestW(connection.get(), verb, path, L"HTTP/1.1",
                                                         nullptr, nullptr, flags, 0)
                                      : nullptr);
    if (!request) {
        ADD_FAILURE() << "emulator control " << verb << " " << path
                      << ": cannot open a request, error " << GetLastError();
        return {};
    }
    const wchar_t* headers = L"Content-Type: application/json\r\n";
    if (!HttpSendRequestW(request.get(), headers, static_cast<DWORD>(-1),
                          const_cast<char*>(body.data()), static_cast<DWORD>(body.size()))) {
        ADD_FAILURE() << "emulator control " << verb << " " << path << ": send failed, error "
                      << GetLastError();
        return {};
    }
    DWORD status = 0;
    DWORD size = sizeof(status);
    if (!HttpQueryInfoW(request.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status,
                        &size, nullptr)) {
        ADD_FAILURE() << "emulator control " << verb << " " << path << ": no status, error "
                      << GetLastError();
        return {};
    }
    std::string answer;
    if (!ReadResponse(request.get(), answer)) {
        ADD_FAILURE() << "emulator control " << verb << " " << path << ": read failed, error "
                      << GetLastError();
        return {};
    }
    if (status >= 400) {
        ADD_FAILURE() << "emulator control " << verb << " " << path << ": status " << status << ": "
                      << answer;
    }
    return answer;
}

void ResetEmulator() {
    EmulatorControl(L"POST", L"/_emu/reset");
}

void AddFault(const std::string& json) {
    EmulatorControl(L"POST", L"/_emu/faults", json);
}

std::vector<LoggedRequest> RequestLog() {
    std::string text = EmulatorControl(L"GET", L"/_emu/log");
    rapidjson::Document document;
    document.Parse(text.c_str(), text.size());
    if (document.HasParseError() || !document.IsObject()) {
        ADD_FAILURE() << "unreadable request log: " << text;
        return {};
    }
    auto requests = document.FindMember("requests");
    if (requests == document.MemberEnd() || !requests->value.IsArray()) {
        ADD_FAILURE() << "request log without \"requests\": " << text;
        return {};
    }
    std::vector<LoggedRequest> log;
    for (const auto& entry : requests->value.GetArray()) {
        log.push_back(ToLoggedRequest(entry));
    }
    return log;
}

} // namespace gd::test
