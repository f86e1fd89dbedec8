#include "driveapi/download.h"

#include "auth/endpoints.h"
#include "driveapi/drive_errors.h"
#include "errors/check.h"
#include "http/encoding.h"
#include "http/memory_stream.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace gd {

namespace {

constexpr DWORD kSkipBuffer = 64 * 1024;
constexpr int kMaxRedirects = 5;
constexpr DWORD kRangeNotSatisfiable = 416;
// A PDF ends with "%%EOF" in its last 1024 bytes, white space after it allowed.
constexpr size_t kPdfTail = 1024;
constexpr std::string_view kPdfWhiteSpace{" \t\r\n\f\0", 6};

bool EndsWithDomain(std::wstring_view host, std::wstring_view domain) {
    if (host.size() == domain.size())
        return EqualsIgnoringCase(host, domain);
    return host.size() > domain.size() && host[host.size() - domain.size() - 1] == L'.' &&
           EqualsIgnoringCase(host.substr(host.size() - domain.size()), domain);
}

// "bytes a-b/n" as a and the length b - a + 1; false when absent or malformed.
bool ParseContentRange(const InetRequest& request, std::int64_t& first, std::int64_t& length) {
    std::wstring text;
    if (FAILED(request.QueryHeader(HTTP_QUERY_CONTENT_RANGE, text)))
        return false;
    long long a = 0, b = 0;
    if (std::swscanf(text.c_str(), L"bytes %lld-%lld", &a, &b) != 2 || b < a)
        return false;
    first = a;
    length = b - a + 1;
    return true;
}

// -1 when the answer announces none.
std::int64_t ContentLength(const InetRequest& request) {
    ULONGLONG length = 0;
    if (FAILED(request.QueryContentLength(length)) || length > INT64_MAX)
        return -1;
    return static_cast<std::int64_t>(length);
}

// The body of an accepted answer: all that was announced, up to wanted bytes.
HRESULT ReadRangeBody(InetRequest& request, std::int64_t announced, void* buffer,
                      std::int64_t wanted, DWORD& read) {
    BufferView view(buffer, static_cast<size_t>(wanted));
    ULONGLONG total = 0;
    HRESULT hr = request.ReadResponse(view, total);
    read = static_cast<DWORD>(total);
    std::int64_t expected = announced < 0 ? wanted : std::min(announced, wanted);
    if (static_cast<std::int64_t>(total) >= expected)
        return S_OK;
    return FAILED(hr) && CodeOf(hr) != CodeOf(INET_E_END_OF_DATA) ? hr : DRIVE_E_RANGE_CUT_OFF;
}

HRESULT OpenConnection(RangeConnection& connection, const Endpoint& endpoint) {
    if (connection.connection.IsOpen())
        return S_OK;
    connection.Close();
    RETURN_IF_FAILED(
        connection.session.Open(kDriveUserAgent, nullptr, nullptr, INTERNET_OPEN_TYPE_PRECONFIG));
    return connection.connection.Open(connection.session, INTERNET_SERVICE_HTTP,
                                      endpoint.host.c_str(), endpoint.port);
}

// GET of the file's media with the Range value range; status receives the answer's.
HRESULT SendRange(const std::wstring& token, const DriveFile& file, const std::wstring& range,
                  RangeConnection& connection, InetRequest& request, DWORD& status) {
    Endpoint endpoint = DriveApiEndpoint();
    RETURN_IF_FAILED(OpenConnection(connection, endpoint));
    std::wstring path = L"/drive/v3/files/" + file.id + L"?alt=media";
    RETURN_IF_FAILED(request.Open(connection.connection, L"GET", path.c_str(), endpoint.secure));
    RETURN_IF_FAILED(request.AddHeader(L"Authorization", BearerValue(token).c_str()));
    RETURN_IF_FAILED(request.AddHeader(L"Range", range.c_str()));
    RETURN_IF_FAILED(request.Send(nullptr, nullptr, 0));
    return request.QueryNumber(HTTP_QUERY_STATUS_CODE, status);
}

// The failure an answer other than 206, 416 or 200 stands for.
HRESULT RangeFailure(InetRequest& request) {
    HRESULT code = request.StatusToResult();
    return ReadMappedError(request, FAILED(code) ? code : GD_E_UNEXPECTED);
}

} // namespace

