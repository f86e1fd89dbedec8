// Drive's refusals as the plug-in's codes, and the translation of Drive's JSON
// error bodies into them.
#pragma once

#include "errors/codes.h"

#include <windows.h>

#include <string_view>

namespace gd {

constexpr HRESULT DRIVE_E_PARSE_ERROR = MakeError(kSubsystemPlugin, 0x1008);        // 0x82221008
constexpr HRESULT DRIVE_E_DAILY_LIMIT = MakeError(kSubsystemPlugin, 0x1009);        // 0x82221009
constexpr HRESULT DRIVE_E_USER_RATE_LIMIT = MakeError(kSubsystemPlugin, 0x100A);    // 0x8222100A
constexpr HRESULT DRIVE_E_RATE_LIMIT = MakeError(kSubsystemPlugin, 0x100B);         // 0x8222100B
constexpr HRESULT DRIVE_E_APP_NOT_AUTHORIZED = MakeError(kSubsystemPlugin, 0x100C); // 0x8222100C
constexpr HRESULT DRIVE_E_INSUFFICIENT_PERMISSIONS =
    MakeError(kSubsystemPlugin, 0x100D);                                          // 0x8222100D
constexpr HRESULT DRIVE_E_DOMAIN_POLICY = MakeError(kSubsystemPlugin, 0x100E);    // 0x8222100E
constexpr HRESULT DRIVE_E_MALWARE = MakeError(kSubsystemPlugin, 0x100F);          // 0x8222100F
constexpr HRESULT DRIVE_E_AUTH = MakeHttpStatusError(kSubsystemPlugin, 401);      // 0x82221191
constexpr HRESULT DRIVE_E_NOT_FOUND = MakeHttpStatusError(kSubsystemPlugin, 404); // 0x82221194

// The code for a failed request whose answer was body: a recognised Drive error
// gives its own code, anything else leaves code as it is. The reason is read
// from the error object, else from the first entry of its "errors" array.
HRESULT MapDriveError(HRESULT code, std::string_view body);

} // namespace gd
