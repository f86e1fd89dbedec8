#include "auth/endpoints.h"

#include "http/encoding.h"

#include <windows.h>

namespace gd {
namespace {

// A decimal number of 1-5 digits no greater than max; -1 otherwise.
long ParseNumber(std::wstring_view text, long max) {
    unsigned long long value = 0;
    if (text.size() > 5 || !ParseDecimal(text, value))
        return -1;
    return value <= static_cast<unsigned long long>(max) ? static_cast<long>(value) : -1;
}

// A part of a dotted address in plain decimal. A leading zero would make the
// resolver read the part as octal ("0127" is 87), so it is refused.
long ParseAddressPart(std::wstring_view text) {
    if (text.size() > 3 || (text.size() > 1 && text[0] == L'0'))
        return -1;
    return ParseNumber(text, 255);
}

bool IsLoopbackIPv4(std::wstring_view host) {
    int parts = 0;
    while (!host.empty() || parts == 0) {
        size_t dot = host.find(L'.');
        long value = ParseAddressPart(host.substr(0, dot));
        if (value < 0 || (parts == 0 && value != 127))
            return false;
        ++parts;
        if (dot == std::wstring_view::npos)
            break;
        host.remove_prefix(dot + 1);
        if (host.empty())
            return false;
    }
    return parts == 4;
}

} // namespace

std::optional<Endpoint> ParseEmulatorHost(std::wstring_view text) {
    size_t colon = text.rfind(L':');
    if (colon == std::wstring_view::npos)
        return std::nullopt;
    std::wstring_view host = text.substr(0, colon);
    long port = ParseNumber(text.substr(colon + 1), 65535);
    if (port <= 0)
        return std::nullopt;
    if (host == L"[::1]")
        host = L"::1";
    else if (!EqualsIgnoringCase(host, L"localhost") && !IsLoopbackIPv4(host))
        return std::nullopt;
    return Endpoint{std::wstring(host), static_cast<INTERNET_PORT>(port), false};
}

std::optional<Endpoint> EmulatorEndpoint() {
    wchar_t value[64];
    DWORD length = GetEnvironmentVariableW(L"DRIVE_EMULATOR_HOST", value, 64);
    if (length == 0 || length >= 64)
        return std::nullopt;
    return ParseEmulatorHost(std::wstring_view(value, length));
}

Endpoint DriveApiEndpoint() {
    if (auto emulator = EmulatorEndpoint())
        return *emulator;
    return Endpoint{kDriveApiHost, INTERNET_DEFAULT_HTTPS_PORT, true};
}

std::wstring AuthorizationEndpointUrl() {
    auto emulator = EmulatorEndpoint();
    if (!emulator)
        return kAuthorizationUrl;
    std::wstring host = emulator->host == L"::1" ? L"[::1]" : emulator->host;
    return L"http://" + host + L":" + std::to_wstring(emulator->port) + L"/o/oauth2/auth";
}

} // namespace gd
