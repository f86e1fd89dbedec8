// One-shot requests: a fresh session, connection and request per call, the
// whole response body collected in memory.
#pragma once

#include "errors/codes.h"
#include "http/endpoint.h"

#include <windows.h>
#include <wininet.h>

namespace gd {

class ByteSink;
class InetRequest;
class MemoryStream;

// A body that ended before its announced length: the connection was cut.
constexpr HRESULT INET_E_BODY_CUT_OFF = MakeWin32Failure(ERROR_INTERNET_CONNECTION_RESET);

// Reads a whole answer into body. One that ends before its Content-Length is
// INET_E_BODY_CUT_OFF, never a success with fewer bytes.
HRESULT ReadWholeBody(InetRequest& request, ByteSink& body);

// GET of object. extraHeaders is a raw block of "Name: value\r\n" lines (may be
// null). The body is read even when the status is an error, so the caller can
// parse the error document; the result is then the status code. A body cut
// short of its Content-Length is INET_E_BODY_CUT_OFF, whatever the status.
HRESULT HttpGetToStream(const Endpoint& endpoint, const wchar_t* object, MemoryStream& response,
                        const wchar_t* extraHeaders = nullptr, const void* body = nullptr,
                        DWORD bodyLength = 0);

// POST of an x-www-form-urlencoded body (8-bit text).
HRESULT HttpPostFormToStream(const Endpoint& endpoint, const wchar_t* object,
                             MemoryStream& response, const void* body, DWORD bodyLength);

} // namespace gd
