#include "http/inet_handles.h"

#include "errors/check.h"
#include "errors/codes.h"
#include "http/encoding.h"
#include "http/memory_stream.h"

#include <algorithm>
#include <atomic>
#include <new>
#include <vector>

namespace gd {

namespace {

// Unknown or zero length: the first room offered to the body.
constexpr ULONGLONG kUnknownLengthGuess = 4097;
// The most room taken for a body before its bytes arrive: a server's
// announcement alone must not make the process reserve gigabytes.
constexpr ULONGLONG kMaxFirstReservation = 1u << 20;
// Bytes asked for per read: large enough to keep WinINet calls few, small
// enough that progress (and cancellation) comes often.
constexpr DWORD kMaxReadChunk = 1u << 20;
// The read buffer of a growable stream: its expected length within these bounds.
constexpr ULONGLONG kMinReadBuffer = 2048;
constexpr ULONGLONG kUnknownLengthBuffer = 64 * 1024;

HRESULT RequireOpen(const InetHandle& handle) {
    return handle.IsOpen() ? S_OK : INET_E_NOT_OPEN;
}

HRESULT ResultOf(BOOL ok) {
    return ok ? S_OK : LastErrorResult();
}

// Runs a step that copies or allocates: an allocation failure becomes a code.
template <class Step> HRESULT WithCopies(Step&& step) noexcept {
    try {
        return step();
    } catch (const std::bad_alloc&) {
        return INET_E_OUTOFMEMORY;
    }
}

} // namespace

HRESULT ResultFromWin32(DWORD error) {
    if (error == 0)
        return S_OK;
    if (static_cast<HRESULT>(error) < 0)
        return static_cast<HRESULT>(error);
    return MakeWin32Failure(error);
}

HRESULT LastErrorResult() {
    return ResultFromWin32(GetLastError());
}

// InetHandle

bool InetHandle::Attach(HINTERNET handle) {
    Close();
    m_handle = handle;
    return IsOpen();
}

HINTERNET InetHandle::Detach() {
    HINTERNET handle = m_handle;
    m_handle = nullptr;
    return handle;
}

void InetHandle::Close() {
    if (IsOpen())
        InternetCloseHandle(m_handle);
    m_handle = nullptr;
}

HRESULT InetHandle::QueryOption(DWORD option, void* buffer, DWORD* length) const {
    if (!IsOpen())
        return INET_E_OPTION_NOT_OPEN;
    return ResultOf(InternetQueryOptionW(m_handle, option, buffer, length));
}

HRESULT InetHandle::SetOption(DWORD option, DWORD value) {
    return SetOption(option, &value, sizeof(value));
}

HRESULT InetHandle::SetOption(DWORD option, const void* buffer, DWORD length) {
    if (!IsOpen())
        return INET_E_OPTION_NOT_OPEN;
    return ResultOf(InternetSetOptionW(m_handle, option, const_cast<void*>(buffer), length));
}

// InetSession

HRESULT InetSession::Open(const wchar_t* agent, const wchar_t* proxy, const wchar_t* bypass,
                          DWORD accessType) {
    Close();
    if (accessType == ~DWORD{0})
        accessType = proxy ? INTERNET_OPEN_TYPE_PROXY : INTERNET_OPEN_TYPE_PRECONFIG;
    if (!Attach(InternetOpenW(agent, accessType, proxy, bypass, 0)))
        return LastErrorResult();
    SetOption(INTERNET_OPTION_IGNORE_OFFLINE, 1); // best effort
    return S_OK;
}

HRESULT InetSession::SetStatusCallback(INTERNET_STATUS_CALLBACK callback) {
    if (!IsOpen())
        return INET_E_OPTION_NOT_OPEN;
    INTERNET_STATUS_CALLBACK previous = InternetSetStatusCallbackW(m_handle, callback);
    if (previous == INTERNET_INVALID_STATUS_CALLBACK)
        return LastErrorResult();
    if (!m_callback_installed) {
        m_saved_callback = previous;
        m_callback_installed = true;
    }
    return S_OK;
}

void InetSession::RestoreStatusCallback() {
    if (IsOpen() && m_callback_installed)
        InternetSetStatusCallbackW(m_handle, m_saved_callback);
    m_saved_callback = nullptr;
    m_callback_installed = false;
}

void InetSession::Close() {
    RestoreStatusCallback();
    InetHandle::Close();
}

// InetConnection

HRESULT InetConnection::Open(const InetSession& session, DWORD service, const wchar_t* host,
                             INTERNET_PORT port, const wchar_t* user, const wchar_t* password,
                             DWORD_PTR context) {
    if (host == nullptr || !session.IsOpen())
        return E_INVALIDARG;
    DWORD flags = 0;
    if (service == INTERNET_SERVICE_FTP)
        flags = INTERNET_FLAG_PASSIVE;
    else
        service = INTERNET_SERVICE_HTTP;
    if (context == 0)
        context = reinterpret_cast<DWORD_PTR>(this);
    if (!Attach(
            InternetConnectW(session.Get(), host, port, user, password, service, flags, context)))
        return LastErrorResult();
    return S_OK;
}

// InetRequest

namespace {

std::atomic<DWORD> g_socket_timeout{kSocketTimeoutMs};

} // namespace

DWORD SetSocketTimeout(DWORD milliseconds) {
    return g_socket_timeout.exchange(milliseconds != 0 ? milliseconds : kSocketTimeoutMs);
}

HRESULT InetRequest::LimitWaits() {
    const DWORD timeout = g_socket_timeout.load();
    for (DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT,
                         INTERNET_OPTION_RECEIVE_TIMEOUT})
        RETURN_IF_FAILED(SetOption(option, timeout));
    return S_OK;
}

