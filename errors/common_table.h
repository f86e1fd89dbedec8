// Texts for any own code whose subsystem table lacks it; searched in order.
#pragma once

#include "errors/registry.h"

namespace gd {

inline constexpr ErrorRow kCommonRows[] = {
    {0x0, "Ok"},
    {0x1, "Invalid argument"},
    {0x2, "Invalid file format"},
    {0x3, "Unsupported file format"},
    {0x4, "Invalid page number"},
    {0x5, "File corrupted"},
    {0x6, "Unsupported compression type"},
    {0x7, "Incompatible file format"},
    {0x8, "invalid format index"},
    {0x9, "Unsupported operation"},
    {0xA, "Invalid access mode"},
    {0xB, "Invalid seek mode"},
    {0xC, "Invalid seek pos"},
    {0xD, "Critical failure"},
    {0xE, "Failure"},
    {0xF, "Component failed to initialize"},
    {0x10, "Component is not initialized"},
    {0x11, "Internal error"},
    {0x12, "Unclassified error"},
    {0x13, "Unsupported color space"},
    {0x14, "Invalid format identifier"},
    {0x16, "Invalid file size"},
    {0x17, "Compression error"},
    {0x18, "Need more input data"},
    {0x19, "Need more output space"},
    {0x1A, "Reached End-Of-Data marker"},
    {0x1B, "End Of Data reached"},
    {0x1C, "Object is locked"},
    {0x1D, "Operation history locked"},
    {0x2BC, "Invalid structure"},
    {0x3E8, "Insufficient memory"},
    {0x3E9, "Invalid pointer"},
    {0x3EA, "Too large data was requested"},
    {0x3EB, "Buffer is too small"},
    {0x4B0, "Not implemented"},
    {0x4B1, "Not supported operation"},
    {0x4B2, "Unsupported value"},
    {0x5DC, "Incompatible internal format"},
    {0x4C7, "The operation was canceled by the user"},
};

} // namespace gd
