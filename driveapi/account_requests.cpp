#include "driveapi/account_requests.h"

#include "driveapi/files.h"
#include "driveapi/retry.h"
#include "errors/check.h"
#include "errors/codes.h"

namespace gd {

RequestRunner AccountRunner(std::shared_ptr<DriveAccount> account) {
    return [account = std::move(account)](const RequestKind& kind) -> HRESULT {
        RETURN_HR_IF(GD_E_MISSING, !account);
        return RunWithRetry(*account, kind);
    };
}

HRESULT OpenAccountReader(const std::shared_ptr<DriveAccount>& account,
                          std::shared_ptr<DriveFile> file, std::unique_ptr<DriveReader>& reader) {
    RETURN_HR_IF(GD_E_INVALID_ARG, !file);
    RETURN_HR_IF(GD_E_MISSING, !account);
    RETURN_IF_FAILED(EnsureAccessToken(*account));
    return OpenDriveReader(AccountRunner(account), std::move(file), reader);
}

HRESULT OpenAccountUpload(const std::shared_ptr<DriveAccount>& account, const DriveFile* file,
                          std::int64_t size, std::unique_ptr<DriveUploadWriter>& writer) {
    RETURN_HR_IF(GD_E_INVALID_ARG, !file);
    RETURN_HR_IF(GD_E_MISSING, !account);
    RETURN_IF_FAILED(EnsureAccessToken(*account));
    return OpenUpload(AccountRunner(account), *file, size, writer);
}

FolderEnumerator::FolderEnumerator(std::shared_ptr<DriveAccount> account,
                                   std::shared_ptr<DriveFile> folder)
    : m_account(std::move(account)), m_folder(std::move(folder)) {}

HRESULT FolderEnumerator::Start() {
    return RunGuarded([&]() -> HRESULT {
        m_pages = std::make_unique<ListingPages>(m_folder.get());
        m_listing = std::make_shared<DriveListing>();
        return FetchPage();
    });
}

HRESULT FolderEnumerator::FetchPage() {
    // Entries handed out already are not kept: memory stays at one page.
    m_listing->files.clear();
    m_cursor = 0;
    HRESULT hr = RunGuarded([&] {
        return RunWithRetry(*m_account, [&](const std::wstring& token) {
            return m_pages->FetchPage(token, *m_listing);
        });
    });
    if (FAILED(hr))
        m_pages.reset(); // later calls report the end
    return hr;
}

HRESULT FolderEnumerator::Next(std::shared_ptr<DriveFile>& entry) {
    entry.reset();
    RETURN_HR_IF(GD_E_MISSING, !m_account);
    if (!m_listing)
        RETURN_IF_FAILED(Start());
    while (m_cursor >= m_listing->files.size()) {
        if (!m_pages || m_pages->Done())
            return S_FALSE;
        RETURN_IF_FAILED(FetchPage());
    }
    entry = m_listing->files[m_cursor++];
    return S_OK;
}

HRESULT FolderEnumerator::Reset() {
    RETURN_HR_IF(GD_E_MISSING, !m_account);
    return Start();
}

} // namespace gd
