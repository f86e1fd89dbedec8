// How many content bytes of a file came over the network, counted from the
// Drive emulator's request log: the server's own record of what was asked,
// independent of the reading code it measures.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace gd {

class ContentLog {
public:
    // Notes where the log stands; S_FALSE when no emulator is in use
    // (DRIVE_EMULATOR_HOST), a failure when its log cannot be read.
    HRESULT Mark();
    // The content bytes served for the file id since the mark: ranged media
    // requests count the part of their range within size, a whole media
    // request or an export the whole size.
    HRESULT TransferredSince(const std::wstring& id, std::int64_t size, std::int64_t* bytes) const;

private:
    bool m_available = false;
    std::size_t m_mark = 0;
};

} // namespace gd
