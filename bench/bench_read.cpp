// Reads one large body from the emulator in one of three ways (or only gives
// that much fresh memory: touch) and prints one
// line: "RESULT <mode> <bytes> <seconds> <MB/s> <peak working set> <peak pagefile>".
// scripts/bench.sh runs each mode in its own process, so each peak is its own.
//
//   bench_read <reference|oneshot|readinto|touch> <host> <port> <bytes>
#include "errors/codes.h"
#include "http/endpoint.h"
#include "http/inet_client.h"
#include "http/inet_handles.h"
#include "http/memory_stream.h"
#include "http/one_shot.h"
#include "plugin/module.h"

#include <windows.h>
#include <psapi.h>
#include <wininet.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr DWORD kChunk = 1u << 20;
constexpr unsigned kPatternPeriod = 251; // the emulator's body: byte i is i % 251

struct Outcome {
    HRESULT hr = S_OK;
    ULONGLONG bytes = 0;
    bool intact = true;
};

// Spot-checks the first byte of each chunk against the pattern.
bool ChunkIntact(const BYTE* data, DWORD length, ULONGLONG offset) {
    return length == 0 || data[0] == static_cast<BYTE>(offset % kPatternPeriod);
}

// Plain WinINet with 1 MiB reads: what the engine is measured against.
Outcome ReadReference(const std::wstring& host, INTERNET_PORT port, const std::wstring& object) {
    Outcome outcome;
    HINTERNET session = InternetOpenW(L"bench", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    HINTERNET connection = InternetConnectW(session, host.c_str(), port, nullptr, nullptr,
                                            INTERNET_SERVICE_HTTP, 0, 0);
    HINTERNET request = HttpOpenRequestW(connection, L"GET", object.c_str(), L"HTTP/1.1", nullptr,
                                         nullptr, gd::kRequestFlags, 0);
    if (!request || !HttpSendRequestW(request, nullptr, 0, nullptr, 0)) {
        outcome.hr = gd::LastErrorResult();
    } else {
        std::vector<BYTE> buffer(kChunk);
        DWORD read = 0;
        while (InternetReadFile(request, buffer.data(), kChunk, &read) && read != 0) {
            outcome.intact = outcome.intact && ChunkIntact(buffer.data(), read, outcome.bytes);
            outcome.bytes += read;
        }
    }
    InternetCloseHandle(request);
    InternetCloseHandle(connection);
    InternetCloseHandle(session);
    return outcome;
}

// The body stays with the caller: freeing it is not part of getting it.
Outcome ReadOneShot(const std::wstring& host, INTERNET_PORT port, const std::wstring& object,
                    gd::MemoryStream& response) {
    Outcome outcome;
    outcome.hr = gd::HttpGetToStream(gd::Endpoint{host, port, false}, object.c_str(), response);
    outcome.bytes = response.GetSize();
    const BYTE* data = static_cast<const BYTE*>(response.Data());
    for (ULONGLONG offset = 0; offset < outcome.bytes && outcome.intact; offset += kChunk)
        outcome.intact = ChunkIntact(data + offset, 1, offset);
    return outcome;
}

Outcome ReadInto(const std::wstring& host, INTERNET_PORT port, const std::wstring& object) {
    Outcome outcome;
    gd::InetClient client;
    std::wstring url = L"http://" + host + L":" + std::to_wstring(port) + object;
    outcome.hr = client.OpenUrl(url.c_str(), gd::RequestMode::Get);
    std::vector<BYTE> buffer(kChunk);
    while (SUCCEEDED(outcome.hr)) {
        DWORD read = 0;
        outcome.hr = client.ReadInto(buffer.data(), kChunk, read);
        outcome.intact = outcome.intact && ChunkIntact(buffer.data(), read, outcome.bytes);
        outcome.bytes += read;
        if (read == 0)
            break;
    }
    if (outcome.hr == gd::INET_E_END_OF_DATA)
        outcome.hr = S_OK;
    return outcome;
}

// Arguments are ASCII (a mode, an address, numbers).
std::wstring Widen(const char* text) {
    return std::wstring(text, text + std::strlen(text));
}

// No network: the cost of giving a body of this size fresh memory at all
// (page faults dominate on some machines), the floor under HttpGetToStream.
Outcome TouchMemory(ULONGLONG size, gd::MemoryStream& memory) {
    Outcome outcome;
    outcome.hr = memory.SetSize(static_cast<size_t>(size));
    outcome.bytes = memory.GetSize();
    return outcome;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: bench_read <reference|oneshot|readinto|touch> <host> <port> <bytes>\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 5)
        return Usage();
    std::wstring mode = Widen(argv[1]);
    std::wstring host = Widen(argv[2]);
    auto port = static_cast<INTERNET_PORT>(std::strtoul(argv[3], nullptr, 10));
    ULONGLONG expected = std::strtoull(argv[4], nullptr, 10);
    std::wstring object = L"/_test/bytes/" + std::to_wstring(expected);

    gd::InitModule();
    gd::MemoryStream body;
    auto start = std::chrono::steady_clock::now();
    Outcome outcome;
    if (mode == L"reference")
        outcome = ReadReference(host, port, object);
    else if (mode == L"oneshot")
        outcome = ReadOneShot(host, port, object, body);
    else if (mode == L"readinto")
        outcome = ReadInto(host, port, object);
    else if (mode == L"touch")
        outcome = TouchMemory(expected, body);
    else
        return Usage();
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    gd::UninitModule();

    PROCESS_MEMORY_COUNTERS memory{};
    memory.cb = sizeof(memory);
    GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof(memory));
    if (FAILED(outcome.hr) || outcome.bytes != expected || !outcome.intact) {
        std::fprintf(stderr, "%ls failed: 0x%08lX, %llu of %llu bytes%s\n", mode.c_str(),
                     static_cast<unsigned long>(outcome.hr), outcome.bytes, expected,
                     outcome.intact ? "" : ", content differs");
        return 1;
    }
    std::printf("RESULT %ls %llu %.3f %.1f %llu %llu\n", mode.c_str(), outcome.bytes, seconds,
                static_cast<double>(outcome.bytes) / 1e6 / seconds,
                static_cast<unsigned long long>(memory.PeakWorkingSetSize),
                static_cast<unsigned long long>(memory.PeakPagefileUsage));
    return 0;
}
