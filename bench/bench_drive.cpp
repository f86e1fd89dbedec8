// Drive request kinds against the emulator, one mode per process so that each
// peak is its own. Prints one line:
// "RESULT <mode> <bytes or entries> <seconds> <requests> <peak working set>".
//
//   bench_drive range <chunk> <host> <port> <token> <file id> <size>
//   bench_drive account <chunk> <host> <port> <token> <file id> <size>
//   bench_drive reference <chunk> <host> <port> <token> <file id> <size>
//   bench_drive whole <chunk> <host> <port> <token> <file id> <size>
//   bench_drive upload <chunk> <host> <port> <token> <file id> <size>
//   bench_drive put <chunk> <host> <port> <token> <session path and query> <size>
//   bench_drive list 0 <host> <port> <token> <folder id> 0
// "range" reads with the token as it is; "account" reads through a signed-in
// account, whose every request is preceded by the token check; "reference"
// and "put" are plain WinINet on one connection; "whole" is plain WinINet
// reading the file in one request, in chunk-sized calls.
// The emulator override must name host:port (DRIVE_EMULATOR_HOST).
#include "auth/client_credentials.h"
#include "driveapi/account_requests.h"
#include "driveapi/download.h"
#include "driveapi/files.h"
#include "driveapi/upload.h"
#include "http/inet_handles.h"
#include "plugin/module.h"

#include <windows.h>
#include <psapi.h>
#include <wininet.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr unsigned kPatternPeriod = 251; // byte i of a generated file is i % 251

struct Args {
    std::string mode;
    DWORD chunk = 0;
    std::wstring host;
    INTERNET_PORT port = 0;
    std::wstring token;
    std::wstring id;
    long long size = 0;
};

struct Outcome {
    HRESULT hr = S_OK;
    long long amount = 0;
    long long requests = 0;
    bool intact = true;
};

std::wstring Widen(const char* text) {
    return std::wstring(text, text + std::strlen(text));
}

bool ChunkIntact(const BYTE* data, DWORD length, long long offset) {
    return length == 0 || data[0] == static_cast<BYTE>(offset % kPatternPeriod);
}

// Reads the file through a range reader whose requests run through runner.
Outcome ReadThroughReader(const Args& args, const gd::RequestRunner& runner,
                          long long requestsPerCall) {
    Outcome outcome;
    gd::RequestRunner counted = [&](const gd::RequestKind& kind) {
        outcome.requests += requestsPerCall;
        return runner(kind);
    };
    auto file = std::make_shared<gd::DriveFile>();
    file->id = args.id;
    file->item = std::make_shared<gd::DriveItem>();
    file->item->file_size = args.size;
    gd::DriveRangeReader reader(counted, file);
    std::vector<BYTE> buffer(args.chunk);
    for (;;) {
        DWORD read = 0;
        outcome.hr = reader.Read(buffer.data(), args.chunk, &read);
        if (FAILED(outcome.hr) || read == 0)
            break;
        outcome.intact = outcome.intact && ChunkIntact(buffer.data(), read, outcome.amount);
        outcome.amount += read;
    }
    return outcome;
}