HRESULT ReadRange(const std::wstring& token, const DriveFile& file, std::int64_t first,
                  std::int64_t end, void* buffer, DWORD& read, RangeConnection& connection) {
    read = 0;
    RETURN_HR_IF(GD_E_INVALID_ARG, token.empty() || buffer == nullptr || end <= first || first < 0);
    RETURN_IF_FAILED(CheckFileId(file.id));
    return RunGuarded([&]() -> HRESULT {
        std::wstring range = L"bytes=" + std::to_wstring(first) + L"-" + std::to_wstring(end - 1);
        InetRequest request;
        DWORD status = 0;
        RETURN_IF_FAILED(SendRange(token, file, range, connection, request, status));
        if (status == kRangeNotSatisfiable)
            return S_OK; // at or past the end: nothing more to read
        if (status == HTTP_STATUS_PARTIAL_CONTENT) {
            std::int64_t start = -1, length = -1;
            RETURN_HR_IF(GD_E_UNEXPECTED,
                         !ParseContentRange(request, start, length) || start != first);
            return ReadRangeBody(request, length, buffer, end - first, read);
        }
        if (status == HTTP_STATUS_OK) {
            // The whole content: only usable when it starts where we asked.
            RETURN_HR_IF(GD_E_UNEXPECTED, first != 0);
            HRESULT hr = ReadRangeBody(request, ContentLength(request), buffer, end, read);
            connection.Close(); // the rest of the body is left unread
            return hr;
        }
        return RangeFailure(request);
    });
}

HRESULT DriveRangeRun::Open(const std::wstring& token, const DriveFile& file, std::int64_t first,
                            RangeConnection& connection) {
    m_request.Close();
    m_position = first;
    m_left = 0;
    RETURN_HR_IF(GD_E_INVALID_ARG, token.empty() || first < 0);
    RETURN_IF_FAILED(CheckFileId(file.id));
    return RunGuarded([&]() -> HRESULT {
        DWORD status = 0;
        HRESULT hr = SendRange(token, file, L"bytes=" + std::to_wstring(first) + L"-", connection,
                               m_request, status);
        if (SUCCEEDED(hr) && status == kRangeNotSatisfiable)
            hr = S_FALSE; // at or past the end: an empty run
        else if (SUCCEEDED(hr) && status != HTTP_STATUS_PARTIAL_CONTENT)
            hr = status == HTTP_STATUS_OK ? GD_E_UNEXPECTED : RangeFailure(m_request);
        else if (SUCCEEDED(hr) &&
                 (!ParseContentRange(m_request, first, m_left) || first != m_position))
            hr = GD_E_UNEXPECTED;
        if (hr != S_OK) {
            m_request.Close();
            m_left = 0;
        }
        return SUCCEEDED(hr) ? S_OK : hr;
    });
}

HRESULT DriveRangeRun::Read(void* buffer, DWORD count, DWORD& read) {
    read = 0;
    RETURN_HR_IF_NULL(E_POINTER, buffer);
    std::int64_t wanted = std::min<std::int64_t>(count, m_left);
    if (wanted == 0)
        return S_OK;
    return RunGuarded([&]() -> HRESULT {
        HRESULT hr = ReadRangeBody(m_request, m_left, buffer, wanted, read);
        m_position += read;
        m_left -= read;
        return hr;
    });
}

DriveRangeReader::DriveRangeReader(RequestRunner runner, std::shared_ptr<DriveFile> file)
    : m_runner(std::move(runner)), m_file(std::move(file)) {}

HRESULT DriveRangeReader::ReadOnce(BYTE* buffer, std::int64_t end, DWORD& read) {
    HRESULT hr = m_runner([&](const std::wstring& token) {
        return ReadRange(token, *m_file, m_position, end, buffer, read, m_connection);
    });
    if (FAILED(hr))
        m_connection.Close(); // never reuse a connection in an unknown state
    return hr;
}

HRESULT DriveRangeReader::Read(void* buffer, DWORD count, DWORD* read) {
    RETURN_HR_IF_NULL(E_POINTER, buffer);
    RETURN_HR_IF(GD_E_INVALID_ARG, count == 0);
    RETURN_HR_IF(GD_E_MISSING, !m_file || !m_runner);
    DWORD ignored = 0;
    DWORD& total = read ? *read : ignored;
    total = 0;
    std::int64_t end = m_position + count;
    BYTE* bytes = static_cast<BYTE*>(buffer);
    bool retried = false;
    while (total < count) {
        DWORD got = 0;
        HRESULT hr = ReadOnce(bytes + total, end, got);
        total += got;
        m_position += got;
        if (hr == DRIVE_E_RANGE_CUT_OFF && !retried) {
            retried = true; // once more, from where the cut left us
            continue;
        }
        RETURN_IF_FAILED(hr);
        // A server may answer a range with fewer bytes than asked: ask for
        // the rest, unless the content is known to end here.
        if (got == 0 || AtKnownEnd())
            break;
    }
    return S_OK;
}

