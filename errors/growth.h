// How the plug-in's own growable arrays grow.
#pragma once

#include <cstddef>

namespace gd {

// 1.5 times once the capacity is 16 or more, at least the needed count
// rounded up to a multiple of 4.
constexpr std::size_t GrownCapacity(std::size_t capacity, std::size_t needed) {
    if (needed <= capacity)
        return capacity;
    std::size_t grown = capacity >= 16 ? capacity + capacity / 2 : 0;
    return grown < needed ? (needed + 3) / 4 * 4 : grown;
}

} // namespace gd