// Plain WinINet on one kept connection: ranges of span bytes each, read in
// chunk-sized calls.
Outcome ReadReference(const Args& args, long long span) {
    Outcome outcome;
    HINTERNET session = InternetOpenW(L"bench", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    HINTERNET connection = InternetConnectW(session, args.host.c_str(), args.port, nullptr, nullptr,
                                            INTERNET_SERVICE_HTTP, 0, 0);
    std::wstring object = L"/drive/v3/files/" + args.id + L"?alt=media";
    std::wstring authorization = L"Authorization: Bearer " + args.token + L"\r\n";
    std::vector<BYTE> buffer(args.chunk);
    while (outcome.amount < args.size) {
        long long last = std::min(outcome.amount + span, args.size) - 1;
        std::wstring headers = authorization + L"Range: bytes=" + std::to_wstring(outcome.amount) +
                               L"-" + std::to_wstring(last) + L"\r\n";
        HINTERNET request = HttpOpenRequestW(connection, L"GET", object.c_str(), L"HTTP/1.1",
                                             nullptr, nullptr, gd::kRequestFlags, 0);
        ++outcome.requests;
        if (!request || !HttpSendRequestW(request, headers.c_str(),
                                          static_cast<DWORD>(headers.size()), nullptr, 0)) {
            outcome.hr = gd::LastErrorResult();
            InternetCloseHandle(request);
            break;
        }
        long long before = outcome.amount;
        while (outcome.amount <= last) {
            DWORD total = 0, read = 0;
            while (total < args.chunk &&
                   InternetReadFile(request, buffer.data() + total, args.chunk - total, &read) &&
                   read != 0)
                total += read;
            if (total == 0)
                break;
            outcome.intact = outcome.intact && ChunkIntact(buffer.data(), total, outcome.amount);
            outcome.amount += total;
        }
        InternetCloseHandle(request);
        if (outcome.amount == before)
            break;
    }
    InternetCloseHandle(connection);
    InternetCloseHandle(session);
    return outcome;
}

// An account holding the token: each attempt first asks tokeninfo about it.
gd::RequestRunner SignedInRunner(const Args& args) {
    auto account =
        std::make_shared<gd::DriveAccount>(gd::BuiltInClientId(), gd::BuiltInClientSecret());
    auto tokens = std::make_shared<gd::TokenSet>();
    tokens->client_id = account->ClientId();
    tokens->client_secret = account->ClientSecret();
    tokens->access_token = args.token;
    tokens->expires_in = 3600;
    account->SetTokens(tokens);
    return gd::AccountRunner(account);
}

// Plain WinINet sending the whole body to an upload session with
// HttpSendRequestEx and InternetWriteFile.
Outcome PutReference(const Args& args) {
    Outcome outcome;
    outcome.requests = 1;
    HINTERNET session = InternetOpenW(L"bench", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    HINTERNET connection = InternetConnectW(session, args.host.c_str(), args.port, nullptr, nullptr,
                                            INTERNET_SERVICE_HTTP, 0, 0);
    HINTERNET request = HttpOpenRequestW(connection, L"PUT", args.id.c_str(), L"HTTP/1.1", nullptr,
                                         nullptr, gd::kRequestFlags, 0);
    std::wstring headers =
        L"Authorization: Bearer " + args.token + L"\r\nContent-Type: application/octet-stream\r\n";
    INTERNET_BUFFERSW buffers{};
    buffers.dwStructSize = sizeof buffers;
    buffers.lpcszHeader = headers.c_str();
    buffers.dwHeadersLength = static_cast<DWORD>(headers.size());
    buffers.dwBufferTotal = static_cast<DWORD>(args.size);
    std::vector<BYTE> pattern(args.chunk + kPatternPeriod);
    for (size_t i = 0; i < pattern.size(); ++i)
        pattern[i] = static_cast<BYTE>(i % kPatternPeriod);
    bool ok = request && HttpSendRequestExW(request, &buffers, nullptr, 0, 0);
    while (ok && outcome.amount < args.size) {
        DWORD count =
            static_cast<DWORD>(std::min<long long>(args.chunk, args.size - outcome.amount));
        DWORD written = 0;
        ok = InternetWriteFile(request, pattern.data() + outcome.amount % kPatternPeriod, count,
                               &written);
        outcome.amount += written;
    }
    DWORD status = 0, length = sizeof status;
    ok = ok && HttpEndRequestW(request, nullptr, 0, 0) &&
         HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &length,
                        nullptr);
    if (!ok)
        outcome.hr = gd::LastErrorResult();
    else if (status != 200)
        outcome.hr = E_FAIL;
    InternetCloseHandle(request);
    InternetCloseHandle(connection);
    InternetCloseHandle(session);
    return outcome;
}

Outcome Upload(const Args& args) {
    Outcome outcome;
    std::unique_ptr<gd::DriveUploadWriter> writer;
    outcome.hr = gd::OpenUpload(gd::RunWithToken(args.token), gd::DriveFile{args.id, nullptr},
                                args.size, writer);
    outcome.requests = 2;
    // One chunk of the pattern, sent again and again: its period divides no
    // chunk size, so each write starts where the last left the pattern.
    std::vector<BYTE> pattern(args.chunk + kPatternPeriod);
    for (size_t i = 0; i < pattern.size(); ++i)
        pattern[i] = static_cast<BYTE>(i % kPatternPeriod);
    while (SUCCEEDED(outcome.hr) && outcome.amount < args.size) {
        DWORD count =
            static_cast<DWORD>(std::min<long long>(args.chunk, args.size - outcome.amount));
        DWORD written = 0;
        outcome.hr =
            writer->Write(pattern.data() + outcome.amount % kPatternPeriod, count, &written);
        outcome.amount += written;
    }
    if (SUCCEEDED(outcome.hr))
        outcome.hr = writer->Finish();
    return outcome;
}

Outcome List(const Args& args) {
    Outcome outcome;
    gd::DriveListing listing;
    gd::DriveFile folder{args.id, nullptr};
    outcome.hr = gd::ListChildren(args.token, listing, &folder);
    outcome.amount = static_cast<long long>(listing.files.size());
    outcome.requests = (outcome.amount + 999) / 1000;
    return outcome;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 8) {
        std::fprintf(stderr,
                     "usage: bench_drive <range|account|reference|whole|upload|put|list> <chunk> <host> "
                     "<port> <token> <id> <size>\n");
        return 2;
    }
    gd::InitModule();
    Args args;
    args.mode = argv[1];
    args.chunk = static_cast<DWORD>(std::strtoul(argv[2], nullptr, 10));
    args.host = Widen(argv[3]);
    args.port = static_cast<INTERNET_PORT>(std::atoi(argv[4]));
    args.token = Widen(argv[5]);
    args.id = Widen(argv[6]);
    args.size = std::atoll(argv[7]);

    auto start = std::chrono::steady_clock::now();
    Outcome outcome;
    if (args.mode == "range")
        outcome = ReadThroughReader(args, gd::RunWithToken(args.token), 1);
    else if (args.mode == "account")
        outcome = ReadThroughReader(args, SignedInRunner(args), 2);
    else if (args.mode == "reference")
        outcome = ReadReference(args, args.chunk);
    else if (args.mode == "whole")
        outcome = ReadReference(args, args.size);
    else if (args.mode == "upload")
        outcome = Upload(args);
    else if (args.mode == "put")
        outcome = PutReference(args);
    else if (args.mode == "list")
        outcome = List(args);
    else
        return 2;
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    PROCESS_MEMORY_COUNTERS memory{};
    memory.cb = sizeof(memory);
    GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof(memory));
    if (FAILED(outcome.hr) || !outcome.intact) {
        std::fprintf(stderr, "%s failed: 0x%08lX%s\n", args.mode.c_str(),
                     static_cast<unsigned long>(outcome.hr), outcome.intact ? "" : " (bad bytes)");
        return 1;
    }
    std::printf("RESULT %s %lld %.3f %lld %llu\n", args.mode.c_str(), outcome.amount, seconds,
                outcome.requests, static_cast<unsigned long long>(memory.PeakWorkingSetSize));
    gd::UninitModule();
    return 0;
}
