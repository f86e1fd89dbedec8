// How the host reads and writes a document through a file system's handle:
// the way a PDF viewer opens one, and the way a save writes one.
#pragma once

#include "errors/check.h"
#include "plugin/sdk/lumo.h"

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

namespace gd {

enum class ReadPattern {
    Sequential, // start to end
    Pdf,        // the last kilobyte, scattered blocks, then start to end
};

// A file of this machine, read or written whole.
class LocalFile {
public:
    LocalFile() = default;
    ~LocalFile() {
        if (m_handle != INVALID_HANDLE_VALUE)
            CloseHandle(m_handle);
    }
    LocalFile(const LocalFile&) = delete;
    LocalFile& operator=(const LocalFile&) = delete;

    HRESULT Open(const std::wstring& path, bool write) {
        m_handle = CreateFileW(
            path.c_str(), write ? GENERIC_WRITE : GENERIC_READ, write ? 0 : FILE_SHARE_READ,
            nullptr, write ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        RETURN_HR_IF(HRESULT_FROM_WIN32(GetLastError()), m_handle == INVALID_HANDLE_VALUE);
        return S_OK;
    }
    HRESULT Size(LONGLONG* size) {
        LARGE_INTEGER value{};
        RETURN_HR_IF(HRESULT_FROM_WIN32(GetLastError()), !GetFileSizeEx(m_handle, &value));
        *size = value.QuadPart;
        return S_OK;
    }
    HRESULT Read(void* buffer, DWORD count, DWORD* read) {
        RETURN_HR_IF(HRESULT_FROM_WIN32(GetLastError()),
                     !ReadFile(m_handle, buffer, count, read, nullptr));
        return S_OK;
    }
    HRESULT Write(const void* data, DWORD count) {
        DWORD written = 0;
        RETURN_HR_IF(HRESULT_FROM_WIN32(GetLastError()),
                     !WriteFile(m_handle, data, count, &written, nullptr));
        RETURN_HR_IF(HRESULT_FROM_WIN32(ERROR_WRITE_FAULT), written != count);
        return S_OK;
    }

private:
    HANDLE m_handle = INVALID_HANDLE_VALUE;
};

// Takes count bytes; a failure ends the read.
using ByteSinkFn = std::function<HRESULT(const BYTE* data, DWORD count)>;
// Gives up to count bytes (0 at the end).
using ByteSourceFn = std::function<HRESULT(BYTE* data, DWORD count, DWORD* got)>;

// Reads the file (of the size the handle gave) in reads of chunk, after the
// viewer's probes for Pdf, and hands every byte in file order to sink; the
// probed blocks must match what the pass in order read. total counts every
// byte read, probes included.
HRESULT ReadThroughHandle(Lumo::IAfsFileHandle* handle, DWORD chunk, ReadPattern pattern,
                          LONGLONG size, const ByteSinkFn& sink, std::int64_t* total);

// Announces size, begins writing, writes what source gives in 1 MiB pieces
// (size bytes in all) and commits.
HRESULT WriteThroughHandle(Lumo::IAfsFileHandle* handle, LONGLONG size, const ByteSourceFn& source);

} // namespace gd
