// Text conversions and the encodings of the transport: form values, URL
// escaping, percent-decoding and the three form bodies of a request.
#pragma once

#include "http/memory_stream.h"

#include <windows.h>

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace gd {

// --- Text conversion --------------------------------------------------------

// UTF-8 with a leading byte order mark, each UTF-16 unit encoded by itself (a
// surrogate pair becomes two three-byte sequences). length -1: zero-terminated.
// Writes whole sequences while they fit and returns the bytes written; without
// a buffer returns the bytes needed. An empty text gives 0.
size_t ToUtf8WithBom(const wchar_t* text, ptrdiff_t length, BYTE* buffer, size_t bufferSize);

// Real UTF-8, for JSON bodies: a surrogate pair becomes one four-byte sequence.
std::string ToUtf8(std::wstring_view text);
std::wstring FromUtf8(std::string_view text);
// 8-bit text in the system's ANSI code page, for form names and headers.
std::string ToAnsi(std::wstring_view text);

// Equality with ASCII letters folded (protocol names, hosts, reasons, mime types).
bool EqualsIgnoringCase(std::string_view a, std::string_view b);
bool EqualsIgnoringCase(std::wstring_view a, std::wstring_view b);
bool EqualsIgnoringCase(std::wstring_view a, std::string_view ascii);

// A plain decimal: one or more digits and nothing else (no sign, no blank),
// no greater than the largest 64-bit value. Otherwise false, value 0.
bool ParseDecimal(std::wstring_view text, unsigned long long& value);

// --- Form fields ------------------------------------------------------------

// One field of a form. For the query string and the url-encoded body the data
// holds UTF-16 text; a multipart body sends it byte for byte.
struct FormField {
    std::wstring name;
    std::wstring file_name;         // empty for a plain field
    std::wstring content_type;      // empty: no Content-Type line
    std::wstring transfer_encoding; // empty: no Content-Transfer-Encoding line
    MemoryStream data;
};

// A plain field whose data is the UTF-16 text of value.
HRESULT MakeFormField(std::wstring name, std::wstring_view value, FormField& field);

// Percent-encodes the UTF-8 bytes of a value; letters, digits and !'()*+-._~
// stay as they are.
HRESULT EncodeFormValue(std::wstring_view value, std::string& encoded);
HRESULT EncodeFormValue(const MemoryStream& data, std::string& encoded);

constexpr char kMultipartBoundary[] = "MULTI-PARTS-FORM-DATA-BOUNDARY";
// "Content-Type: multipart/form-data; boundary=...\r\n"
std::wstring MultipartContentTypeHeader();

// "?name=value&name=value" appended to object (even when it has a query).
HRESULT AppendQueryString(std::wstring& object, const std::vector<FormField>& fields);
// name=value&name=value
HRESULT WriteUrlEncodedForm(ByteSink& sink, const std::vector<FormField>& fields);
// One part per field, then the closing boundary line (no CRLF after it).
HRESULT WriteMultipartForm(ByteSink& sink, const std::vector<FormField>& fields);

// --- URL escaping -----------------------------------------------------------

enum EscapeOption : DWORD {
    kEscapeKeepExtraInfo = 1, // URL_DONT_ESCAPE_EXTRA_INFO
    kEscapeSpacesOnly = 2,    // URL_ESCAPE_SPACES_ONLY
    kEscapePercent = 4,       // URL_ESCAPE_PERCENT
    kEscapeSegmentOnly = 8,   // URL_ESCAPE_SEGMENT_ONLY
    kEscapeAsciiOnly = 16,    // never go through UTF-8
};

// Escapes text with the platform's UrlEscape; non-ASCII text is escaped as
// UTF-8. Returns false for an empty text (escaped empty) and on failure
// (escaped = text).
bool EscapeUrlText(const std::wstring& text, std::wstring& escaped, DWORD options = 0);

// Decodes %XX escapes of an FTP object path; the bytes are read back in the
// thread's ANSI code page. On failure decoded is left alone and length holds
// the position of the bad escape plus one, or the bytes needed when they
// exceed capacity. On success length is the decoded byte count.
constexpr size_t kDecodeCapacity = 2084;
bool DecodePercent(std::wstring_view text, std::wstring& decoded, size_t& length,
                   size_t capacity = kDecodeCapacity);

} // namespace gd
