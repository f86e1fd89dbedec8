// The signed-in user's id and display name.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

namespace gd {

struct DriveUserInfo {
    std::wstring id;
    std::wstring name;
};

// GET /oauth2/v2/userinfo with the bearer token.
HRESULT GetUserInfo(const std::wstring& token, std::shared_ptr<DriveUserInfo>& info);

} // namespace gd
