// A function that tests may put in place of the real one: replaced and read
// under a lock, so that a test's swap never races a worker's call.
#pragma once

#include <mutex>
#include <utility>

namespace gd {

template <typename Function> class Seam {
public:
    // Puts replacement in place (an empty one restores the real function)
    // and returns what was there.
    Function Replace(Function replacement) {
        std::lock_guard<std::mutex> guard(m_lock);
        std::swap(m_function, replacement);
        return replacement;
    }
    // The replacement in place, or an empty function.
    Function Get() const {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_function;
    }

private:
    mutable std::mutex m_lock;
    Function m_function{};
};

} // namespace gd