HRESULT InetRequest::Open(const InetConnection& connection, const wchar_t* verb,
                          const wchar_t* object, bool secure, const wchar_t* referrer,
                          DWORD_PTR context, DWORD extraFlags) {
    if (object == nullptr || !connection.IsOpen())
        return E_INVALIDARG;
    if (context == 0)
        context = reinterpret_cast<DWORD_PTR>(this);
    DWORD flags = (secure ? kSecureRequestFlags : kRequestFlags) | extraFlags;
    if (!Attach(HttpOpenRequestW(connection.Get(), verb, object, L"HTTP/1.1", referrer, nullptr,
                                 flags, context)))
        return LastErrorResult();
    return LimitWaits();
}

HRESULT InetRequest::OpenFtpFile(const InetConnection& connection, const wchar_t* path,
                                 DWORD access, DWORD_PTR context) {
    if (path == nullptr || !connection.IsOpen())
        return E_INVALIDARG;
    if (context == 0)
        context = reinterpret_cast<DWORD_PTR>(this);
    if (!Attach(FtpOpenFileW(connection.Get(), path, access, FTP_TRANSFER_TYPE_BINARY, context)))
        return LastErrorResult();
    return S_OK;
}

HRESULT InetRequest::AddHeaders(const wchar_t* block, DWORD length, DWORD flags) {
    RETURN_IF_FAILED(RequireOpen(*this));
    return ResultOf(HttpAddRequestHeadersW(m_handle, block, length, flags));
}

HRESULT InetRequest::AddHeader(const wchar_t* name, const wchar_t* value) {
    if (name == nullptr || value == nullptr)
        return E_INVALIDARG;
    return WithCopies([&] {
        std::wstring line = std::wstring(name) + L": " + value + L"\r\n";
        return AddHeaders(line.c_str(), static_cast<DWORD>(line.size()), HTTP_ADDREQ_FLAG_ADD);
    });
}

HRESULT InetRequest::AddHeader(const wchar_t* name, std::int64_t number) {
    return WithCopies([&] { return AddHeader(name, std::to_wstring(number).c_str()); });
}

HRESULT InetRequest::Send(const wchar_t* headers, const void* body, DWORD length) {
    RETURN_IF_FAILED(RequireOpen(*this));
    return WithCopies([&] {
        std::wstring copy = headers ? headers : L"";
        return ResultOf(HttpSendRequestW(m_handle, copy.c_str(), static_cast<DWORD>(copy.size()),
                                         const_cast<void*>(body), length));
    });
}

HRESULT InetRequest::SendEx(DWORD totalLength, DWORD_PTR context) {
    RETURN_IF_FAILED(RequireOpen(*this));
    INTERNET_BUFFERSW buffers{};
    buffers.dwStructSize = sizeof(buffers);
    buffers.dwBufferTotal = totalLength;
    return ResultOf(HttpSendRequestExW(m_handle, &buffers, nullptr, HSR_INITIATE, context));
}

HRESULT InetRequest::Write(const void* data, DWORD length, DWORD* written) {
    RETURN_IF_FAILED(RequireOpen(*this));
    DWORD ignored = 0;
    return ResultOf(InternetWriteFile(m_handle, data, length, written ? written : &ignored));
}

HRESULT InetRequest::End() {
    RETURN_IF_FAILED(RequireOpen(*this));
    return ResultOf(HttpEndRequestW(m_handle, nullptr, 0, 0));
}

HRESULT InetRequest::QueryHeader(DWORD level, std::wstring& text) const {
    text.clear();
    RETURN_IF_FAILED(RequireOpen(*this));
    DWORD size = 0;
    if (!HttpQueryInfoW(m_handle, level, nullptr, &size, nullptr) &&
        GetLastError() != ERROR_INSUFFICIENT_BUFFER)
        return LastErrorResult();
    return WithCopies([&] {
        std::vector<wchar_t> buffer(size / sizeof(wchar_t) + 2, L'\0');
        size = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
        if (!HttpQueryInfoW(m_handle, level, buffer.data(), &size, nullptr))
            return LastErrorResult();
        text.assign(buffer.data(), size / sizeof(wchar_t));
        return S_OK;
    });
}

HRESULT InetRequest::QueryNumber(DWORD level, DWORD& number) const {
    number = 0;
    RETURN_IF_FAILED(RequireOpen(*this));
    DWORD size = sizeof(number);
    return ResultOf(
        HttpQueryInfoW(m_handle, level | HTTP_QUERY_FLAG_NUMBER, &number, &size, nullptr));
}

