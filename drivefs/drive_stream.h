// The content of one Drive file as the host reads and writes it: reads at
// any position over the readers of the download code, writes from start to
// end into one upload.
#pragma once

#include "driveapi/download.h"
#include "driveapi/drive_account.h"
#include "driveapi/drive_item.h"
#include "driveapi/upload.h"
#include "errors/codes.h"
#include "plugin/sdk/lumo.h"

#include <windows.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace gd {

// A Google-native document's PDF export larger than Drive exports.
constexpr HRESULT DRIVEFS_E_EXPORT_TOO_LARGE = MakeWin32Failure(ERROR_FILE_TOO_LARGE);
inline constexpr std::size_t kMaxExportSize = 10 * 1024 * 1024;

// 0x822204C7 when the host's progress object says the user cancelled.
HRESULT CheckCancel(Lumo::IAfsProgress* progress, const void* buffer = nullptr, ULONG count = 0);

// Duplicated handles share one stream: every operation holds its lock.
class DriveStream {
public:
    // Both are required (0x82220001 from Create otherwise). The stream works
    // on a copy of file, so that what it learns stays its own.
    static HRESULT Create(const std::shared_ptr<DriveFile>& file,
                          std::shared_ptr<DriveAccount> account,
                          std::shared_ptr<DriveStream>* stream);
    DriveStream(std::shared_ptr<DriveFile> file, std::shared_ptr<DriveAccount> account);

    HRESULT ReadAt(std::int64_t position, void* buffer, DWORD count, DWORD* read,
                   Lumo::IAfsProgress* progress);
    HRESULT WriteAt(std::uint64_t position, const void* data, DWORD count, DWORD* written,
                    Lumo::IAfsProgress* progress);
    HRESULT AnnounceSize(std::int64_t size, Lumo::IAfsProgress* progress);
    HRESULT GetSize(std::int64_t* size);
    HRESULT BeginWrite(Lumo::IAfsProgress* progress);
    HRESULT Commit(Lumo::IAfsProgress* progress);

    // While a write is open: the larger of the announced size and the bytes
    // written; false otherwise.
    bool WritingSize(std::int64_t* size);
    std::shared_ptr<DriveFile> File();

private:
    bool IsExported() const;
    HRESULT EnsureItem();
    HRESULT FetchSize(std::int64_t* size);
    HRESULT Export();
    HRESULT OpenReader();
    void DropReader();
    HRESULT MoveTo(std::int64_t position);
    // Whether sequential reads go through a run (binary content only).
    bool RunsAhead() const;
    HRESULT ReadFromRun(std::int64_t position, BYTE* buffer, DWORD count, DWORD& got);
    void DropRun();
    HRESULT ReadPlain(std::int64_t position, BYTE* buffer, DWORD count, DWORD& got);

    std::mutex m_lock;
    std::shared_ptr<DriveFile> m_file;
    std::shared_ptr<DriveAccount> m_account;
    // The item was fetched by this stream since its last write: sizes come from it.
    bool m_fetched = false;
    std::unique_ptr<DriveReader> m_reader;
    // Sequential reads: one open-ended range, read as the host consumes it.
    // The connection is declared first so that the run's request closes first.
    RangeConnection m_run_connection;
    std::unique_ptr<DriveRangeRun> m_run;
    std::int64_t m_last_end = -1; // where the previous read ended
    std::unique_ptr<DriveUploadWriter> m_writer;
    std::uint64_t m_write_position = 0;
    std::int64_t m_read_position = 0;
    std::int64_t m_announced = 0;
    bool m_size_announced = false;
    // A Google-native document's export, fetched once.
    std::shared_ptr<const std::vector<BYTE>> m_export;
};

} // namespace gd
