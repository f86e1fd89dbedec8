#include "driveapi/upload.h"

#include "auth/endpoints.h"
#include "driveapi/drive_errors.h"
#include "errors/check.h"
#include "errors/codes.h"
#include "http/encoding.h"
#include "http/memory_stream.h"
#include "http/one_shot.h"

#include <algorithm>

namespace gd {

namespace {

constexpr wchar_t kOctetStream[] = L"application/octet-stream";

void AppendEscaped(std::string& body, const std::wstring& text) {
    static const char kHex[] = "0123456789abcdef";
    for (char c : ToUtf8(text)) {
        unsigned char byte = static_cast<unsigned char>(c);
        switch (c) {
        case '"':
            body += "\\\"";
            break;
        case '\\':
            body += "\\\\";
            break;
        case '\b':
            body += "\\b";
            break;
        case '\f':
            body += "\\f";
            break;
        case '\n':
            body += "\\n";
            break;
        case '\r':
            body += "\\r";
            break;
        case '\t':
            body += "\\t";
            break;
        default:
            if (byte < 0x20) {
                body += "\\u00";
                body += kHex[byte >> 4];
                body += kHex[byte & 15];
            } else {
                body += c;
            }
        }
    }
}

void AppendMember(std::string& body, const char* name, const std::wstring& value) {
    if (body.size() > 1)
        body += ',';
    body += '"';
    body += name;
    body += "\": \"";
    AppendEscaped(body, value);
    body += '"';
}

struct ApiRequest {
    InetSession session;
    InetConnection connection;
    InetRequest request;
};

HRESULT OpenApiRequest(ApiRequest& api, const wchar_t* verb, const std::wstring& path,
                       const std::wstring& token) {
    Endpoint endpoint = DriveApiEndpoint();
    RETURN_IF_FAILED(
        api.session.Open(kDriveUserAgent, nullptr, nullptr, INTERNET_OPEN_TYPE_PRECONFIG));
    RETURN_IF_FAILED(api.connection.Open(api.session, INTERNET_SERVICE_HTTP, endpoint.host.c_str(),
                                         endpoint.port));
    RETURN_IF_FAILED(api.request.Open(api.connection, verb, path.c_str(), endpoint.secure));
    return api.request.AddHeader(L"Authorization", BearerValue(token).c_str());
}

} // namespace

HRESULT WriteMetadataJson(const DriveFile* parent, const std::wstring& title,
                          const std::wstring& description, const std::wstring& mimeType,
                          std::string& body) {
    RETURN_HR_IF(GD_E_INVALID_ARG,
                 !parent && title.empty() && description.empty() && mimeType.empty());
    return RunGuarded([&]() -> HRESULT {
        std::string json = "{";
        if (!title.empty())
            AppendMember(json, "title", title);
        if (!description.empty())
            AppendMember(json, "description", description);
        if (!mimeType.empty())
            AppendMember(json, "mimeType", mimeType);
        if (parent) {
            if (json.size() > 1)
                json += ',';
            json += "\"parents\": [{\"kind\": \"drive#parentReference\",\"id\": \"";
            AppendEscaped(json, parent->id);
            json += "\",\"isRoot\": false}]";
        }
        json += '}';
        body = std::move(json);
        return S_OK;
    });
}

HRESULT CreateFileMetadata(const std::wstring& token, const DriveFile* parent,
                           const std::wstring& title, const std::wstring& description,
                           const std::wstring& mimeType, std::shared_ptr<DriveFile>& file) {
    RETURN_HR_IF(GD_E_INVALID_ARG, token.empty());
    if (parent)
        RETURN_IF_FAILED(CheckFileId(parent->id));
    return RunGuarded([&]() -> HRESULT {
        std::string body;
        RETURN_IF_FAILED(WriteMetadataJson(parent, title, description, mimeType, body));
        ApiRequest api;
        RETURN_IF_FAILED(OpenApiRequest(api, L"POST", L"/drive/v2/files", token));
        RETURN_IF_FAILED(
            api.request.AddHeader(L"Content-Length", static_cast<std::int64_t>(body.size())));
        RETURN_IF_FAILED(
            api.request.AddHeader(L"Content-Type", L"application/json; charset=UTF-8"));
        RETURN_IF_FAILED(api.request.Send(nullptr, body.data(), static_cast<DWORD>(body.size())));

        HRESULT status = api.request.StatusToResult();
        if (FAILED(status))
            return ReadMappedError(api.request, status);
        MemoryStream answer;
        RETURN_IF_FAILED(ReadWholeBody(api.request, answer));
        rapidjson::Document document;
        RETURN_HR_IF(DRIVE_E_PARSE_ERROR, !ParseJsonObject(BodyText(answer), document));
        auto id = document.FindMember("id");
        RETURN_HR_IF(GD_E_UNEXPECTED, id == document.MemberEnd() || !id->value.IsString());
        auto created = std::make_shared<DriveFile>();
        RETURN_IF_FAILED(FillDriveFile(document, *created));
        created->item->description = description;
        file = std::move(created);
        return S_OK;
    });
}

HRESULT StartResumableUpload(const std::wstring& token, const DriveFile& file, std::int64_t size,
                             std::wstring& sessionUrl) {
    RETURN_HR_IF(GD_E_INVALID_ARG, token.empty() || size < 0);
    RETURN_IF_FAILED(CheckFileId(file.id));
    return RunGuarded([&]() -> HRESULT {
        ApiRequest api;
        RETURN_IF_FAILED(OpenApiRequest(
            api, L"PUT", L"/upload/drive/v2/files/" + file.id + L"?uploadType=resumable", token));
        RETURN_IF_FAILED(api.request.AddHeader(L"Content-Length", std::int64_t{0}));
        RETURN_IF_FAILED(api.request.AddHeader(L"X-Upload-Content-Type", kOctetStream));
        RETURN_IF_FAILED(api.request.AddHeader(L"X-Upload-Content-Length", size));
        RETURN_IF_FAILED(api.request.Send(nullptr, nullptr, 0));

        HRESULT status = api.request.StatusToResult();
        if (FAILED(status))
            return ReadMappedError(api.request, status);
        std::wstring location;
        RETURN_IF_FAILED(api.request.QueryHeader(HTTP_QUERY_LOCATION, location));
        RETURN_HR_IF(GD_E_UNEXPECTED, location.empty());
        sessionUrl = std::move(location);
        return S_OK;
    });
}

HRESULT BeginContentUpload(const std::wstring& token, const std::wstring& sessionUrl,
                           std::int64_t size, std::unique_ptr<DriveUploadWriter>& writer) {
    RETURN_HR_IF(GD_E_INVALID_ARG, size < 0);
    return RunGuarded([&]() -> HRESULT {
        UrlParts url;
        RETURN_IF_FAILED(SplitUrl(sessionUrl, url));
        bool secure = url.scheme == INTERNET_SCHEME_HTTPS;
        RETURN_HR_IF(E_INVALIDARG, !secure && !IsLoopbackUnderOverride(url));
        RETURN_HR_IF(GD_E_INVALID_ARG, token.empty());

        auto opened = std::make_unique<DriveUploadWriter>();
        opened->m_url = std::move(url);
        opened->m_runner = RunWithToken(token);
        opened->m_announced = size;
        RETURN_IF_FAILED(opened->OpenConnection());
        writer = std::move(opened);
        return S_OK;
    });
}

HRESULT DriveUploadWriter::OpenConnection() {
    if (m_connection.IsOpen())
        return S_OK;
    m_session.Close();
    RETURN_IF_FAILED(
        m_session.Open(kDriveUserAgent, nullptr, nullptr, INTERNET_OPEN_TYPE_PRECONFIG));
    return m_connection.Open(m_session, INTERNET_SERVICE_HTTP, m_url.host.c_str(), m_url.port);
}

HRESULT DriveUploadWriter::Write(const void* data, DWORD count, DWORD* written) {
    DWORD ignored = 0;
    DWORD& total = written ? *written : ignored;
    total = 0;
    RETURN_HR_IF_NULL(E_POINTER, data);
    RETURN_HR_IF(GD_E_MISSING, m_finished || !m_runner);
    RETURN_HR_IF(GD_E_INVALID_ARG, static_cast<std::int64_t>(count) > m_announced - m_written);
    const BYTE* bytes = static_cast<const BYTE*>(data);
    return RunGuarded([&]() -> HRESULT {
        while (total < count) {
            if (m_chunk.empty())
                m_chunk.reserve(static_cast<size_t>(
                    std::min<std::int64_t>(kUploadChunk, m_announced - m_chunk_start)));
            DWORD step =
                std::min<DWORD>(count - total, kUploadChunk - static_cast<DWORD>(m_chunk.size()));
            m_chunk.insert(m_chunk.end(), bytes + total, bytes + total + step);
            total += step;
            m_written += step;
            // A full chunk goes now, unless it holds the last byte.
            if (m_chunk.size() == kUploadChunk && m_written < m_announced)
                RETURN_IF_FAILED(SendChunk(false));
        }
        return S_OK;
    });
}

DriveUploadWriter::~DriveUploadWriter() {
    if (!m_finished)
        Abandon();
}

void DriveUploadWriter::Abandon() {
    // Between chunks no request is open: the session stays unfinished.
    m_finished = true;
    m_chunk.clear();
    m_chunk.shrink_to_fit();
    m_connection.Close();
    m_session.Close();
}

namespace {

// A connection the server or the network dropped, or a socket operation that
// timed out: the chunk is taken up again.
bool IsDropped(HRESULT hr) {
    // Wine passes the socket's own codes through.
    static const DWORD kDropped[] = {ERROR_INTERNET_CONNECTION_RESET,
                                     ERROR_INTERNET_CONNECTION_ABORTED,
                                     ERROR_HTTP_INVALID_SERVER_RESPONSE,
                                     ERROR_HTTP_HEADER_NOT_FOUND,
                                     ERROR_INTERNET_TIMEOUT,
                                     WSAETIMEDOUT,
                                     WSAECONNRESET,
                                     WSAECONNABORTED};
    for (DWORD error : kDropped) {
        if (hr == MakeWin32Failure(error))
            return true;
    }
    return false;
}

// The end of "bytes=0-K" plus one; 0 without the header.
HRESULT KeptOf(const InetRequest& request, std::int64_t& kept) {
    kept = 0;
    std::wstring range;
    if (FAILED(request.QueryHeader(HTTP_QUERY_RANGE, range)) || range.empty())
        return S_OK;
    long long first = -1, last = -1;
    RETURN_HR_IF(GD_E_UNEXPECTED,
                 std::swscanf(range.c_str(), L"bytes=%lld-%lld", &first, &last) != 2 ||
                     first != 0 || last < 0);
    kept = last + 1;
    return S_OK;
}

// The body goes in pieces, each one socket send: the send timeout bounds a
// piece, not the chunk, so a slow but moving link never times out, and
// nothing copies the chunk into one buffer with the headers. An answer that
// never came counts as a dropped connection even when ending the request
// reported success, as WinINet under Wine can.
HRESULT Exchange(InetRequest& request, const BYTE* body, DWORD length, DWORD& status) {
    status = 0;
    if (length == 0) {
        RETURN_IF_FAILED(request.Send(nullptr, nullptr, 0));
    } else {
        RETURN_IF_FAILED(request.SendEx(length));
        for (DWORD sent = 0; sent < length;) {
            DWORD step = 0;
            RETURN_IF_FAILED(
                request.Write(body + sent, std::min(length - sent, kSendPiece), &step));
            RETURN_HR_IF(GD_E_UNEXPECTED, step == 0);
            sent += step;
        }
        RETURN_IF_FAILED(request.End());
    }
    if (FAILED(request.QueryNumber(HTTP_QUERY_STATUS_CODE, status)) || status < 100)
        return MakeWin32Failure(ERROR_HTTP_HEADER_NOT_FOUND);
    return S_OK;
}

// Closing a request that failed half-way could hand its socket back to the
// pool with part of a body on it: the next request would then complete that
// body and wait for an answer that never comes. Ending it with an immediate
// timeout makes WinINet drop the socket instead.
void Discard(InetRequest& request) {
    request.SetOption(INTERNET_OPTION_RECEIVE_TIMEOUT, 1);
    request.End();
    request.Close();
}

} // namespace

HRESULT DriveUploadWriter::Put(const std::wstring& token, std::int64_t from, bool ask,
                               std::int64_t& kept, bool& done) {
    done = false;
    RETURN_IF_FAILED(OpenConnection());
    const std::int64_t end = m_chunk_start + static_cast<std::int64_t>(m_chunk.size());
    const std::wstring total = std::to_wstring(m_announced);
    const bool empty = ask || from == end;
    const DWORD length = empty ? 0 : static_cast<DWORD>(end - from);
    std::wstring range =
        empty ? L"bytes */" + total
              : L"bytes " + std::to_wstring(from) + L"-" + std::to_wstring(end - 1) + L"/" + total;
    InetRequest request;
    RETURN_IF_FAILED(request.Open(m_connection, L"PUT", m_url.object.c_str(),
                                  m_url.scheme == INTERNET_SCHEME_HTTPS));
    RETURN_IF_FAILED(request.AddHeader(L"Authorization", BearerValue(token).c_str()));
    RETURN_IF_FAILED(request.AddHeader(L"Content-Length", std::int64_t{length}));
    RETURN_IF_FAILED(request.AddHeader(L"Content-Type", kOctetStream));
    RETURN_IF_FAILED(request.AddHeader(L"Content-Range", range.c_str()));
    DWORD status = 0;
    HRESULT hr = Exchange(request, m_chunk.data() + (from - m_chunk_start), length, status);
    if (FAILED(hr)) {
        Discard(request);
        m_connection.Close();
        return hr;
    }
    if (status == 308)
        return KeptOf(request, kept);
    HRESULT code = request.StatusToResult();
    if (FAILED(code))
        return ReadMappedError(request, code);
    done = true;
    kept = m_announced;
    MemoryStream answer;
    return ReadWholeBody(request, answer);
}

HRESULT DriveUploadWriter::SendChunk(bool last) {
    const std::int64_t end = m_chunk_start + static_cast<std::int64_t>(m_chunk.size());
    std::int64_t from = m_chunk_start, kept = 0;
    bool ask = false, done = false;
    // Each round after the first follows a drop or a shorter Range: bounded.
    for (unsigned round = 0;; ++round) {
        RETURN_HR_IF(GD_E_UNEXPECTED, round > 2 * kMaxChunkResumes);
        HRESULT hr = m_runner([&](const std::wstring& token) {
            HRESULT put = Put(token, from, ask, kept, done);
            // After a server error Drive may have kept part of it: the next
            // attempt asks first.
            ask = FAILED(put);
            return put;
        });
        if (FAILED(hr) && !IsDropped(hr))
            return hr;
        if (FAILED(hr))
            continue; // ask is set: the status tells where to go on
        if (done)
            break;
        // Drive can only go on from what this chunk still holds.
        RETURN_HR_IF(GD_E_UNEXPECTED, kept < m_chunk_start || kept > end);
        if (!last && kept == end)
            break;
        from = kept;
    }
    m_chunk_start = end;
    m_chunk.clear();
    return S_OK;
}

HRESULT DriveUploadWriter::Finish() {
    RETURN_HR_IF(GD_E_MISSING, m_finished || !m_runner);
    if (m_written != m_announced) {
        Abandon(); // a short revision must never be committed
        return GD_E_INVALID_ARG;
    }
    HRESULT hr = RunGuarded([&] { return SendChunk(true); });
    Abandon();
    return hr;
}

HRESULT OpenUpload(const RequestRunner& runner, const DriveFile& file, std::int64_t size,
                   std::unique_ptr<DriveUploadWriter>& writer) {
    return RunGuarded([&]() -> HRESULT {
        std::wstring sessionUrl;
        RETURN_IF_FAILED(runner([&](const std::wstring& token) {
            return StartResumableUpload(token, file, size, sessionUrl);
        }));
        RETURN_IF_FAILED(runner([&](const std::wstring& token) {
            return BeginContentUpload(token, sessionUrl, size, writer);
        }));
        writer->UseRunner(runner);
        return S_OK;
    });
}

} // namespace gd
