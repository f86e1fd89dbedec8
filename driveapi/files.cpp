#include "driveapi/files.h"

#include "auth/endpoints.h"
#include "driveapi/drive_errors.h"
#include "driveapi/request_common.h"
#include "errors/check.h"
#include "http/one_shot.h"

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

ListingPages::ListingPages(const DriveFile* folder)
    : m_folder_check(folder ? CheckFileId(folder->id) : S_OK),
      m_path(FirstListingPath(folder)), m_followed{m_path} {}

HRESULT ListingPages::FetchPage(const std::wstring& token, DriveListing& listing) {
    RETURN_IF_FAILED(m_folder_check);
    RETURN_HR_IF(GD_E_UNEXPECTED, Done());
    return RunGuarded([&]() -> HRESULT {
        rapidjson::Document page;
        RETURN_IF_FAILED(GetJson(m_path, BearerHeaderLine(token), page, DRIVE_E_PARSE_ERROR));
        auto next = page.FindMember("nextLink");
        std::wstring path = next != page.MemberEnd() && next->value.IsString()
                                ? PathOfUrl(FromUtf8Value(next->value))
                                : std::wstring();
        // Past here the page ends the listing unless it is read whole.
        m_path.clear();
        // A server that names a page again would make the listing loop.
        RETURN_HR_IF(GD_E_UNEXPECTED, !path.empty() && !m_followed.insert(path).second);
        auto items = page.FindMember("items");
        RETURN_HR_IF(DRIVE_E_PARSE_ERROR, items == page.MemberEnd() || !items->value.IsArray());
        m_path = std::move(path);
        return AppendItems(items->value, listing);
    });
}

HRESULT ListChildren(const std::wstring& token, DriveListing& listing, const DriveFile* folder) {
    return RunGuarded([&]() -> HRESULT {
        ListingPages pages(folder);
        while (!pages.Done())
            RETURN_IF_FAILED(pages.FetchPage(token, listing));
        return S_OK;
    });
}

} // namespace gd
