#include "drivefs/drive_stream.h"

#include "driveapi/account_requests.h"
#include "driveapi/files.h"
#include "driveapi/retry.h"
#include "drivefs/fs_errors.h"
#include "errors/check.h"

#include <algorithm>
#include <cstring>

namespace gd {
namespace {

constexpr DWORD kExportStep = 64 * 1024;

// A Google-native document's export, read from memory.
class ExportReader : public DriveReader {
public:
    explicit ExportReader(std::shared_ptr<const std::vector<BYTE>> bytes)
        : m_bytes(std::move(bytes)) {}

    HRESULT Read(void* buffer, DWORD count, DWORD* read) override {
        DWORD got = static_cast<DWORD>(std::min<std::size_t>(count, Left()));
        if (got != 0)
            std::memcpy(buffer, m_bytes->data() + m_position, got);
        m_position += got;
        *read = got;
        return S_OK;
    }
    HRESULT Skip(ULONGLONG count, ULONGLONG* skipped) override {
        ULONGLONG moved = std::min<ULONGLONG>(count, Left());
        m_position += static_cast<std::size_t>(moved);
        if (skipped)
            *skipped = moved;
        return S_OK;
    }

private:
    std::size_t Left() const { return m_bytes->size() - m_position; }

    std::shared_ptr<const std::vector<BYTE>> m_bytes;
    std::size_t m_position = 0;
};

bool IsEndOfData(HRESULT hr) {
    return FAILED(hr) && CodeOf(hr) == CodeOf(INET_E_END_OF_DATA);
}

} // namespace

HRESULT CheckCancel(Lumo::IAfsProgress* progress, const void* buffer, ULONG count) {
    if (progress == nullptr)
        return S_OK;
    VARIANT_BOOL cancel = VARIANT_FALSE;
    progress->QueryCancel(&cancel, buffer, count);
    RETURN_HR_IF(GD_E_CANCELLED, cancel != VARIANT_FALSE);
    return S_OK;
}

HRESULT DriveStream::Create(const std::shared_ptr<DriveFile>& file,
                            std::shared_ptr<DriveAccount> account,
                            std::shared_ptr<DriveStream>* stream) {
    RETURN_HR_IF_NULL(E_POINTER, stream);
    RETURN_HR_IF(GD_E_INVALID_ARG, !file || !account);
    return RunGuarded([&] {
        *stream =
            std::make_shared<DriveStream>(std::make_shared<DriveFile>(*file), std::move(account));
        return S_OK;
    });
}

DriveStream::DriveStream(std::shared_ptr<DriveFile> file, std::shared_ptr<DriveAccount> account)
    : m_file(std::move(file)), m_account(std::move(account)) {}

std::shared_ptr<DriveFile> DriveStream::File() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_file;
}

bool DriveStream::IsExported() const {
    return m_file->item && m_file->item->download_url.empty() &&
           !m_file->item->pdf_export_link.empty();
}

HRESULT DriveStream::EnsureItem() {
    if (m_file->item)
        return S_OK;
    return FetchSize(nullptr);
}

// Drive exports at most 10 MB; one byte more than that is refused.
HRESULT DriveStream::Export() {
    if (m_export)
        return S_OK;
    return RunGuarded([&]() -> HRESULT {
        std::unique_ptr<DriveReader> link;
        RETURN_IF_FAILED(OpenAccountReader(m_account, m_file, link));
        auto bytes = std::make_shared<std::vector<BYTE>>();
        for (;;) {
            RETURN_HR_IF(DRIVEFS_E_EXPORT_TOO_LARGE, bytes->size() > kMaxExportSize);
            std::size_t at = bytes->size();
            bytes->resize(at + kExportStep);
            DWORD got = 0;
            HRESULT hr = link->Read(bytes->data() + at, kExportStep, &got);
            bytes->resize(at + got);
            if (IsEndOfData(hr) || (SUCCEEDED(hr) && got == 0))
                break;
            RETURN_IF_FAILED(hr);
        }
        bytes->shrink_to_fit();
        m_export = std::move(bytes);
        return S_OK;
    });
}

