// Lumo host SDK: common types, constants and the interface-identifier machinery.
#pragma once

#include <windows.h>
#include <ole2.h>
#include <objidl.h>
#include <oaidl.h>

#include <cstddef>

namespace Lumo {

// An item's parameter in host lists and combos: wide enough for a pointer.
typedef INT_PTR PARAM_T;

// Ask the host to pick the number when turning a name into a number.
constexpr long LUMO_NameId_Auto = -1;

namespace detail {

constexpr unsigned HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return static_cast<unsigned>(c - '0');
    if (c >= 'a' && c <= 'f')
        return static_cast<unsigned>(c - 'a' + 10);
    if (c >= 'A' && c <= 'F')
        return static_cast<unsigned>(c - 'A' + 10);
    // Reached only while the compiler evaluates an identifier: a typo fails the build.
    throw "interface identifier: not a hexadecimal digit";
}

constexpr unsigned long HexField(const char* text, std::size_t first, std::size_t count) {
    unsigned long value = 0;
    for (std::size_t i = first; i < first + count; ++i)
        value = (value << 4) | HexDigit(text[i]);
    return value;
}

// "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX" to a GUID, at compile time.
template <std::size_t N> constexpr GUID ParseGuid(const char (&text)[N]) {
    static_assert(N == 37, "an interface identifier has 36 characters");
    if (text[8] != '-' || text[13] != '-' || text[18] != '-' || text[23] != '-')
        throw "interface identifier: misplaced dash";
    GUID guid{};
    guid.Data1 = HexField(text, 0, 8);
    guid.Data2 = static_cast<unsigned short>(HexField(text, 9, 4));
    guid.Data3 = static_cast<unsigned short>(HexField(text, 14, 4));
    constexpr std::size_t kByteAt[8] = {19, 21, 24, 26, 28, 30, 32, 34};
    for (std::size_t i = 0; i < 8; ++i)
        guid.Data4[i] = static_cast<unsigned char>(HexField(text, kByteAt[i], 2));
    return guid;
}

} // namespace detail
} // namespace Lumo

// Declares Lumo::name and binds the identifier `text` to it for __uuidof.
// Used at global scope, before the interface's definition. GCC ignores
// __declspec(uuid), so MinGW builds bind the identifier through its __uuidof
// emulation instead; the identifier is written once either way.
#if defined(_MSC_VER)
#define LUMO_DECLARE_INTERFACE(name, text)                                                         \
    namespace Lumo {                                                                               \
    struct __declspec(uuid(text)) name;                                                            \
    }
#else
#define LUMO_GUID_PARTS(text)                                                                      \
    ::Lumo::detail::ParseGuid(text).Data1, ::Lumo::detail::ParseGuid(text).Data2,                  \
        ::Lumo::detail::ParseGuid(text).Data3, ::Lumo::detail::ParseGuid(text).Data4[0],           \
        ::Lumo::detail::ParseGuid(text).Data4[1], ::Lumo::detail::ParseGuid(text).Data4[2],        \
        ::Lumo::detail::ParseGuid(text).Data4[3], ::Lumo::detail::ParseGuid(text).Data4[4],        \
        ::Lumo::detail::ParseGuid(text).Data4[5], ::Lumo::detail::ParseGuid(text).Data4[6],        \
        ::Lumo::detail::ParseGuid(text).Data4[7]
#define LUMO_APPLY(macro, ...) macro(__VA_ARGS__)
#define LUMO_DECLARE_INTERFACE(name, text)                                                         \
    namespace Lumo {                                                                               \
    struct name;                                                                                   \
    }                                                                                              \
    LUMO_APPLY(__CRT_UUID_DECL, Lumo::name, LUMO_GUID_PARTS(text))
#endif
