#include "http/encoding.h"

#include "errors/check.h"

#include <shlwapi.h>

#include <climits>
#include <cstring>
#include <cwchar>
#include <new>

namespace gd {

namespace {

constexpr BYTE kBom[] = {0xEF, 0xBB, 0xBF};

// Encodes one UTF-16 unit on its own; returns the byte count.
size_t EncodeUnit(wchar_t unit, BYTE* out) {
    unsigned u = static_cast<unsigned>(unit);
    if (u < 0x80) {
        out[0] = static_cast<BYTE>(u);
        return 1;
    }
    if (u < 0x800) {
        out[0] = static_cast<BYTE>(0xC0 | (u >> 6));
        out[1] = static_cast<BYTE>(0x80 | (u & 0x3F));
        return 2;
    }
    out[0] = static_cast<BYTE>(0xE0 | (u >> 12));
    out[1] = static_cast<BYTE>(0x80 | ((u >> 6) & 0x3F));
    out[2] = static_cast<BYTE>(0x80 | (u & 0x3F));
    return 3;
}

int CheckedLength(size_t length) {
    if (length > static_cast<size_t>(INT_MAX))
        throw std::bad_alloc();
    return static_cast<int>(length);
}

std::string WideToCodePage(UINT codePage, std::wstring_view text) {
    if (text.empty())
        return {};
    int length = CheckedLength(text.size());
    int needed =
        WideCharToMultiByte(codePage, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(needed), '\0');
    WideCharToMultiByte(codePage, 0, text.data(), length, bytes.data(), needed, nullptr, nullptr);
    return bytes;
}

std::wstring CodePageToWide(UINT codePage, std::string_view bytes) {
    if (bytes.empty())
        return {};
    int length = CheckedLength(bytes.size());
    int needed = MultiByteToWideChar(codePage, 0, bytes.data(), length, nullptr, 0);
    std::wstring text(static_cast<size_t>(needed), L'\0');
    MultiByteToWideChar(codePage, 0, bytes.data(), length, text.data(), needed);
    return text;
}

bool IsFormSafe(BYTE b) {
    if ((b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || (b >= '0' && b <= '9'))
        return true;
    return b != 0 && std::strchr("!'()*+-._~", b) != nullptr;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

std::wstring_view TextOf(const MemoryStream& data) {
    return {reinterpret_cast<const wchar_t*>(data.Data()), data.GetSize() / sizeof(wchar_t)};
}

HRESULT WriteText(ByteSink& sink, std::string_view text) {
    return sink.Write(text.data(), text.size(), nullptr);
}

DWORD UrlEscapeFlags(DWORD options) {
    DWORD flags = 0;
    if (options & kEscapeKeepExtraInfo)
        flags |= URL_DONT_ESCAPE_EXTRA_INFO;
    if (options & kEscapeSpacesOnly)
        flags |= URL_ESCAPE_SPACES_ONLY;
    if (options & kEscapePercent)
        flags |= URL_ESCAPE_PERCENT;
    if (options & kEscapeSegmentOnly)
        flags |= URL_ESCAPE_SEGMENT_ONLY;
    return flags;
}

bool IsAscii(std::wstring_view text) {
    for (wchar_t c : text)
        if (static_cast<unsigned>(c) >= 0x80)
            return false;
    return true;
}

// Non-ASCII text goes through UTF-8 so that each byte gets its own escape.
bool EscapeAsUtf8(const std::wstring& text, std::wstring& escaped, DWORD flags) {
    std::string bytes = ToUtf8(text);
    std::string buffer(bytes.size() * 3 + 128, '\0');
    DWORD size = static_cast<DWORD>(buffer.size());
    if (FAILED(UrlEscapeA(bytes.c_str(), buffer.data(), &size, flags)))
        return false;
    escaped = FromUtf8(std::string_view(buffer.c_str()));
    return true;
}

bool EscapeWide(const std::wstring& text, std::wstring& escaped, DWORD flags) {
    std::wstring buffer(text.size() + 2 * (text.size() + 64), L'\0');
    DWORD size = static_cast<DWORD>(buffer.size());
    if (FAILED(UrlEscapeW(text.c_str(), buffer.data(), &size, flags)))
        return false;
    escaped.assign(buffer.c_str());
    return true;
}

HRESULT WriteField(ByteSink& sink, std::string_view separator, const FormField& field) {
    std::string value;
    RETURN_IF_FAILED(EncodeFormValue(field.data, value));
    std::string text(separator);
    text += ToAnsi(field.name);
    text += '=';
    text += value;
    return WriteText(sink, text);
}

std::string PartHeader(const FormField& field) {
    std::string header = "--";
    header += kMultipartBoundary;
    header += "\r\nContent-Disposition: form-data; name=\"" + ToAnsi(field.name) + "\";";
    if (!field.file_name.empty())
        header += " filename=\"" + ToAnsi(field.file_name) + "\";";
    header += "\r\n";
    if (!field.content_type.empty())
        header += "Content-Type: " + ToAnsi(field.content_type) + "\r\n";
    if (!field.transfer_encoding.empty())
        header += "Content-Transfer-Encoding: " + ToAnsi(field.transfer_encoding) + "\r\n";
    header += "\r\n";
    return header;
}

} // namespace

size_t ToUtf8WithBom(const wchar_t* text, ptrdiff_t length, BYTE* buffer, size_t bufferSize) {
    if (text == nullptr)
        return 0;
    size_t count = length < 0 ? std::wcslen(text) : static_cast<size_t>(length);
    if (count == 0)
        return 0;
    size_t total = 0;
    auto put = [&](const BYTE* bytes, size_t n) {
        if (buffer != nullptr) {
            if (n > bufferSize - total)
                return false;
            std::memcpy(buffer + total, bytes, n);
        }
        total += n;
        return true;
    };
    // A text that starts with U+FEFF brings its own mark.
    if (text[0] != 0xFEFF && !put(kBom, sizeof kBom))
        return total;
    BYTE sequence[3];
    for (size_t i = 0; i < count; ++i)
        if (!put(sequence, EncodeUnit(text[i], sequence)))
            break;
    return total;
}

std::string ToUtf8(std::wstring_view text) {
    return WideToCodePage(CP_UTF8, text);
}

std::wstring FromUtf8(std::string_view text) {
    return CodePageToWide(CP_UTF8, text);
}

std::string ToAnsi(std::wstring_view text) {
    return WideToCodePage(CP_ACP, text);
}

HRESULT MakeFormField(std::wstring name, std::wstring_view value, FormField& field) {
    field = FormField{};
    field.name = std::move(name);
    size_t bytes = value.size() * sizeof(wchar_t);
    RETURN_IF_FAILED(field.data.Create(bytes, -2));
    return field.data.Write(value.data(), bytes, nullptr);
}

HRESULT EncodeFormValue(std::wstring_view value, std::string& encoded) {
    encoded.clear();
    try {
        size_t needed =
            ToUtf8WithBom(value.data(), static_cast<ptrdiff_t>(value.size()), nullptr, 0);
        if (needed <= sizeof kBom)
            return S_OK;
        std::string bytes(needed, '\0');
        ToUtf8WithBom(value.data(), static_cast<ptrdiff_t>(value.size()),
                      reinterpret_cast<BYTE*>(bytes.data()), needed);
        static const char kHex[] = "0123456789ABCDEF";
        for (size_t i = sizeof kBom; i < bytes.size(); ++i) {
            BYTE b = static_cast<BYTE>(bytes[i]);
            if (IsFormSafe(b)) {
                encoded += static_cast<char>(b);
            } else {
                encoded += '%';
                encoded += kHex[b >> 4];
                encoded += kHex[b & 0x0F];
            }
        }
        return S_OK;
    } catch (const std::bad_alloc&) {
        encoded.clear();
        return E_FAIL; // the conversion buffer
    }
}

HRESULT EncodeFormValue(const MemoryStream& data, std::string& encoded) {
    return EncodeFormValue(TextOf(data), encoded);
}

std::wstring MultipartContentTypeHeader() {
    return L"Content-Type: multipart/form-data; boundary=" + FromUtf8(kMultipartBoundary) + L"\r\n";
}

HRESULT AppendQueryString(std::wstring& object, const std::vector<FormField>& fields) {
    return RunGuarded([&]() -> HRESULT {
        std::wstring query;
        for (const FormField& field : fields) {
            std::string value;
            RETURN_IF_FAILED(EncodeFormValue(field.data, value));
            query += query.empty() ? L'?' : L'&';
            query += field.name;
            query += L'=';
            query.append(value.begin(), value.end()); // ASCII only
        }
        object += query;
        return S_OK;
    });
}

HRESULT WriteUrlEncodedForm(ByteSink& sink, const std::vector<FormField>& fields) {
    return RunGuarded([&]() -> HRESULT {
        for (size_t i = 0; i < fields.size(); ++i)
            RETURN_IF_FAILED(WriteField(sink, i == 0 ? "" : "&", fields[i]));
        return S_OK;
    });
}

HRESULT WriteMultipartForm(ByteSink& sink, const std::vector<FormField>& fields) {
    return RunGuarded([&]() -> HRESULT {
        for (const FormField& field : fields) {
            RETURN_IF_FAILED(WriteText(sink, PartHeader(field)));
            RETURN_IF_FAILED(sink.Write(field.data.Data(), field.data.GetSize(), nullptr));
            RETURN_IF_FAILED(WriteText(sink, "\r\n"));
        }
        return WriteText(sink, std::string("--") + kMultipartBoundary + "--");
    });
}

bool EscapeUrlText(const std::wstring& text, std::wstring& escaped, DWORD options) {
    if (text.empty()) {
        escaped.clear();
        return false;
    }
    DWORD flags = UrlEscapeFlags(options);
    bool done = false;
    try {
        if ((options & kEscapeAsciiOnly) == 0 && !IsAscii(text))
            done = EscapeAsUtf8(text, escaped, flags);
        else
            done = EscapeWide(text, escaped, flags);
    } catch (const std::bad_alloc&) {
        done = false;
    }
    if (!done)
        escaped = text;
    return done;
}

bool DecodePercent(std::wstring_view text, std::wstring& decoded, size_t& length, size_t capacity) {
    length = 0;
    try {
        std::string bytes = ToUtf8(text);
        std::string out;
        out.reserve(bytes.size());
        for (size_t i = 0; i < bytes.size(); ++i) {
            if (bytes[i] != '%') {
                out += bytes[i];
                continue;
            }
            int high = i + 2 < bytes.size() ? HexValue(bytes[i + 1]) : -1;
            int low = high >= 0 ? HexValue(bytes[i + 2]) : -1;
            if (low < 0 || (high == 0 && low == 0)) {
                length = i + 1;
                return false;
            }
            out += static_cast<char>(high * 16 + low);
            i += 2;
        }
        length = out.size();
        if (out.size() > capacity)
            return false;
        decoded = CodePageToWide(CP_THREAD_ACP, out);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

namespace {

template <class Char> unsigned FoldAscii(Char c) {
    unsigned code = static_cast<std::make_unsigned_t<Char>>(c);
    return code >= 'A' && code <= 'Z' ? code - 'A' + 'a' : code;
}

template <class A, class B> bool EqualsFolded(A a, B b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (FoldAscii(a[i]) != FoldAscii(b[i]))
            return false;
    }
    return true;
}

} // namespace

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    return EqualsFolded(a, b);
}
bool EqualsIgnoringCase(std::wstring_view a, std::wstring_view b) {
    return EqualsFolded(a, b);
}
bool EqualsIgnoringCase(std::wstring_view a, std::string_view ascii) {
    return EqualsFolded(a, ascii);
}

bool ParseDecimal(std::wstring_view text, unsigned long long& value) {
    value = 0;
    if (text.empty())
        return false;
    unsigned long long number = 0;
    for (wchar_t c : text) {
        if (c < L'0' || c > L'9')
            return false;
        unsigned digit = static_cast<unsigned>(c - L'0');
        if (number > (ULLONG_MAX - digit) / 10)
            return false;
        number = number * 10 + digit;
    }
    value = number;
    return true;
}

} // namespace gd
