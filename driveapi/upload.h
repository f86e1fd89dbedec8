// Sending to Drive: new file entries from metadata, and content through a
// resumable upload session in chunks that resume where Drive stopped.
#pragma once

#include "driveapi/drive_item.h"
#include "driveapi/request_common.h"
#include "http/inet_handles.h"

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace gd {

// The JSON body of a new entry, as UTF-8: members only for what is given, no
// blanks but after the colons. Nothing at all to send gives 0x82220001.
HRESULT WriteMetadataJson(const DriveFile* parent, const std::wstring& title,
                          const std::wstring& description, const std::wstring& mimeType,
                          std::string& body);

// POST /drive/v2/files; the new entry comes back with its id and item.
HRESULT CreateFileMetadata(const std::wstring& token, const DriveFile* parent,
                           const std::wstring& title, const std::wstring& description,
                           const std::wstring& mimeType, std::shared_ptr<DriveFile>& file);

// PUT .../files/<id>?uploadType=resumable; yields the session URL.
HRESULT StartResumableUpload(const std::wstring& token, const DriveFile& file, std::int64_t size,
                             std::wstring& sessionUrl);

// Bytes per content request: a multiple of 256 KiB, as Drive asks of every
// chunk but the last.
inline constexpr DWORD kUploadChunk = 8 * 1024 * 1024;
// One chunk is taken up again after a dropped connection or a Range short of
// what was sent at most twice this often.
inline constexpr unsigned kMaxChunkResumes = 5;
// Bytes per socket send of a chunk's body.
inline constexpr DWORD kSendPiece = 256 * 1024;

// Feeds an upload session in chunks of kUploadChunk (one held in memory at a
// time), each a request with its Content-Range; Drive's 308 answers say what
// it kept. After a dropped connection or a server error the session's status
// is asked and the upload goes on from the byte Drive reports. Drive commits
// a session the moment its last byte arrives, so the last chunk (or, for
// empty content, the only request) goes out only in Finish: a writer dropped
// before then leaves the file as it was.
class DriveUploadWriter {
public:
    DriveUploadWriter() = default;
    DriveUploadWriter(const DriveUploadWriter&) = delete;
    DriveUploadWriter& operator=(const DriveUploadWriter&) = delete;
    // A writer never finished abandons its session.
    ~DriveUploadWriter();

    // Only writes of the announced size in total are accepted; a full chunk
    // that is not the last is sent before Write returns.
    HRESULT Write(const void* data, DWORD count, DWORD* written);
    // Sends the last chunk and reads the answer. A byte count other than the
    // announced one abandons the session and sends nothing.
    HRESULT Finish();
    std::int64_t Written() const { return m_written; }
    std::int64_t Announced() const { return m_announced; }
    // Each content request takes its token through runner (by default the
    // token the writer began with).
    void UseRunner(RequestRunner runner) { m_runner = std::move(runner); }

private:
    friend HRESULT BeginContentUpload(const std::wstring&, const std::wstring&, std::int64_t,
                                      std::unique_ptr<DriveUploadWriter>&);
    void Abandon();
    // Sends the held chunk until Drive has kept all of it (last: and committed).
    HRESULT SendChunk(bool last);
    // One request from byte from of the chunk on; ask: the status query
    // instead. kept receives what Drive reports, done whether it committed.
    HRESULT Put(const std::wstring& token, std::int64_t from, bool ask, std::int64_t& kept,
                bool& done);
    HRESULT OpenConnection();

    RequestRunner m_runner;
    UrlParts m_url;
    InetSession m_session;
    InetConnection m_connection;
    std::vector<BYTE> m_chunk;
    std::int64_t m_chunk_start = 0; // where the held chunk begins in the content
    std::int64_t m_announced = 0;
    std::int64_t m_written = 0;
    bool m_finished = false;
};

// Opens the content request on the session URL with its own scheme and port.
// Only https, or http on a loopback host under the emulator override; anything
// else is 0x80070057 before the token is sent.
HRESULT BeginContentUpload(const std::wstring& token, const std::wstring& sessionUrl,
                           std::int64_t size, std::unique_ptr<DriveUploadWriter>& writer);

// StartResumableUpload, then BeginContentUpload, each through runner.
HRESULT OpenUpload(const RequestRunner& runner, const DriveFile& file, std::int64_t size,
                   std::unique_ptr<DriveUploadWriter>& writer);

} // namespace gd
