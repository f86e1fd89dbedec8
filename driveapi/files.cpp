#include "driveapi/files.h"

#include "auth/endpoints.h"
#include "driveapi/drive_errors.h"
#include "driveapi/request_common.h"
#include "errors/check.h"
#include "http/one_shot.h"

#include <set>

namespace gd {

namespace {

// Fetches one page and parses it; failures come back mapped.
HRESULT GetJson(const std::wstring& path, const std::wstring& headers,
                rapidjson::Document& document, HRESULT notJson) {
    MemoryStream body;
    HRESULT hr = HttpGetToStream(DriveApiEndpoint(), path.c_str(), body, headers.c_str());
    if (FAILED(hr))
        return MapDriveError(hr, BodyText(body));
    RETURN_HR_IF(notJson, !ParseJsonObject(BodyText(body), document));
    return S_OK;
}

HRESULT AppendItems(const rapidjson::Value& items, DriveListing& listing) {
    for (const rapidjson::Value& entry : items.GetArray()) {
        if (!entry.IsObject())
            continue;
        auto file = std::make_shared<DriveFile>();
        if (SUCCEEDED(FillDriveFile(entry, *file)) && !file->item->trashed)
            listing.files.push_back(std::move(file));
    }
    return S_OK;
}

std::wstring FirstListingPath(const DriveFile* folder) {
    std::wstring path = L"/drive/v2/files/?corpus=DEFAULT&maxResults=1000&q='";
    path += folder ? folder->id : L"root";
    path += L"'+in+parents";
    return path;
}

} // namespace

std::wstring PathOfUrl(const std::wstring& url) {
    size_t scheme = url.find(L"://");
    size_t hostStart = scheme == std::wstring::npos ? 0 : scheme + 3;
    size_t path = url.find(L'/', hostStart);
    return path == std::wstring::npos ? std::wstring() : url.substr(path);
}

HRESULT GetFile(const std::wstring& token, const std::wstring& fileId,
                std::shared_ptr<DriveFile>& file) {
    RETURN_IF_FAILED(CheckFileId(fileId));
    return RunGuarded([&]() -> HRESULT {
        rapidjson::Document document;
        RETURN_IF_FAILED(GetJson(L"/drive/v2/files/" + fileId, BearerHeaderLine(token), document,
                                 GD_E_UNEXPECTED));
        auto result = std::make_shared<DriveFile>();
        result->item = std::make_shared<DriveItem>();
        RETURN_IF_FAILED(ParseFileResource(document, result->item.get()));
        result->id = fileId;
        file = std::move(result);
        return S_OK;
    });
}

HRESULT ListChildren(const std::wstring& token, DriveListing& listing, const DriveFile* folder) {
    if (folder)
        RETURN_IF_FAILED(CheckFileId(folder->id));
    return RunGuarded([&]() -> HRESULT {
        std::wstring headers = BearerHeaderLine(token);
        std::wstring path = FirstListingPath(folder);
        // A server that names a page again would make the listing loop.
        std::set<std::wstring> followed{path};
        while (!path.empty()) {
            rapidjson::Document page;
            RETURN_IF_FAILED(GetJson(path, headers, page, DRIVE_E_PARSE_ERROR));
            auto next = page.FindMember("nextLink");
            path = next != page.MemberEnd() && next->value.IsString()
                       ? PathOfUrl(FromUtf8Value(next->value))
                       : std::wstring();
            RETURN_HR_IF(GD_E_UNEXPECTED, !path.empty() && !followed.insert(path).second);
            auto items = page.FindMember("items");
            RETURN_HR_IF(DRIVE_E_PARSE_ERROR, items == page.MemberEnd() || !items->value.IsArray());
            RETURN_IF_FAILED(AppendItems(items->value, listing));
        }
        return S_OK;
    });
}

} // namespace gd
