#include "driveapi/retry.h"

#include "driveapi/drive_errors.h"
#include "errors/codes.h"

#include <atomic>

namespace gd {
namespace {

class SystemClock : public RetryClock {
public:
    DWORD TickCount() override { return GetTickCount(); }
    void Sleep(DWORD milliseconds) override { ::Sleep(milliseconds); }
};

SystemClock g_system_clock;
std::atomic<RetryClock*> g_clock{&g_system_clock};

bool IsTransient(HRESULT failure, unsigned status) {
    switch (status) {
    case 429: // Drive's rateLimitExceeded, waited on like a 503
    case 500:
    case 502:
    case 503:
    case 504:
        return true;
    default:
        return failure == DRIVE_E_USER_RATE_LIMIT || failure == DRIVE_E_RATE_LIMIT;
    }
}

} // namespace

RetryClock* SetRetryClock(RetryClock* clock) {
    RetryClock* previous = g_clock.exchange(clock ? clock : &g_system_clock);
    return previous == &g_system_clock ? nullptr : previous;
}

unsigned HttpStatusOf(HRESULT hr) {
    if (!FAILED(hr) || !IsOwnCode(hr))
        return 0;
    unsigned subsystem = SubsystemOf(hr);
    if (subsystem != kSubsystemInetUtils && subsystem != kSubsystemPlugin)
        return 0;
    unsigned code = CodeOf(hr);
    return code >= 0x1000 + 300 && code < 0x1000 + 600 ? code - 0x1000 : 0;
}

HRESULT RetryRounds::AfterFailure(HRESULT failure, bool mayRenew) {
    HRESULT previous = m_previous;
    m_previous = failure;
    unsigned status = HttpStatusOf(failure);
    if (status == 401 && mayRenew)
        return Renew(failure);
    if (!IsTransient(failure, status))
        return failure;
    if (failure != previous)
        m_waits = 0;
    return Wait(failure);
}

HRESULT RetryRounds::Renew(HRESULT failure) {
    if (m_account == nullptr)
        return failure;
    m_account->DropVerdict(); // Drive no longer takes the token
    if (m_renewals == kMaxRenewalsPerCall)
        return failure;
    ++m_renewals;
    HRESULT renewed = RefreshAccountTokens(*m_account);
    if (FAILED(renewed))
        renewed = SignInAccount(*m_account);
    if (FAILED(renewed))
        return IsCancellation(renewed) || renewed == kSignInBusy ? renewed : failure;
    m_waits = 0;
    return S_OK;
}

HRESULT RetryRounds::Wait(HRESULT failure) {
    if (m_waits == kMaxWaitsPerCode || m_total_waits == kMaxWaitsPerCall)
        return failure;
    RetryClock& clock = *g_clock.load();
    clock.Sleep((clock.TickCount() & 255) + kRetryDelays[m_waits]);
    ++m_waits;
    ++m_total_waits;
    return S_OK;
}

} // namespace gd
