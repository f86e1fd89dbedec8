#include "driveapi/user_info.h"

#include "auth/endpoints.h"
#include "driveapi/drive_errors.h"
#include "driveapi/request_common.h"
#include "errors/check.h"
#include "http/one_shot.h"

namespace gd {

HRESULT GetUserInfo(const std::wstring& token, std::shared_ptr<DriveUserInfo>& info) {
    return RunGuarded([&]() -> HRESULT {
        MemoryStream body;
        std::wstring headers = BearerHeaderLine(token);
        HRESULT hr =
            HttpGetToStream(DriveApiEndpoint(), L"/oauth2/v2/userinfo", body, headers.c_str());
        if (FAILED(hr))
            return MapDriveError(hr, BodyText(body));
        rapidjson::Document document;
        RETURN_HR_IF(GD_E_UNEXPECTED, !ParseJsonObject(BodyText(body), document));
        auto result = std::make_shared<DriveUserInfo>();
        result->id = WideMember(document, "id");
        result->name = WideMember(document, "name");
        info = std::move(result);
        return S_OK;
    });
}

} // namespace gd
