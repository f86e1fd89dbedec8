// Which module an object's code lies in: what the host drops before it
// frees a plug-in's module.
#pragma once

#include <windows.h>

namespace gd {

// Whether the object's first virtual table lies in the module's image.
inline bool IsCodeOf(const void* object, HMODULE module) {
    if (object == nullptr || module == nullptr)
        return false;
    const void* table = *static_cast<const void* const*>(object);
    HMODULE owner = nullptr;
    return GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                  GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                              static_cast<LPCWSTR>(table), &owner) &&
           owner == module;
}

} // namespace gd
