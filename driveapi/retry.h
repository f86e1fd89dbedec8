// The retry driver wrapped round every Drive request kind: waits with growing
// delays on rate limits and server errors, renews the token on a 401.
#pragma once

#include "driveapi/drive_account.h"
#include "errors/check.h"

#include <windows.h>

#include <string>
#include <utility>

namespace gd {

// Where the driver's waits go; tests install one that does not sleep.
class RetryClock {
public:
    virtual ~RetryClock() = default;
    virtual DWORD TickCount() = 0;
    virtual void Sleep(DWORD milliseconds) = 0;
};

// Installs a clock for the whole process and returns the previous one; null
// restores the system's (GetTickCount and Sleep).
RetryClock* SetRetryClock(RetryClock* clock);

// The delays of successive waits for one failure code; each wait adds 0-255 ms.
inline constexpr DWORD kRetryDelays[] = {1000, 2000, 4000, 8000, 16000};
inline constexpr unsigned kMaxWaitsPerCode = 5;
inline constexpr unsigned kMaxWaitsPerCall = 10;
inline constexpr unsigned kMaxRenewalsPerCall = 2;

// The HTTP status a failure of the transport or of the Drive client carries;
// 0 for any other code.
unsigned HttpStatusOf(HRESULT hr);

// Decides after each failed attempt of one call whether another follows.
class RetryRounds {
public:
    // Without an account a 401 ends the call.
    explicit RetryRounds(DriveAccount* account) : m_account(account) {}

    // S_OK: attempt again (after the wait the failure asks for). A failure:
    // the call ends with it. mayRenew: a 401 may be answered by renewing the
    // token (not when the token step itself failed, it has renewed already).
    HRESULT AfterFailure(HRESULT failure, bool mayRenew);

private:
    HRESULT Renew(HRESULT failure);
    HRESULT Wait(HRESULT failure);

    DriveAccount* m_account;
    HRESULT m_previous = S_OK;
    unsigned m_waits = 0; // for the current code; also the delay index
    unsigned m_total_waits = 0;
    unsigned m_renewals = 0;
};

// Runs kind, a callable HRESULT(const std::wstring& token), with the account's
// current access token until it succeeds or the rounds give up.
template <class Kind> HRESULT RunWithRetry(DriveAccount& account, Kind&& kind) {
    RetryRounds rounds(&account);
    for (;;) {
        std::wstring token;
        HRESULT hr = account.GetAccessToken(token);
        bool tokenFailed = FAILED(hr);
        if (!tokenFailed)
            hr = kind(std::as_const(token));
        if (SUCCEEDED(hr))
            return hr;
        RETURN_IF_FAILED(rounds.AfterFailure(hr, !tokenFailed));
    }
}

// The same waits for a request that has its token already (a 401 ends it).
template <class Kind> HRESULT RunWithBackoff(Kind&& kind) {
    RetryRounds rounds(nullptr);
    for (;;) {
        HRESULT hr = kind();
        if (SUCCEEDED(hr))
            return hr;
        RETURN_IF_FAILED(rounds.AfterFailure(hr, false));
    }
}

} // namespace gd
