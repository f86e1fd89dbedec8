// The request kinds on a signed-in account: each attempt takes the account's
// current token through the retry driver.
#pragma once

#include "driveapi/download.h"
#include "driveapi/drive_account.h"
#include "driveapi/drive_item.h"
#include "driveapi/files.h"
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

// The children of a folder (null: the root of the drive), handed out in the
// service's order. The first Next asks for the first page; each further page
// is asked for only when the entries of the one before are all handed out,
// so a caller that stops taking entries stops the listing.
class FolderEnumerator {
public:
    FolderEnumerator(std::shared_ptr<DriveAccount> account, std::shared_ptr<DriveFile> folder);

    // S_OK with the next entry; S_FALSE past the end and after a failed fetch.
    HRESULT Next(std::shared_ptr<DriveFile>& entry);
    // Asks for the first page again at once and starts over.
    HRESULT Reset();

private:
    HRESULT Start();
    // Replaces the current page's entries by the next page's.
    HRESULT FetchPage();

    std::shared_ptr<DriveAccount> m_account;
    std::shared_ptr<DriveFile> m_folder;
    std::unique_ptr<ListingPages> m_pages;
    std::shared_ptr<DriveListing> m_listing;
    size_t m_cursor = 0;
};

} // namespace gd
