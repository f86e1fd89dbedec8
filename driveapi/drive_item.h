// The metadata of Drive files and folders as the plug-in keeps them.
#pragma once

#include <windows.h>

#include <rapidjson/document.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace gd {

struct DriveItem {
    std::wstring title;
    bool is_folder = false;
    std::int64_t file_size = 0;
    FILETIME modified{};
    FILETIME created{};
    // Set by whoever creates a new file; never read from a resource.
    std::wstring description;
    std::wstring mime_type;
    std::wstring owner_names; // joined with ","
    bool parent_is_root = false;
    std::wstring parent_id;
    std::wstring download_url;
    std::wstring pdf_export_link;
    std::wstring alternate_link;
    std::wstring web_content_link;
    bool trashed = false;
};

struct DriveFile {
    std::wstring id;
    std::shared_ptr<DriveItem> item;
};

// Files in the order the service listed them.
struct DriveListing {
    std::vector<std::shared_ptr<DriveFile>> files;
};

inline constexpr char kFolderMimeType[] = "application/vnd.google-apps.folder";

// Fills item from a file resource; missing or mistyped members keep defaults.
HRESULT ParseFileResource(const rapidjson::Value& resource, DriveItem* item);
// Reads "id" and the item (created when the file has none).
HRESULT FillDriveFile(const rapidjson::Value& resource, DriveFile& file);

} // namespace gd