HRESULT InetRequest::ReadFile(void* buffer, DWORD length, DWORD* read) {
    RETURN_IF_FAILED(RequireOpen(*this));
    DWORD ignored = 0;
    return ResultOf(InternetReadFile(m_handle, buffer, length, read ? read : &ignored));
}

HRESULT InetRequest::StatusToResult() const {
    DWORD status = 0;
    RETURN_IF_FAILED(QueryNumber(HTTP_QUERY_STATUS_CODE, status));
    if (status < 300)
        return S_OK;
    if (status < 600)
        return MakeHttpStatusError(kSubsystemInetUtils, status);
    return E_FAIL;
}

// Read as text: a 32-bit number query would fail on bodies beyond 4 GiB.
HRESULT InetRequest::QueryContentLength(ULONGLONG& length) const {
    length = 0;
    std::wstring text;
    RETURN_IF_FAILED(QueryHeader(HTTP_QUERY_CONTENT_LENGTH, text));
    return ParseDecimal(text, length) ? S_OK : E_FAIL;
}

namespace {

// One pass of the read loop: reads at most `wanted` bytes into the sink.
// A caller's fixed buffer is read into directly. A growable stream gets its
// bytes through one reused buffer: WinINet under Wine reads into a hot buffer
// four times faster than into fresh stretches of a large block, and the copy
// after it costs little.
class SinkReader {
public:
    SinkReader(InetRequest& request, ByteSink& sink, ULONGLONG expected)
        : m_request(request), m_sink(sink), m_fixed(!sink.Growable()),
          m_buffer_size(static_cast<DWORD>(std::clamp<ULONGLONG>(
              expected ? expected : kUnknownLengthBuffer, kMinReadBuffer, kMaxReadChunk))) {}

    HRESULT ReadChunk(ULONGLONG total, ULONGLONG wanted, DWORD& read) {
        read = 0;
        DWORD length = static_cast<DWORD>(std::min<ULONGLONG>(wanted, kMaxReadChunk));
        if (m_fixed)
            return ReadDirect(total, length, read);
        return ReadThroughBuffer(length, read);
    }

private:
    HRESULT ReadDirect(ULONGLONG total, DWORD length, DWORD& read) {
        ULONGLONG capacity = m_sink.Capacity();
        if (m_sink.Data() == nullptr || capacity <= total)
            return IO_E_UNSUPPORTED; // a full fixed buffer takes nothing more
        length = static_cast<DWORD>(std::min<ULONGLONG>(length, capacity - total));
        return m_request.ReadFile(m_sink.Data() + total, length, &read);
    }

    HRESULT ReadThroughBuffer(DWORD length, DWORD& read) {
        if (m_buffer.empty())
            RETURN_IF_FAILED(WithCopies([&] {
                m_buffer.resize(m_buffer_size);
                return S_OK;
            }));
        length = std::min<DWORD>(length, static_cast<DWORD>(m_buffer.size()));
        RETURN_IF_FAILED(m_request.ReadFile(m_buffer.data(), length, &read));
        if (read == 0)
            return S_OK;
        size_t written = 0;
        RETURN_IF_FAILED(m_sink.Write(m_buffer.data(), read, &written));
        read = static_cast<DWORD>(written);
        return S_OK;
    }

    InetRequest& m_request;
    ByteSink& m_sink;
    bool m_fixed;
    DWORD m_buffer_size;
    std::vector<BYTE> m_buffer;
};

} // namespace

HRESULT InetRequest::ReadResponse(ByteSink& stream, ULONGLONG& total, ReadProgress progress,
                                  void* progressContext) {
    total = 0;
    RETURN_IF_FAILED(RequireOpen(*this));
    ULONGLONG length = 0;
    bool lengthKnown = SUCCEEDED(QueryContentLength(length));
    ULONGLONG expected = 0; // unknown: read to the end
    if (!stream.Growable()) {
        expected = stream.Capacity();
    } else {
        if (lengthKnown)
            expected = length;
        // Room for the start only; the rest is taken as the bytes come. Best
        // effort: a stream that cannot grow fails at its first write.
        ULONGLONG first = expected != 0 ? expected : kUnknownLengthGuess;
        stream.Reserve(static_cast<size_t>(std::min(first, kMaxFirstReservation)));
    }

    SinkReader reader(*this, stream, expected);
    HRESULT hr = S_OK;
    for (;;) {
        ULONGLONG wanted = expected != 0 ? expected - total : kMaxReadChunk;
        DWORD read = 0;
        hr = reader.ReadChunk(total, wanted, read);
        if (FAILED(hr))
            break;
        if (read == 0) {
            hr = INET_E_END_OF_DATA;
            break;
        }
        total += read;
        if (progress) {
            hr = progress(total, progressContext);
            if (FAILED(hr))
                break;
        }
        if (expected != 0 && total >= expected) {
            hr = S_OK;
            break;
        }
    }
    stream.SetSize(static_cast<size_t>(total));
    return hr;
}

} // namespace gd
