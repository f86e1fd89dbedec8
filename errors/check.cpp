#include "errors/check.h"

#include "errors/registry.h"

#include <atomic>

namespace gd {
namespace {

std::atomic<TraceSink> g_trace_sink{nullptr};

std::wstring Compose(const char* head, const char* expression, const char* verb, HRESULT hr) {
    std::wstring text;
    for (const char* part : {head, "\"", expression, "\"", verb, "\""})
        for (const char* c = part; *c; ++c)
            text.push_back(static_cast<wchar_t>(static_cast<unsigned char>(*c)));
    text += FormatHResult(hr);
    text += L'"';
    return text;
}

} // namespace

std::wstring ComposeReturnTrace(const char* expression, HRESULT hr) {
    return Compose("Expression: ", expression, " caused returning ", hr);
}

std::wstring ComposeThrowTrace(const char* expression, HRESULT hr) {
    return Compose("Expression ", expression, " caused throwing ", hr);
}

TraceSink SetTraceSink(TraceSink sink) {
    return g_trace_sink.exchange(sink);
}

void TraceReturn(const char* expression, HRESULT hr) {
    // Composing costs a system message lookup: only when someone reads it.
    if (TraceSink sink = g_trace_sink.load())
        sink(ComposeReturnTrace(expression, hr));
}

void ThrowTraced(const char* expression, HRESULT hr) {
    throw HResultException(hr, ComposeThrowTrace(expression, hr));
}

} // namespace gd