HRESULT DriveStream::OpenReader() {
    DropReader();
    RETURN_IF_FAILED(EnsureItem());
    if (IsExported()) {
        RETURN_IF_FAILED(Export());
        m_reader = std::make_unique<ExportReader>(m_export);
        return S_OK;
    }
    RETURN_IF_FAILED(OpenAccountReader(m_account, m_file, m_reader));
    RETURN_HR_IF(GD_E_UNEXPECTED, !m_reader);
    return S_OK;
}

void DriveStream::DropReader() {
    m_reader.reset();
    m_read_position = 0;
}

bool DriveStream::RunsAhead() const {
    return m_file->item && !m_file->item->download_url.empty();
}

void DriveStream::DropRun() {
    if (!m_run)
        return;
    m_run.reset();
    // WinINet would otherwise keep reading the rest of the body to reuse
    // the connection.
    m_run_connection.Close();
}

// A failed open is the read's answer. A run that fails, or ends short of the
// file's known size, is dropped and the rest of the read goes the plain way,
// which tells a cut or a short answer from the end exactly as without runs.
HRESULT DriveStream::ReadFromRun(std::int64_t position, BYTE* buffer, DWORD count, DWORD& got) {
    if (!m_run) {
        auto run = std::make_unique<DriveRangeRun>();
        RETURN_IF_FAILED(RunWithRetry(*m_account, [&](const std::wstring& token) {
            return run->Open(token, *m_file, position, m_run_connection);
        }));
        m_run = std::move(run);
    }
    HRESULT hr = m_run->Read(buffer, count, got);
    if (SUCCEEDED(hr) && (got == count || m_run->Position() >= m_file->item->file_size))
        return S_OK;
    DropRun();
    DWORD more = 0;
    hr = ReadPlain(position + got, buffer + got, count - got, more);
    got += more;
    return hr;
}

HRESULT DriveStream::ReadPlain(std::int64_t position, BYTE* buffer, DWORD count, DWORD& got) {
    HRESULT hr = MoveTo(position);
    if (FAILED(hr)) {
        DropReader(); // its position is no longer known
        return hr;
    }
    hr = m_reader->Read(buffer, count, &got);
    m_read_position += got;
    return IsEndOfData(hr) ? S_OK : hr;
}

HRESULT DriveStream::MoveTo(std::int64_t position) {
    if (position < m_read_position)
        RETURN_IF_FAILED(OpenReader());
    ULONGLONG distance = static_cast<ULONGLONG>(position - m_read_position);
    if (distance == 0)
        return S_OK;
    ULONGLONG skipped = 0;
    RETURN_IF_FAILED(m_reader->Skip(distance, &skipped));
    m_read_position += static_cast<std::int64_t>(skipped);
    RETURN_HR_IF(GD_E_UNEXPECTED, skipped < distance);
    return S_OK;
}

HRESULT DriveStream::ReadAt(std::int64_t position, void* buffer, DWORD count, DWORD* read,
                            Lumo::IAfsProgress* progress) {
    RETURN_IF_FAILED(CheckCancel(progress, buffer, count));
    RETURN_HR_IF(E_INVALIDARG, count < 1 || position < 0);
    RETURN_HR_IF_NULL(E_POINTER, buffer);
    DWORD ignored = 0;
    DWORD& got = read != nullptr ? *read : ignored;
    got = 0;
    std::lock_guard<std::mutex> guard(m_lock);
    return RunGuarded([&]() -> HRESULT {
        if (!m_reader)
            RETURN_IF_FAILED(OpenReader());
        const bool sequential = position == m_last_end;
        m_last_end = -1;
        if (m_run && m_run->Position() != position)
            DropRun(); // a jump: a scattered read asks for what it needs
        BYTE* bytes = static_cast<BYTE*>(buffer);
        HRESULT hr = RunsAhead() && (m_run || sequential) ? ReadFromRun(position, bytes, count, got)
                                                          : ReadPlain(position, bytes, count, got);
        if (FAILED(hr))
            return hr;
        if (got > 0) {
            m_last_end = position + got;
            return S_OK;
        }
        DropRun();
        DropReader();
        return HRESULT_FROM_WIN32(ERROR_HANDLE_EOF);
    });
}