bool DriveRangeReader::AtKnownEnd() const {
    return m_file->item && m_file->item->file_size > 0 && m_position >= m_file->item->file_size;
}

HRESULT DriveRangeReader::Skip(ULONGLONG count, ULONGLONG* skipped) {
    RETURN_HR_IF(GD_E_MISSING, !m_file);
    std::int64_t size = m_file->item ? m_file->item->file_size : 0;
    std::int64_t left = std::max<std::int64_t>(0, size - m_position);
    ULONGLONG moved = std::min<ULONGLONG>(count, static_cast<ULONGLONG>(left));
    m_position += static_cast<std::int64_t>(moved);
    if (skipped)
        *skipped = moved;
    return S_OK;
}

bool MayCarryToken(const std::wstring& link) {
    UrlParts parts;
    if (FAILED(SplitUrl(link, parts)))
        return false;
    if (parts.scheme == INTERNET_SCHEME_HTTPS)
        return EndsWithDomain(parts.host, L"google.com") ||
               EndsWithDomain(parts.host, L"googleapis.com");
    return IsEmulatorHost(parts);
}

HRESULT DriveLinkReader::OpenOnce(const std::wstring& url, const std::wstring& token,
                                  std::wstring& location) {
    location.clear();
    UrlParts parts;
    RETURN_IF_FAILED(SplitUrl(url, parts));
    bool secure = parts.scheme == INTERNET_SCHEME_HTTPS;
    RETURN_HR_IF(E_INVALIDARG, !secure && parts.scheme != INTERNET_SCHEME_HTTP);
    m_request.Close();
    m_connection.Close();
    m_session.Close();
    RETURN_IF_FAILED(
        m_session.Open(kDriveUserAgent, nullptr, nullptr, INTERNET_OPEN_TYPE_PRECONFIG));
    RETURN_IF_FAILED(
        m_connection.Open(m_session, INTERNET_SERVICE_HTTP, parts.host.c_str(), parts.port));
    // WinINet would carry the Authorization header along to wherever a
    // redirect points; each hop is opened here instead.
    RETURN_IF_FAILED(m_request.Open(m_connection, L"GET", parts.object.c_str(), secure, nullptr, 0,
                                    INTERNET_FLAG_NO_AUTO_REDIRECT));
    if (!token.empty() && MayCarryToken(url))
        RETURN_IF_FAILED(m_request.AddHeader(L"Authorization", BearerValue(token).c_str()));
    RETURN_IF_FAILED(m_request.Send(nullptr, nullptr, 0));

    DWORD status = 0;
    RETURN_IF_FAILED(m_request.QueryNumber(HTTP_QUERY_STATUS_CODE, status));
    if (status == 301 || status == 302 || status == 303 || status == 307 || status == 308) {
        std::wstring target;
        RETURN_IF_FAILED(m_request.QueryHeader(HTTP_QUERY_LOCATION, target));
        wchar_t combined[INTERNET_MAX_URL_LENGTH];
        DWORD length = INTERNET_MAX_URL_LENGTH;
        if (!InternetCombineUrlW(url.c_str(), target.c_str(), combined, &length, ICU_NO_ENCODE))
            return LastErrorResult();
        location.assign(combined, length);
        return S_OK;
    }
    if (status >= 300) {
        HRESULT code = m_request.StatusToResult();
        return ReadMappedError(m_request, FAILED(code) ? code : GD_E_UNEXPECTED);
    }
    m_announced = ContentLength(m_request);
    m_read = 0;
    return S_OK;
}

HRESULT DriveLinkReader::Open(const std::wstring& link, const std::wstring& token) {
    RETURN_HR_IF(GD_E_INVALID_ARG, link.empty());
    return RunGuarded([&]() -> HRESULT {
        m_link = link;
        m_token = token;
        std::wstring url = link;
        for (int hop = 0; hop <= kMaxRedirects; ++hop) {
            std::wstring location;
            HRESULT hr = OpenOnce(url, token, location);
            if (FAILED(hr) || location.empty()) {
                if (FAILED(hr))
                    m_request.Close();
                return hr;
            }
            url = std::move(location);
        }
        m_request.Close();
        return MakeWin32Failure(ERROR_HTTP_REDIRECT_FAILED);
    });
}

