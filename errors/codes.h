// Result codes: composition and the codes shared across the plug-in.
#pragma once

#include <windows.h>

namespace gd {

// Bits 31-30 severity, bit 25 own-code flag, bits 24-16 subsystem, 15-0 code.
constexpr unsigned kSeverityError = 2;
constexpr unsigned kOwnCodeFlag = 0x02000000u;
constexpr unsigned kSubsystemCommon = 0;
constexpr unsigned kSubsystemIo = 2;
constexpr unsigned kSubsystemInetUtils = 33;
constexpr unsigned kSubsystemPlugin = 34;
constexpr unsigned kSubsystemOperatingSystem = 511;

constexpr HRESULT MakeResult(unsigned severity, unsigned subsystem, unsigned code) {
    return static_cast<HRESULT>((severity << 30) | kOwnCodeFlag | ((subsystem & 0x1FFu) << 16) |
                                (code & 0xFFFFu));
}
constexpr HRESULT MakeError(unsigned subsystem, unsigned code) {
    return MakeResult(kSeverityError, subsystem, code);
}
constexpr unsigned SeverityOf(HRESULT hr) {
    return static_cast<unsigned>(hr) >> 30;
}
constexpr unsigned SubsystemOf(HRESULT hr) {
    return (static_cast<unsigned>(hr) >> 16) & 0x1FFu;
}
constexpr unsigned CodeOf(HRESULT hr) {
    return static_cast<unsigned>(hr) & 0xFFFFu;
}
constexpr bool IsOwnCode(HRESULT hr) {
    return (static_cast<unsigned>(hr) & kOwnCodeFlag) != 0;
}

// Plug-in (subsystem 34).
constexpr HRESULT GD_E_INVALID_ARG = MakeError(kSubsystemPlugin, 0x0001); // 0x82220001
constexpr HRESULT GD_E_MISSING = MakeError(kSubsystemPlugin, 0x0010);     // 0x82220010
constexpr HRESULT GD_E_UNEXPECTED = MakeError(kSubsystemPlugin, 0x0011);  // 0x82220011
constexpr HRESULT GD_E_OUTOFMEMORY = MakeError(kSubsystemPlugin, 0x03E8); // 0x822203E8
constexpr HRESULT GD_E_CANCELLED = MakeError(kSubsystemPlugin, 0x04C7);   // 0x822204C7

// HTTP layer (subsystem 33).
constexpr HRESULT INET_E_END_OF_DATA = MakeError(kSubsystemInetUtils, 0x001B);     // 0x8221001B
constexpr HRESULT INET_E_INTERNAL = MakeError(kSubsystemInetUtils, 0x0011);        // 0x82210011
constexpr HRESULT INET_E_OUTOFMEMORY = MakeError(kSubsystemInetUtils, 0x03E8);     // 0x822103E8
constexpr HRESULT INET_E_OPTION_NOT_OPEN = MakeError(kSubsystemInetUtils, 0x1002); // 0x82211002
constexpr HRESULT INET_E_NOT_OPEN = MakeError(kSubsystemInetUtils, 0x1003);        // 0x82211003

// IO library (subsystem 2): a fixed buffer cannot grow.
constexpr HRESULT IO_E_UNSUPPORTED = MakeError(kSubsystemIo, 0x0009); // 0x82020009

// Failed Win32 calls of the transport: 0x83FF0000 | (error & 0xFFFF).
constexpr HRESULT MakeWin32Failure(DWORD error) {
    return static_cast<HRESULT>(0x83FF0000u | (error & 0xFFFFu));
}

// HTTP status 300-599 as a code of the given subsystem: 0x1000 + status.
constexpr HRESULT MakeHttpStatusError(unsigned subsystem, unsigned status) {
    return MakeError(subsystem, (status + 0x1000u) & 0xFFFFu);
}

// Any failure whose low 16 bits are 1223 (ERROR_CANCELLED) is a cancellation:
// nobody shows a message for it.
constexpr bool IsCancellation(HRESULT hr) {
    return hr < 0 && CodeOf(hr) == 1223;
}

} // namespace gd
