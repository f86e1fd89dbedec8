#include "http/one_shot.h"

#include "errors/check.h"
#include "errors/codes.h"
#include "http/inet_handles.h"
#include "http/memory_stream.h"

namespace gd {

namespace {

constexpr wchar_t kOneShotAgent[] = L"Mozilla/5.0 (Windows; U; Windows NT 5.1; en-US) WebDAV";

HRESULT RunOneShot(const Endpoint& endpoint, const wchar_t* verb, const wchar_t* object,
                   MemoryStream& response, const wchar_t* extraHeaders, const void* body,
                   DWORD bodyLength) {
    // Declared in this order so that they close request first, session last.
    InetSession session;
    InetConnection connection;
    InetRequest request;
    RETURN_IF_FAILED(session.Open(kOneShotAgent, nullptr, nullptr, INTERNET_OPEN_TYPE_PRECONFIG));
    RETURN_IF_FAILED(
        connection.Open(session, INTERNET_SERVICE_HTTP, endpoint.host.c_str(), endpoint.port));
    RETURN_IF_FAILED(request.Open(connection, verb, object, endpoint.secure));
    request.AddHeader(L"Content-Type", L"application/x-www-form-urlencoded");
    RETURN_IF_FAILED(request.Send(extraHeaders, body, bodyLength));

    HRESULT status = request.StatusToResult();
    RETURN_IF_FAILED(response.Create(0, -2));
    HRESULT read = ReadWholeBody(request, response);
    return FAILED(status) && read != INET_E_BODY_CUT_OFF ? status : read;
}

} // namespace

HRESULT ReadWholeBody(InetRequest& request, ByteSink& body) {
    ULONGLONG total = 0;
    HRESULT read = request.ReadResponse(body, total);
    if (FAILED(read) && CodeOf(read) == CodeOf(INET_E_END_OF_DATA)) {
        ULONGLONG announced = 0;
        bool cut = SUCCEEDED(request.QueryContentLength(announced)) && total < announced;
        read = cut ? INET_E_BODY_CUT_OFF : S_OK; // else the body simply ended
    }
    return read;
}

HRESULT HttpGetToStream(const Endpoint& endpoint, const wchar_t* object, MemoryStream& response,
                        const wchar_t* extraHeaders, const void* body, DWORD bodyLength) {
    RETURN_HR_IF(E_INVALIDARG, endpoint.host.empty());
    return RunOneShot(endpoint, L"GET", object, response, extraHeaders, body, bodyLength);
}

HRESULT HttpPostFormToStream(const Endpoint& endpoint, const wchar_t* object,
                             MemoryStream& response, const void* body, DWORD bodyLength) {
    RETURN_HR_IF(E_POINTER, endpoint.host.empty() || object == nullptr);
    return RunOneShot(endpoint, L"POST", object, response, nullptr, body, bodyLength);
}

} // namespace gd
