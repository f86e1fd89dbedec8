// Fetching one file's metadata and listing a folder's children.
#pragma once

#include "driveapi/drive_item.h"

#include <windows.h>

#include <memory>
#include <string>

namespace gd {

// GET /drive/v2/files/<id>; the new file carries the requested id.
HRESULT GetFile(const std::wstring& token, const std::wstring& fileId,
                std::shared_ptr<DriveFile>& file);

// Appends every child of folder (null: the root of the drive) that is not
// trashed, page by page; each next page is asked of the API host.
HRESULT ListChildren(const std::wstring& token, DriveListing& listing, const DriveFile* folder);

// The path and query of a URL: everything from the first "/" after its host.
std::wstring PathOfUrl(const std::wstring& url);

} // namespace gd
