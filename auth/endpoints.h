// Google's endpoints, or the local emulator's when DRIVE_EMULATOR_HOST names a
// loopback host:port. The variable is read each time an endpoint is built.
#pragma once

#include "http/endpoint.h"

#include <optional>
#include <string>
#include <string_view>

namespace gd {

inline constexpr wchar_t kDriveApiHost[] = L"www.googleapis.com";
inline constexpr wchar_t kAuthorizationUrl[] = L"https://accounts.google.com/o/oauth2/auth";
inline constexpr wchar_t kDriveWebHost[] = L"drive.google.com";
inline constexpr wchar_t kDocsWebHost[] = L"docs.google.com";

// host:port with a loopback host (127.0.0.0/8, localhost, [::1]) and a port
// 1-65535; anything else is ignored, so a token never leaves the machine.
std::optional<Endpoint> ParseEmulatorHost(std::wstring_view text);
// The override in force now, if any.
std::optional<Endpoint> EmulatorEndpoint();

// Drive v2/v3, uploads, userinfo, token and tokeninfo.
Endpoint DriveApiEndpoint();
// Base URL of the consent page.
std::wstring AuthorizationEndpointUrl();

} // namespace gd
