// Reading a Drive file's content: ranged requests on one kept connection for
// binary files, the PDF export link for Google-native documents.
#pragma once

#include "driveapi/drive_item.h"
#include "driveapi/request_common.h"
#include "errors/codes.h"
#include "http/inet_handles.h"
#include "http/one_shot.h"

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

namespace gd {

// A ranged body cut off before its announced end: a failure, never the end.
constexpr HRESULT DRIVE_E_RANGE_CUT_OFF = INET_E_BODY_CUT_OFF;

// The session and connection kept between the ranges of one reader.
struct RangeConnection {
    InetSession session;
    InetConnection connection;
    void Close() {
        connection.Close();
        session.Close();
    }
};

// GET of bytes [first, end) of the file's media. A range at or past the end
// (416) reads 0 bytes with success; a 206 must start at first; a body shorter
// than announced gives DRIVE_E_RANGE_CUT_OFF.
HRESULT ReadRange(const std::wstring& token, const DriveFile& file, std::int64_t first,
                  std::int64_t end, void* buffer, DWORD& read, RangeConnection& connection);

// One open-ended ranged GET (bytes=first-) read only as fast as its caller
// consumes it: a run of sequential reads costs one round trip, and no memory
// beyond the caller's buffers.
class DriveRangeRun {
public:
    // A range at or past the end (416) opens an empty run; a 206 must start
    // at first; any other answer fails as ReadRange's does.
    HRESULT Open(const std::wstring& token, const DriveFile& file, std::int64_t first,
                 RangeConnection& connection);
    // count bytes, fewer only where the body ends; a body that ends before
    // its announced end gives DRIVE_E_RANGE_CUT_OFF.
    HRESULT Read(void* buffer, DWORD count, DWORD& read);
    std::int64_t Position() const { return m_position; }

private:
    InetRequest m_request;
    std::int64_t m_position = 0;
    std::int64_t m_left = 0; // of the announced body
};

class DriveReader {
public:
    virtual ~DriveReader() = default;
    virtual HRESULT Read(void* buffer, DWORD count, DWORD* read) = 0;
    virtual HRESULT Skip(ULONGLONG count, ULONGLONG* skipped) = 0;
};

class DriveRangeReader : public DriveReader {
public:
    DriveRangeReader(RequestRunner runner, std::shared_ptr<DriveFile> file);

    HRESULT Read(void* buffer, DWORD count, DWORD* read) override;
    // Moves the position only, up to the file's known size.
    HRESULT Skip(ULONGLONG count, ULONGLONG* skipped) override;
    std::int64_t Position() const { return m_position; }

private:
    HRESULT ReadOnce(BYTE* buffer, std::int64_t end, DWORD& read);
    // The position is at the size the file's metadata gives.
    bool AtKnownEnd() const;

    RequestRunner m_runner;
    std::shared_ptr<DriveFile> m_file;
    std::int64_t m_position = 0;
    RangeConnection m_connection;
};

class DriveLinkReader : public DriveReader {
public:
    // Opens the link, following redirects itself: the bearer token goes to
    // each hop only when MayCarryToken allows it, never along by default.
    HRESULT Open(const std::wstring& link, const std::wstring& token);

    // A body is whole when it reaches its announced length or, without one,
    // when it ends as a PDF does ("%%EOF" in its last 1024 bytes). Once per
    // reader a cut body is opened again and read on from the same byte; a
    // second cut is DRIVE_E_RANGE_CUT_OFF.
    HRESULT Read(void* buffer, DWORD count, DWORD* read) override;
    // Reads through a fixed 64 KiB buffer.
    HRESULT Skip(ULONGLONG count, ULONGLONG* skipped) override;

private:
    // One hop; location receives the next URL of a redirect, else stays empty.
    HRESULT OpenOnce(const std::wstring& url, const std::wstring& token, std::wstring& location);
    // Reads what the body has, up to count bytes; its end is no failure.
    HRESULT ReadRaw(BYTE* buffer, DWORD count, DWORD& read);
    // ReadRaw that keeps the tail and tells a cut end from a whole one.
    HRESULT ReadChecked(BYTE* buffer, DWORD count, DWORD& read);
    bool EndsWhole() const;
    // Opens the link again and passes over the bytes handed out already.
    HRESULT Reopen();

    // Declared so that the request closes first, the session last.
    InetSession m_session;
    InetConnection m_connection;
    InetRequest m_request;
    std::wstring m_link;
    std::wstring m_token;
    std::int64_t m_announced = -1;
    std::int64_t m_read = 0;
    std::string m_tail; // the last bytes read, for the end of a PDF
    bool m_reopened = false;
};

// Whether a link may receive the bearer token.
bool MayCarryToken(const std::wstring& link);

// A range reader when the file has a download URL, else a link reader on its
// PDF export link, else 0x82220001.
HRESULT OpenDriveReader(const RequestRunner& runner, std::shared_ptr<DriveFile> file,
                        std::unique_ptr<DriveReader>& reader);

} // namespace gd