HRESULT DriveStream::AnnounceSize(std::int64_t size, Lumo::IAfsProgress* progress) {
    RETURN_IF_FAILED(CheckCancel(progress));
    RETURN_HR_IF(E_INVALIDARG, size < 0);
    std::lock_guard<std::mutex> guard(m_lock);
    m_announced = size;
    m_size_announced = true;
    return S_OK;
}

HRESULT DriveStream::GetSize(std::int64_t* size) {
    RETURN_HR_IF(GD_E_MISSING, !m_file || !m_account);
    std::lock_guard<std::mutex> guard(m_lock);
    return FetchSize(size);
}

// The item fetched once serves every later size and seek, until a write.
HRESULT DriveStream::FetchSize(std::int64_t* size) {
    RETURN_HR_IF(GD_E_MISSING, !m_file || !m_account);
    return RunGuarded([&]() -> HRESULT {
        if (!m_fetched && !(IsExported() && m_export)) {
            std::shared_ptr<DriveFile> fetched;
            RETURN_IF_FAILED(RunWithRetry(*m_account, [&](const std::wstring& token) {
                return GetFile(token, m_file->id, fetched);
            }));
            RETURN_HR_IF(GD_E_UNEXPECTED, !fetched || !fetched->item);
            m_file->item = fetched->item;
            m_fetched = true;
        }
        // A Google-native document is as large as its export.
        if (IsExported())
            RETURN_IF_FAILED(Export());
        if (size != nullptr)
            *size = IsExported() ? static_cast<std::int64_t>(m_export->size())
                                 : m_file->item->file_size;
        return S_OK;
    });
}

bool DriveStream::WritingSize(std::int64_t* size) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (!m_writer)
        return false;
    *size = std::max<std::int64_t>(m_announced, static_cast<std::int64_t>(m_write_position));
    return true;
}

HRESULT DriveStream::BeginWrite(Lumo::IAfsProgress* progress) {
    RETURN_IF_FAILED(CheckCancel(progress));
    std::lock_guard<std::mutex> guard(m_lock);
    m_writer.reset();
    RETURN_HR_IF(GD_E_MISSING, !m_file || !m_account);
    // The upload's length is the announced size: without one there is none.
    RETURN_HR_IF(DRIVEFS_E_OUT_OF_ORDER, !m_size_announced);
    m_write_position = 0;
    RETURN_IF_FAILED(RunGuarded(
        [&] { return OpenAccountUpload(m_account, m_file.get(), m_announced, m_writer); }));
    DropRun();
    DropReader();
    m_last_end = -1;
    m_fetched = false; // the content is about to change
    return S_OK;
}

HRESULT DriveStream::WriteAt(std::uint64_t position, const void* data, DWORD count, DWORD* written,
                             Lumo::IAfsProgress* progress) {
    DWORD ignored = 0;
    DWORD& sent = written != nullptr ? *written : ignored;
    sent = 0;
    RETURN_HR_IF_NULL(E_POINTER, data);
    RETURN_IF_FAILED(CheckCancel(progress, data, count));
    RETURN_HR_IF(GD_E_INVALID_ARG, count < 1);
    std::lock_guard<std::mutex> guard(m_lock);
    RETURN_HR_IF(DRIVEFS_E_OUT_OF_ORDER, position != m_write_position);
    RETURN_HR_IF(GD_E_MISSING, !m_writer);
    HRESULT hr = RunGuarded([&] { return m_writer->Write(data, count, &sent); });
    m_write_position += sent;
    return hr;
}

HRESULT DriveStream::Commit(Lumo::IAfsProgress* progress) {
    RETURN_IF_FAILED(CheckCancel(progress));
    std::lock_guard<std::mutex> guard(m_lock);
    RETURN_HR_IF(DRIVEFS_E_OUT_OF_ORDER, !m_writer);
    HRESULT hr = RunGuarded([&] { return m_writer->Finish(); });
    // Finished or abandoned, the session is over either way.
    m_writer.reset();
    m_size_announced = false;
    m_fetched = false;
    return hr;
}

} // namespace gd
