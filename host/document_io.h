// How the host reads and writes a document through a file system's handle:
// the way a PDF viewer opens one, and the way a save writes one.
#pragma once

#include "plugin/sdk/lumo.h"

#include <windows.h>

#include <cstdint>
#include <functional>

namespace gd {

enum class ReadPattern {
    Sequential, // start to end
    Pdf,        // the last kilobyte, scattered blocks, then start to end
};

// Takes count bytes; a failure ends the read.
using ByteSinkFn = std::function<HRESULT(const BYTE* data, DWORD count)>;
// Gives up to count bytes (0 at the end).
using ByteSourceFn = std::function<HRESULT(BYTE* data, DWORD count, DWORD* got)>;

// Reads the file (of the size the handle gave) in reads of chunk, after the
// viewer's probes for Pdf, and hands every byte in file order to sink; the
// probed blocks must match what the pass in order read. total counts every
// byte read, probes included.
HRESULT ReadThroughHandle(Lumo::IAfsFileHandle* handle, DWORD chunk, ReadPattern pattern,
                          LONGLONG size, const ByteSinkFn& sink, std::int64_t* total);

// Announces size, begins writing, writes what source gives in 1 MiB pieces
// (size bytes in all) and commits.
HRESULT WriteThroughHandle(Lumo::IAfsFileHandle* handle, LONGLONG size, const ByteSourceFn& source);

} // namespace gd
