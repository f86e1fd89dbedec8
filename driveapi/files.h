// Fetching one file's metadata and listing a folder's children.
#pragma once

#include "driveapi/drive_item.h"

#include <windows.h>

#include <memory>
#include <set>
#include <string>

namespace gd {

// GET /drive/v2/files/<id>; the new file carries the requested id.
HRESULT GetFile(const std::wstring& token, const std::wstring& fileId,
                std::shared_ptr<DriveFile>& file);

// A folder's listing asked for page by page: each page names the next.
class ListingPages {
public:
    // folder null: the root of the drive. An invalid id fails every page
    // before any request.
    explicit ListingPages(const DriveFile* folder);

    // No page is left to ask for.
    bool Done() const { return m_path.empty(); }
    // Asks for the next page and appends its children that are not trashed.
    // A failed request leaves the page to be asked again; a page whose items
    // cannot be read, or one that names an earlier page again, ends the
    // listing.
    HRESULT FetchPage(const std::wstring& token, DriveListing& listing);

private:
    HRESULT m_folder_check;
    std::wstring m_path;
    std::set<std::wstring> m_followed;
};

// Appends every child of folder (null: the root of the drive) that is not
// trashed, page by page; each next page is asked of the API host.
HRESULT ListChildren(const std::wstring& token, DriveListing& listing, const DriveFile* folder);

// The path and query of a URL: everything from the first "/" after its host.
std::wstring PathOfUrl(const std::wstring& url);

} // namespace gd
