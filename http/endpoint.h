// Where a request goes: one value in place of a bare host name.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <string>

namespace gd {

struct Endpoint {
    std::wstring host;
    INTERNET_PORT port = INTERNET_DEFAULT_HTTPS_PORT;
    bool secure = true;
};

} // namespace gd
