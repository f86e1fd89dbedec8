// Sending to Drive: new file entries from metadata, and content through a
// resumable upload session, streamed straight to the connection.
#pragma once

#include "driveapi/drive_item.h"
#include "driveapi/request_common.h"
#include "http/inet_handles.h"

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

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

// Feeds the content request of an upload session, then commits it. Drive
// commits a session the moment its last byte arrives, so that byte (or, for
// empty content, the request itself) goes out only in Finish: a writer
// dropped before then leaves the file as it was.
class DriveUploadWriter {
public:
    DriveUploadWriter() = default;
    DriveUploadWriter(const DriveUploadWriter&) = delete;
    DriveUploadWriter& operator=(const DriveUploadWriter&) = delete;
    // A writer never finished abandons its session.
    ~DriveUploadWriter();

    // Only writes of the announced size in total are accepted; the last byte
    // counts as written but is held back.
    HRESULT Write(const void* data, DWORD count, DWORD* written);
    // Sends what was held back, ends the request and reads its answer. A byte
    // count other than the announced one abandons the session without ending it.
    HRESULT Finish();
    std::int64_t Written() const { return m_written; }
    std::int64_t Announced() const { return m_announced; }

private:
    friend HRESULT BeginContentUpload(const std::wstring&, const std::wstring&, std::int64_t,
                                      std::unique_ptr<DriveUploadWriter>&);
    void Abandon();
    HRESULT StartSending();
    HRESULT Send(const BYTE* bytes, DWORD count, DWORD& sent);
    HRESULT SendHeldBack();

    // Declared so that the request closes first, the session last.
    InetSession m_session;
    InetConnection m_connection;
    InetRequest m_request;
    std::int64_t m_announced = 0;
    std::int64_t m_written = 0;
    BYTE m_held = 0;     // the last byte, once written
    bool m_sent = false; // the request's headers went out
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
