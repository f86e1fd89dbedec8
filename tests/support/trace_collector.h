// The traces the check macros write while a collector lives, from any thread.
#pragma once

#include "errors/check.h"

#include <mutex>
#include <string>
#include <vector>

namespace gd::test {

class TraceCollector {
public:
    TraceCollector() : m_previous(SetTraceSink(&Keep)) { Clear(); }
    ~TraceCollector() { SetTraceSink(m_previous); }
    TraceCollector(const TraceCollector&) = delete;
    TraceCollector& operator=(const TraceCollector&) = delete;

    std::vector<std::wstring> Traces() const {
        std::lock_guard<std::mutex> lock(Guard());
        return Kept();
    }
    void Clear() {
        std::lock_guard<std::mutex> lock(Guard());
        Kept().clear();
    }

private:
    static std::mutex& Guard() {
        static std::mutex guard;
        return guard;
    }
    static std::vector<std::wstring>& Kept() {
        static std::vector<std::wstring> kept;
        return kept;
    }
    static void Keep(const std::wstring& text) {
        std::lock_guard<std::mutex> lock(Guard());
        Kept().push_back(text);
    }

    TraceSink m_previous;
};

} // namespace gd::test
