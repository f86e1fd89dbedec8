// The request kinds on a signed-in account: each attempt takes the account's
// current token through the retry driver.
#pragma once

#include "driveapi/download.h"
#include "driveapi/drive_account.h"
#include "driveapi/drive_item.h"
#include "driveapi/upload.h"

#include <windows.h>

#include <cstdint>
#include <memory>

namespace gd {

// A runner that runs each kind through RunWithRetry on account.
RequestRunner AccountRunner(std::shared_ptr<DriveAccount> account);

// Makes the account's token ready, then opens the reader that fits the file.
HRESULT OpenAccountReader(const std::shared_ptr<DriveAccount>& account,
                          std::shared_ptr<DriveFile> file, std::unique_ptr<DriveReader>& reader);

// Makes the account's token ready, then opens an upload session for the file.
HRESULT OpenAccountUpload(const std::shared_ptr<DriveAccount>& account, const DriveFile* file,
                          std::int64_t size, std::unique_ptr<DriveUploadWriter>& writer);

// The children of a folder (null: the root of the drive), fetched whole on
// the first Next and handed out in the service's order.
class FolderEnumerator {
public:
    FolderEnumerator(std::shared_ptr<DriveAccount> account, std::shared_ptr<DriveFile> folder);

    // S_OK with the next entry; S_FALSE past the end and after a failed fetch.
    HRESULT Next(std::shared_ptr<DriveFile>& entry);
    // Fetches the listing again at once and starts over.
    HRESULT Reset();

private:
    HRESULT Fetch();

    std::shared_ptr<DriveAccount> m_account;
    std::shared_ptr<DriveFile> m_folder;
    std::shared_ptr<DriveListing> m_listing;
    size_t m_cursor = 0;
};

} // namespace gd
