// One-shot requests: a fresh session, connection and request per call, the
// whole response body collected in memory.
#pragma once

#include "http/endpoint.h"

#include <windows.h>

namespace gd {

class MemoryStream;

// GET of object. extraHeaders is a raw block of "Name: value\r\n" lines (may be
// null). The body is read even when the status is an error, so the caller can
// parse the error document; the result is then the status code.
HRESULT HttpGetToStream(const Endpoint& endpoint, const wchar_t* object, MemoryStream& response,
                        const wchar_t* extraHeaders = nullptr, const void* body = nullptr,
                        DWORD bodyLength = 0);

// POST of an x-www-form-urlencoded body (8-bit text).
HRESULT HttpPostFormToStream(const Endpoint& endpoint, const wchar_t* object,
                             MemoryStream& response, const void* body, DWORD bodyLength);

} // namespace gd
