// The two checking forms and the guarded-step boundary.
//
// RETURN_IF_FAILED(expr)          expr yields an HRESULT; a failure returns it.
// RETURN_HR_IF_NULL(hr, ptr)      a null ptr returns hr.
// RETURN_HR_IF(hr, condition)     a true condition returns hr.
// LOG_IF_FAILED(expr)             expr yields an HRESULT; a failure is traced
//                                 and the HRESULT handed on (teardown goes on).
// THROW_IF_FAILED(expr), THROW_HR_IF_NULL(hr, ptr), THROW_HR_IF(hr, condition)
//                                 the same, throwing HResultException.
// Each composes a trace text with the expression's source text; it serves
// debugging only.
#pragma once

#include "errors/exception.h"

#include <new>
#include <string>
#include <utility>

namespace gd {

// "Expression: "<expr>" caused returning "<FormatHResult>""
std::wstring ComposeReturnTrace(const char* expression, HRESULT hr);
// "Expression "<expr>" caused throwing "<FormatHResult>""
std::wstring ComposeThrowTrace(const char* expression, HRESULT hr);

// Receives every trace text; by default nothing. Tests install one to read them.
using TraceSink = void (*)(const std::wstring& text);
TraceSink SetTraceSink(TraceSink sink);

void TraceReturn(const char* expression, HRESULT hr);

inline HRESULT LogIfFailed(const char* expression, HRESULT hr) {
    if (FAILED(hr))
        TraceReturn(expression, hr);
    return hr;
}
[[noreturn]] void ThrowTraced(const char* expression, HRESULT hr);

// The code of GetLastError() after a failed call; E_FAIL when the call set none,
// so that a failure never reads as success.
inline HRESULT LastWin32Error() {
    const DWORD error = GetLastError();
    return error != ERROR_SUCCESS ? HRESULT_FROM_WIN32(error) : E_FAIL;
}

// Runs one guarded step: exceptions become codes, none leaves it.
template <class Step> HRESULT RunGuarded(Step&& step) noexcept {
    try {
        return std::forward<Step>(step)();
    } catch (const HResultException& e) {
        HRESULT hr = e.m_hresult < 0 ? e.m_hresult : E_FAIL;
        TraceReturn("e.m_hresult", hr);
        return hr;
    } catch (const std::bad_alloc&) {
        TraceReturn("E_OUTOFMEMORY", E_OUTOFMEMORY);
        return E_OUTOFMEMORY;
    } catch (...) {
        TraceReturn("E_FAIL", E_FAIL);
        return E_FAIL;
    }
}

} // namespace gd

#define RETURN_HR_IF(hr, condition)                                                                \
    do {                                                                                           \
        if (condition) {                                                                           \
            HRESULT gd_hr_ = (hr);                                                                 \
            ::gd::TraceReturn(#condition, gd_hr_);                                                 \
            return gd_hr_;                                                                         \
        }                                                                                          \
    } while (0)

#define RETURN_IF_FAILED(expr)                                                                     \
    do {                                                                                           \
        HRESULT gd_hr_ = (expr);                                                                   \
        if (FAILED(gd_hr_)) {                                                                      \
            ::gd::TraceReturn(#expr, gd_hr_);                                                      \
            return gd_hr_;                                                                         \
        }                                                                                          \
    } while (0)

#define RETURN_HR_IF_NULL(hr, ptr) RETURN_HR_IF(hr, (ptr) == nullptr)

#define LOG_IF_FAILED(expr) ::gd::LogIfFailed(#expr, (expr))

#define THROW_HR_IF(hr, condition)                                                                 \
    do {                                                                                           \
        if (condition)                                                                             \
            ::gd::ThrowTraced(#condition, (hr));                                                   \
    } while (0)

#define THROW_IF_FAILED(expr)                                                                      \
    do {                                                                                           \
        HRESULT gd_hr_ = (expr);                                                                   \
        if (FAILED(gd_hr_))                                                                        \
            ::gd::ThrowTraced(#expr, gd_hr_);                                                      \
    } while (0)

#define THROW_HR_IF_NULL(hr, ptr) THROW_HR_IF(hr, (ptr) == nullptr)
