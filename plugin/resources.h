// The module's own resources: dialog layouts, string table, command icons.
#pragma once

#include <windows.h>
#include <objidl.h>

#include <cstddef>

#include "resources/resource_ids.h"

namespace gd {

constexpr const wchar_t* kXmlResourceType = L"XML";
constexpr const wchar_t* kPngResourceType = L"PNG";

constexpr WORD kLayoutsResourceId = GD_RES_LAYOUTS;
constexpr WORD kSignInLayoutsResourceId = GD_RES_SIGN_IN_LAYOUTS;
constexpr WORD kSignInStringsResourceId = GD_RES_SIGN_IN_STRINGS;
constexpr WORD kStringsResourceId = GD_RES_STRINGS;
// The command icon at 16, 24, 32 and 48 pixels.
constexpr WORD kCommandIconIds[] = {GD_RES_ICON_16, GD_RES_ICON_24, GD_RES_ICON_32, GD_RES_ICON_48};

// The module whose image holds the address; its reference count is unchanged.
HRESULT GetModuleOf(const void* address, HMODULE* module);
// The module this code is linked into: the plug-in, or a test program.
HRESULT GetOwnModule(HMODULE* module);

// The bytes of a resource inside the image of the module (the own module when
// null), valid while the module stays loaded. A missing resource gives the
// loader's error as an HRESULT, a null pointer and size 0.
HRESULT GetResourceBytes(HMODULE module, const wchar_t* type, WORD id, const BYTE** data,
                         DWORD* size);
// A PNG image resource as raw bytes.
HRESULT GetPngResource(HMODULE module, WORD id, const BYTE** data, DWORD* size);

// A read-only stream over a copy of the bytes in movable global memory, which
// the stream frees. On failure the stream is null.
HRESULT CreateStreamOnCopy(const void* data, size_t size, IStream** stream);
// The same over a resource of the module (the own module when null).
HRESULT CreateResourceStream(HMODULE module, const wchar_t* type, WORD id, IStream** stream);

} // namespace gd
