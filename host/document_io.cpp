#include "host/document_io.h"

#include "errors/check.h"

#include <algorithm>
#include <vector>

namespace gd {
namespace {

constexpr DWORD kWritePiece = 1024 * 1024;
constexpr LONGLONG kPdfTail = 1024;
constexpr int kPdfBlocks = 32;

// FNV-1a, fed in order, so that a block can be checked piece by piece.
struct BlockCheck {
    LONGLONG position = 0;
    LONGLONG length = 0;
    std::uint64_t expected = 0;
    std::uint64_t seen = 0xCBF29CE484222325ull;

    static std::uint64_t Feed(std::uint64_t hash, const BYTE* data, std::size_t count) {
        for (std::size_t i = 0; i < count; ++i)
            hash = (hash ^ data[i]) * 0x100000001B3ull;
        return hash;
    }
    // Feeds the part of [at, at + count) that overlaps the block.
    void See(LONGLONG at, const BYTE* data, DWORD count) {
        LONGLONG from = std::max(at, position), to = std::min(at + count, position + length);
        if (from < to)
            seen = Feed(seen, data + (from - at), static_cast<std::size_t>(to - from));
    }
};

class Reader {
public:
    Reader(Lumo::IAfsFileHandle* handle, DWORD chunk) : m_handle(handle), m_buffer(chunk) {}

    HRESULT SeekTo(LONGLONG position) {
        LONGLONG now = 0;
        return m_handle->Seek(position, Lumo::AFS_Seek_Begin, &now);
    }
    // One read of up to count bytes at the handle's position.
    HRESULT ReadNext(DWORD count, DWORD* got, HRESULT* status) {
        ULONG read = 0;
        *status = m_handle->Read(m_buffer.data(), std::min<DWORD>(count, Chunk()), &read, nullptr,
                                 nullptr);
        // A read exactly at the end gives no bytes and the end-of-file code.
        if (*status == HRESULT_FROM_WIN32(ERROR_HANDLE_EOF))
            *status = S_FALSE;
        RETURN_IF_FAILED(*status);
        *got = read;
        m_total += read;
        return S_OK;
    }
    // Reads a block as a viewer would and notes its hash for the later pass.
    HRESULT Probe(LONGLONG position, DWORD count) {
        DWORD got = 0;
        HRESULT status = S_OK;
        RETURN_IF_FAILED(SeekTo(position));
        RETURN_IF_FAILED(ReadNext(count, &got, &status));
        BlockCheck check{position, got};
        check.expected = BlockCheck::Feed(check.seen, m_buffer.data(), got);
        m_checks.push_back(check);
        return S_OK;
    }
    // Start to end (the size the handle gave) in reads one after the other,
    // into sink; the probed blocks must match.
    HRESULT ReadAll(const ByteSinkFn& sink, LONGLONG size) {
        LONGLONG position = 0;
        RETURN_IF_FAILED(SeekTo(0));
        for (;;) {
            DWORD got = 0;
            HRESULT status = S_OK;
            RETURN_IF_FAILED(ReadNext(Chunk(), &got, &status));
            RETURN_IF_FAILED(sink(m_buffer.data(), got));
            for (BlockCheck& check : m_checks)
                check.See(position, m_buffer.data(), got);
            position += got;
            if (got == 0 || status == S_FALSE || position >= size)
                break;
        }
        for (const BlockCheck& check : m_checks)
            RETURN_HR_IF(HRESULT_FROM_WIN32(ERROR_CRC), check.seen != check.expected);
        return S_OK;
    }
    std::int64_t Total() const { return m_total; }

private:
    DWORD Chunk() const { return static_cast<DWORD>(m_buffer.size()); }

    Lumo::IAfsFileHandle* m_handle;
    std::vector<BYTE> m_buffer;
    std::vector<BlockCheck> m_checks;
    std::int64_t m_total = 0;
};

// The viewer's opening reads: the last kilobyte, then blocks at positions a
// fixed sequence spreads over the file.
HRESULT ProbeLikeViewer(Reader& reader, LONGLONG size, DWORD chunk) {
    RETURN_IF_FAILED(reader.Probe(std::max<LONGLONG>(0, size - kPdfTail), kPdfTail));
    std::uint64_t state = 0x2545F4914F6CDD1Dull;
    for (int i = 0; i < kPdfBlocks && size > 0; ++i) {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        RETURN_IF_FAILED(reader.Probe(static_cast<LONGLONG>((state >> 11) % size), chunk));
    }
    return S_OK;
}

} // namespace

HRESULT ReadThroughHandle(Lumo::IAfsFileHandle* handle, DWORD chunk, ReadPattern pattern,
                          LONGLONG size, const ByteSinkFn& sink, std::int64_t* total) {
    RETURN_HR_IF(E_INVALIDARG, handle == nullptr || chunk == 0);
    Reader reader(handle, chunk);
    if (pattern == ReadPattern::Pdf)
        RETURN_IF_FAILED(ProbeLikeViewer(reader, size, chunk));
    RETURN_IF_FAILED(reader.ReadAll(sink, size));
    if (total != nullptr)
        *total = reader.Total();
    return S_OK;
}

HRESULT WriteThroughHandle(Lumo::IAfsFileHandle* handle, LONGLONG size,
                           const ByteSourceFn& source) {
    RETURN_HR_IF_NULL(E_INVALIDARG, handle);
    RETURN_IF_FAILED(handle->SetSize(size, nullptr, nullptr));
    RETURN_IF_FAILED(handle->BeginWrite(nullptr, nullptr));
    std::vector<BYTE> piece(kWritePiece);
    for (;;) {
        DWORD got = 0;
        RETURN_IF_FAILED(source(piece.data(), kWritePiece, &got));
        if (got == 0)
            break;
        ULONG written = 0;
        RETURN_IF_FAILED(handle->Write(piece.data(), got, &written, nullptr, nullptr));
        RETURN_HR_IF(HRESULT_FROM_WIN32(ERROR_WRITE_FAULT), written != got);
    }
    return handle->Commit(nullptr, nullptr);
}

} // namespace gd
