// Text comparison as the file dialogs do it: the invariant locale, case
// ignored.
#pragma once

#include <windows.h>

#include <string_view>

namespace gd {

// -1, 0 or 1; 0 also when the comparison itself fails.
inline int CompareIgnoringCase(std::wstring_view a, std::wstring_view b) {
    int result = CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, a.data(),
                                static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()));
    return result == 0 ? 0 : result - CSTR_EQUAL;
}

inline bool EqualIgnoringCase(std::wstring_view a, std::wstring_view b) {
    return CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, a.data(), static_cast<int>(a.size()),
                          b.data(), static_cast<int>(b.size())) == CSTR_EQUAL;
}

} // namespace gd
