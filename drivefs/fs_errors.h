// Codes of the file system beyond the shared ones.
#pragma once

#include "errors/codes.h"

namespace gd {

// A write or commit out of sequence: not at the written position, or
// without a begun write.
constexpr HRESULT DRIVEFS_E_OUT_OF_ORDER = MakeError(kSubsystemPlugin, 0x1004); // 0x82221004
// A handle used in a way its access flags do not allow.
constexpr HRESULT DRIVEFS_E_ACCESS_MODE = MakeError(kSubsystemPlugin, 0x000A); // 0x8222000A
// Read from a handle opened without read access.
constexpr HRESULT DRIVEFS_E_NOT_READABLE = HRESULT_FROM_WIN32(ERROR_INVALID_STATE);
constexpr HRESULT DRIVEFS_E_FILE_EXISTS = MakeWin32Failure(ERROR_FILE_EXISTS);       // 0x83FF0050
constexpr HRESULT DRIVEFS_E_FILE_NOT_FOUND = MakeWin32Failure(ERROR_FILE_NOT_FOUND); // 0x83FF0002

} // namespace gd
