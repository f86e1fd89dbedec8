// The process-wide registry of error subsystems and the texts of codes.
#pragma once

#include <windows.h>
#include <cstddef>
#include <string>

namespace gd {

// One row of a subsystem's message table: only the low 16 bits of code count.
struct ErrorRow {
    DWORD code;
    const char* text;
};

// Registers a subsystem's table; a number already present changes nothing.
// The first registration also adds the built-in subsystems.
void RegisterSubsystem(unsigned number, const ErrorRow* rows, std::size_t count, const char* name);
void UnregisterSubsystem(unsigned number);

enum ErrorPart { kErrorPartSeverity = 0, kErrorPartSubsystem = 1, kErrorPartDescription = 2 };

// Writes one part of a code's text; returns its length in characters (0 or less
// when there is none). Without a buffer (or with length < 1) it only measures.
int GetErrorPart(HRESULT code, int part, wchar_t* buffer, int length);

// The whole text: "Error [Subsystem]: Description." (brief: the description only).
std::wstring DescribeError(HRESULT code, bool brief = false);

// Trace text of a system code: "HRESULT 0x%.8x: <system text>".
std::wstring FormatHResult(HRESULT code);

// Subsystem 34, the plug-in's own table.
void RegisterPluginErrors();
void UnregisterPluginErrors();

} // namespace gd