HRESULT DriveLinkReader::ReadRaw(BYTE* buffer, DWORD count, DWORD& read) {
    BufferView view(buffer, count);
    ULONGLONG got = 0;
    HRESULT hr = m_request.ReadResponse(view, got);
    read = static_cast<DWORD>(got);
    m_read += static_cast<std::int64_t>(got);
    return FAILED(hr) && CodeOf(hr) != CodeOf(INET_E_END_OF_DATA) ? hr : S_OK;
}

bool DriveLinkReader::EndsWhole() const {
    if (m_announced >= 0)
        return m_read >= m_announced;
    size_t end = m_tail.rfind("%%EOF");
    return end != std::string::npos &&
           m_tail.find_first_not_of(kPdfWhiteSpace, end + 5) == std::string::npos;
}

HRESULT DriveLinkReader::ReadChecked(BYTE* buffer, DWORD count, DWORD& read) {
    RETURN_IF_FAILED(ReadRaw(buffer, count, read));
    const char* bytes = reinterpret_cast<const char*>(buffer);
    m_tail.append(bytes + (read > kPdfTail ? read - kPdfTail : 0),
                  std::min<size_t>(read, kPdfTail));
    if (m_tail.size() > kPdfTail)
        m_tail.erase(0, m_tail.size() - kPdfTail);
    return read == count || EndsWhole() ? S_OK : DRIVE_E_RANGE_CUT_OFF;
}

HRESULT DriveLinkReader::Reopen() {
    std::int64_t delivered = m_read;
    std::wstring link = m_link, token = m_token;
    RETURN_IF_FAILED(Open(link, token));
    std::vector<BYTE> scratch(kSkipBuffer);
    while (m_read < delivered) {
        DWORD step = static_cast<DWORD>(std::min<std::int64_t>(kSkipBuffer, delivered - m_read));
        DWORD got = 0;
        RETURN_IF_FAILED(ReadRaw(scratch.data(), step, got));
        RETURN_HR_IF(DRIVE_E_RANGE_CUT_OFF, got < step);
    }
    return S_OK;
}

HRESULT DriveLinkReader::Read(void* buffer, DWORD count, DWORD* read) {
    DWORD ignored = 0;
    DWORD& total = read ? *read : ignored;
    total = 0;
    RETURN_HR_IF_NULL(E_POINTER, buffer);
    RETURN_HR_IF(GD_E_MISSING, !m_request.IsOpen());
    if (count == 0)
        return S_OK;
    return RunGuarded([&]() -> HRESULT {
        BYTE* bytes = static_cast<BYTE*>(buffer);
        HRESULT hr = ReadChecked(bytes, count, total);
        if (hr != DRIVE_E_RANGE_CUT_OFF || m_reopened)
            return hr;
        m_reopened = true; // once more, from where the cut left us
        RETURN_IF_FAILED(Reopen());
        DWORD more = 0;
        hr = ReadChecked(bytes + total, count - total, more);
        total += more;
        return hr;
    });
}

HRESULT DriveLinkReader::Skip(ULONGLONG count, ULONGLONG* skipped) {
    RETURN_HR_IF(GD_E_MISSING, !m_request.IsOpen());
    return RunGuarded([&]() -> HRESULT {
        std::vector<BYTE> scratch(kSkipBuffer);
        ULONGLONG total = 0;
        HRESULT hr = S_OK;
        while (total < count) {
            DWORD step = static_cast<DWORD>(std::min<ULONGLONG>(kSkipBuffer, count - total));
            DWORD got = 0;
            hr = Read(scratch.data(), step, &got);
            total += got;
            if (FAILED(hr) || got == 0)
                break;
        }
        if (skipped)
            *skipped = total;
        return hr;
    });
}

HRESULT OpenDriveReader(const RequestRunner& runner, std::shared_ptr<DriveFile> file,
                        std::unique_ptr<DriveReader>& reader) {
    RETURN_HR_IF(GD_E_INVALID_ARG, !file || !file->item);
    return RunGuarded([&]() -> HRESULT {
        if (!file->item->download_url.empty()) {
            RETURN_IF_FAILED(CheckFileId(file->id));
            reader = std::make_unique<DriveRangeReader>(runner, file);
            return S_OK;
        }
        const std::wstring& link = file->item->pdf_export_link;
        RETURN_HR_IF(GD_E_INVALID_ARG, link.empty());
        auto linkReader = std::make_unique<DriveLinkReader>();
        RETURN_IF_FAILED(
            runner([&](const std::wstring& token) { return linkReader->Open(link, token); }));
        reader = std::move(linkReader);
        return S_OK;
    });
}

} // namespace gd
