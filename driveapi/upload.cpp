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

// What HttpSendRequestEx can announce; larger sizes rely on the explicit header.
DWORD AnnouncedLength(std::int64_t size) {
    return size <= static_cast<std::int64_t>(MAXDWORD) ? static_cast<DWORD>(size) : 0;
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
        RETURN_IF_FAILED(opened->m_session.Open(kDriveUserAgent, nullptr, nullptr,
                                                INTERNET_OPEN_TYPE_PRECONFIG));
        RETURN_IF_FAILED(opened->m_connection.Open(opened->m_session, INTERNET_SERVICE_HTTP,
                                                   url.host.c_str(), url.port));
        InetRequest& request = opened->m_request;
        RETURN_IF_FAILED(request.Open(opened->m_connection, L"PUT", url.object.c_str(), secure));
        RETURN_IF_FAILED(request.AddHeader(L"Authorization", BearerValue(token).c_str()));
        RETURN_IF_FAILED(request.AddHeader(L"Content-Length", size));
        RETURN_IF_FAILED(request.AddHeader(L"Content-Type", kOctetStream));
        opened->m_announced = size;
        // Empty content would commit as soon as the request went out.
        if (size > 0)
            RETURN_IF_FAILED(opened->StartSending());
        writer = std::move(opened);
        return S_OK;
    });
}

HRESULT DriveUploadWriter::StartSending() {
    RETURN_IF_FAILED(m_request.SendEx(AnnouncedLength(m_announced)));
    m_sent = true;
    return S_OK;
}

HRESULT DriveUploadWriter::Send(const BYTE* bytes, DWORD count, DWORD& sent) {
    sent = 0;
    while (sent < count) {
        DWORD step = 0;
        RETURN_IF_FAILED(m_request.Write(bytes + sent, count - sent, &step));
        RETURN_HR_IF(GD_E_UNEXPECTED, step == 0);
        sent += step;
    }
    return S_OK;
}

HRESULT DriveUploadWriter::Write(const void* data, DWORD count, DWORD* written) {
    DWORD ignored = 0;
    DWORD& total = written ? *written : ignored;
    total = 0;
    RETURN_HR_IF_NULL(E_POINTER, data);
    RETURN_HR_IF(GD_E_MISSING, m_finished || !m_request.IsOpen());
    RETURN_HR_IF(GD_E_INVALID_ARG, static_cast<std::int64_t>(count) > m_announced - m_written);
    if (count == 0)
        return S_OK;
    const BYTE* bytes = static_cast<const BYTE*>(data);
    bool last = m_written + count == m_announced;
    HRESULT hr = Send(bytes, last ? count - 1 : count, total);
    m_written += total;
    RETURN_IF_FAILED(hr);
    if (last) {
        m_held = bytes[count - 1];
        ++total;
        ++m_written;
    }
    return S_OK;
}

DriveUploadWriter::~DriveUploadWriter() {
    if (!m_finished && m_request.IsOpen())
        Abandon();
}

void DriveUploadWriter::Abandon() {
    m_finished = true;
    if (m_sent) {
        // Closing a half-sent request alone can hand its socket back to the
        // pool, and the next request's bytes would complete the body. Ending it
        // with an immediate timeout fails the request and drops the connection.
        m_request.SetOption(INTERNET_OPTION_RECEIVE_TIMEOUT, 1);
        m_request.End();
    }
    m_request.Close();
    m_connection.Close();
    m_session.Close();
}

HRESULT DriveUploadWriter::SendHeldBack() {
    if (!m_sent)
        RETURN_IF_FAILED(StartSending());
    DWORD sent = 0;
    return m_announced > 0 ? Send(&m_held, 1, sent) : S_OK;
}

HRESULT DriveUploadWriter::Finish() {
    RETURN_HR_IF(GD_E_MISSING, m_finished || !m_request.IsOpen());
    // Ending a short body would let a short revision through; dropping it does not.
    HRESULT sent = m_written == m_announced ? SendHeldBack() : GD_E_INVALID_ARG;
    if (FAILED(sent)) {
        Abandon();
        return sent;
    }
    m_finished = true;
    RETURN_IF_FAILED(m_request.End());
    HRESULT status = m_request.StatusToResult();
    if (FAILED(status))
        return ReadMappedError(m_request, status);
    return S_OK;
}

HRESULT OpenUpload(const RequestRunner& runner, const DriveFile& file, std::int64_t size,
                   std::unique_ptr<DriveUploadWriter>& writer) {
    return RunGuarded([&]() -> HRESULT {
        std::wstring sessionUrl;
        RETURN_IF_FAILED(runner([&](const std::wstring& token) {
            return StartResumableUpload(token, file, size, sessionUrl);
        }));
        return runner([&](const std::wstring& token) {
            return BeginContentUpload(token, sessionUrl, size, writer);
        });
    });
}

} // namespace gd
