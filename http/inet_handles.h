// Owners of WinINet handles: one object per handle, one small operation per
// WinINet call. Every operation returns an HRESULT and never throws.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <cstdint>
#include <string>

namespace gd {

class ByteSink;

// The code of a failed WinINet or Win32 call: 0 when the error is 0, the error
// itself when already negative, else 0x83FF0000 | (error & 0xFFFF).
HRESULT ResultFromWin32(DWORD error);
// ResultFromWin32(GetLastError()).
HRESULT LastErrorResult();

// Request flags: reload, no cache write, keep-alive; secure adds TLS. The
// certificate checks are never switched off here.
constexpr DWORD kRequestFlags =
    INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_KEEP_CONNECTION;
constexpr DWORD kSecureRequestFlags = kRequestFlags | INTERNET_FLAG_SECURE;

// The longest wait of one socket operation of a request (connect, a send, the
// wait for data): a dead or silent connection ends as a failure. WinINet
// under Wine waits forever without one, and takes it from the request handle
// only.
inline constexpr DWORD kSocketTimeoutMs = 60 * 1000;
// Puts another bound in place for the requests opened from now on (0: the
// default again) and returns the one before.
DWORD SetSocketTimeout(DWORD milliseconds);

class InetHandle {
public:
    InetHandle() = default;
    explicit InetHandle(HINTERNET handle) { Attach(handle); }
    InetHandle(const InetHandle&) = delete;
    InetHandle& operator=(const InetHandle&) = delete;
    ~InetHandle() { Close(); }

    // Closes the handle held, then keeps the new one; reports whether it is real.
    bool Attach(HINTERNET handle);
    // Hands the handle out without closing it.
    HINTERNET Detach();
    void Close();

    HINTERNET Get() const { return m_handle; }
    bool IsOpen() const { return IsRealHandle(m_handle); }
    static bool IsRealHandle(HINTERNET handle) {
        return handle != nullptr && handle != reinterpret_cast<HINTERNET>(~std::uintptr_t{0});
    }

    HRESULT QueryOption(DWORD option, void* buffer, DWORD* length) const;
    HRESULT SetOption(DWORD option, DWORD value);
    HRESULT SetOption(DWORD option, const void* buffer, DWORD length);

protected:
    HINTERNET m_handle = nullptr;
};

class InetSession : public InetHandle {
public:
    InetSession() = default;
    ~InetSession() { Close(); }

    // An accessType of all ones means a named proxy when one is given, else the
    // system's preconfigured settings.
    HRESULT Open(const wchar_t* agent, const wchar_t* proxy = nullptr,
                 const wchar_t* bypass = nullptr, DWORD accessType = ~DWORD{0});
    // Installs a status function and keeps the one it replaces.
    HRESULT SetStatusCallback(INTERNET_STATUS_CALLBACK callback);
    // Puts the saved status function back.
    void RestoreStatusCallback();
    // Reinstates the saved status function, then closes.
    void Close();

private:
    INTERNET_STATUS_CALLBACK m_saved_callback = nullptr;
    bool m_callback_installed = false;
};

class InetConnection : public InetHandle {
public:
    // service INTERNET_SERVICE_FTP connects passively; anything else is HTTP.
    // A context of 0 stands for this object's address.
    HRESULT Open(const InetSession& session, DWORD service, const wchar_t* host, INTERNET_PORT port,
                 const wchar_t* user = nullptr, const wchar_t* password = nullptr,
                 DWORD_PTR context = 0);
};

// Receives the running byte count after each chunk; a negative answer stops.
using ReadProgress = HRESULT (*)(ULONGLONG total, void* context);

class InetRequest : public InetHandle {
public:
    // A context of 0 stands for this object's address; extraFlags go with the
    // request flags. Each socket operation is bounded by the socket timeout.
    HRESULT Open(const InetConnection& connection, const wchar_t* verb, const wchar_t* object,
                 bool secure, const wchar_t* referrer = nullptr, DWORD_PTR context = 0,
                 DWORD extraFlags = 0);
    HRESULT OpenFtpFile(const InetConnection& connection, const wchar_t* path, DWORD access,
                        DWORD_PTR context = 0);

    HRESULT AddHeaders(const wchar_t* block, DWORD length, DWORD flags);
    HRESULT AddHeader(const wchar_t* name, const wchar_t* value);
    // Signed 64-bit decimal: sizes beyond 4 GiB stay exact.
    HRESULT AddHeader(const wchar_t* name, std::int64_t number);

    HRESULT Send(const wchar_t* headers, const void* body, DWORD length);
    HRESULT SendEx(DWORD totalLength, DWORD_PTR context = 0);
    HRESULT Write(const void* data, DWORD length, DWORD* written);
    HRESULT End();

    HRESULT QueryHeader(DWORD level, std::wstring& text) const;
    HRESULT QueryNumber(DWORD level, DWORD& number) const;
    HRESULT ReadFile(void* buffer, DWORD length, DWORD* read);

    // 0 below 300; 0x82211000 + status for 300-599; E_FAIL from 600.
    HRESULT StatusToResult() const;
    // Collects the body into stream; total receives the bytes read. A body that
    // ends before its expected length (or has none) ends with 0x8221001B.
    HRESULT ReadResponse(ByteSink& stream, ULONGLONG& total, ReadProgress progress = nullptr,
                         void* progressContext = nullptr);
    // The announced body length; fails when there is none or it is not a
    // plain decimal.
    HRESULT QueryContentLength(ULONGLONG& length) const;

private:
    HRESULT LimitWaits();
};

} // namespace gd
