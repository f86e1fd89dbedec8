#include "host/content_log.h"

#include "auth/endpoints.h"
#include "driveapi/request_common.h"
#include "errors/check.h"
#include "errors/codes.h"
#include "http/encoding.h"
#include "http/memory_stream.h"
#include "http/one_shot.h"

#include <rapidjson/document.h>

#include <algorithm>
#include <cstdlib>

namespace gd {
namespace {

HRESULT FetchLog(rapidjson::Document& log) {
    auto endpoint = EmulatorEndpoint();
    RETURN_HR_IF(GD_E_UNEXPECTED, !endpoint);
    MemoryStream body;
    RETURN_IF_FAILED(HttpGetToStream(*endpoint, L"/_emu/log", body));
    RETURN_HR_IF(GD_E_UNEXPECTED, !ParseJsonObject(BodyText(body), log) ||
                                      !log.HasMember("requests") || !log["requests"].IsArray());
    return S_OK;
}

std::string Member(const rapidjson::Value& object, const char* name) {
    auto found = object.FindMember(name);
    return found != object.MemberEnd() && found->value.IsString() ? found->value.GetString() : "";
}

// Bytes of "bytes=a-b" within size; the whole size for no range.
std::int64_t RangeBytes(const std::string& range, std::int64_t size) {
    if (range.empty())
        return size;
    const std::string prefix = "bytes=";
    if (range.compare(0, prefix.size(), prefix) != 0)
        return 0;
    const char* text = range.c_str() + prefix.size();
    char* end = nullptr;
    if (*text == '-') { // the last n bytes
        std::int64_t last = std::strtoll(text + 1, nullptr, 10);
        return std::min(last, size);
    }
    std::int64_t first = std::strtoll(text, &end, 10);
    std::int64_t final = size - 1;
    if (end != nullptr && *end == '-' && end[1] != '\0')
        final = std::min(final, static_cast<std::int64_t>(std::strtoll(end + 1, nullptr, 10)));
    return first > final ? 0 : final - first + 1;
}

bool IsMediaOf(const std::string& path, const std::string& id) {
    return path.find("/files/" + id + "?") != std::string::npos &&
           path.find("alt=media") != std::string::npos;
}

bool IsExportOf(const std::string& path, const std::string& id) {
    return path.find("/files/" + id + "/export") != std::string::npos ||
           (path.find("/export/Export?") != std::string::npos &&
            path.find("id=" + id) != std::string::npos);
}

} // namespace

HRESULT ContentLog::Mark() {
    m_available = EmulatorEndpoint().has_value();
    if (!m_available)
        return S_FALSE;
    rapidjson::Document log;
    RETURN_IF_FAILED(FetchLog(log));
    m_mark = log["requests"].Size();
    return S_OK;
}

HRESULT ContentLog::TransferredSince(const std::wstring& id, std::int64_t size,
                                     std::int64_t* bytes) const {
    RETURN_HR_IF_NULL(E_POINTER, bytes);
    *bytes = 0;
    RETURN_HR_IF(GD_E_UNEXPECTED, !m_available);
    rapidjson::Document log;
    RETURN_IF_FAILED(FetchLog(log));
    const rapidjson::Value& requests = log["requests"];
    const std::string wanted = ToUtf8(id);
    // A reset since the mark leaves fewer entries: count them all.
    std::size_t first = m_mark <= requests.Size() ? m_mark : 0;
    for (rapidjson::SizeType i = static_cast<rapidjson::SizeType>(first); i < requests.Size();
         ++i) {
        const rapidjson::Value& request = requests[i];
        if (!request.IsObject() || Member(request, "method") != "GET")
            continue;
        std::string path = Member(request, "path");
        std::string range;
        auto headers = request.FindMember("headers");
        if (headers != request.MemberEnd() && headers->value.IsObject())
            range = Member(headers->value, "range");
        if (IsMediaOf(path, wanted))
            *bytes += RangeBytes(range, size);
        else if (IsExportOf(path, wanted))
            *bytes += size;
    }
    return S_OK;
}

} // namespace gd
