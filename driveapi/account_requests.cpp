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

HRESULT FolderEnumerator::Fetch() {
    return RunGuarded([&]() -> HRESULT {
        m_listing = std::make_shared<DriveListing>();
        m_cursor = 0;
        HRESULT hr = RunWithRetry(*m_account, [&](const std::wstring& token) {
            // A failed attempt's entries must not add to the next attempt's.
            m_listing->files.clear();
            return ListChildren(token, *m_listing, m_folder.get());
        });
        if (FAILED(hr))
            m_listing->files.clear(); // later calls report the end
        return hr;
    });
}

HRESULT FolderEnumerator::Next(std::shared_ptr<DriveFile>& entry) {
    entry.reset();
    RETURN_HR_IF(GD_E_MISSING, !m_account);
    if (!m_listing)
        RETURN_IF_FAILED(Fetch());
    if (m_cursor >= m_listing->files.size())
        return S_FALSE;
    entry = m_listing->files[m_cursor++];
    return S_OK;
}

HRESULT FolderEnumerator::Reset() {
    RETURN_HR_IF(GD_E_MISSING, !m_account);
    return Fetch();
}

} // namespace gd
