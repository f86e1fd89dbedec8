// In-memory byte streams: what a response body is collected in.
#pragma once

#include <windows.h>
#include <objidl.h>

#include <cstddef>
#include <cstdlib>
#include <memory>

namespace gd {

// What ReadResponse writes a body into.
class ByteSink {
public:
    virtual ~ByteSink() = default;
    // Appends at the position and moves it; all or nothing.
    virtual HRESULT Write(const void* data, size_t length, size_t* written) = 0;
    // Grows or truncates.
    virtual HRESULT SetSize(size_t size) = 0;
    // Room for at least capacity bytes, size unchanged; a fixed buffer has
    // only its own (IO_E_UNSUPPORTED beyond it).
    virtual HRESULT Reserve(size_t capacity) = 0;
    // Whether writes can grow it past its capacity.
    virtual bool Growable() const = 0;
    virtual size_t GetSize() const = 0;
    virtual size_t Capacity() const = 0;
    virtual BYTE* Data() = 0;
};

// A growable byte buffer with a position. Usable without Create (growth -2).
class MemoryStream : public ByteSink {
public:
    MemoryStream() = default;
    MemoryStream(MemoryStream&& other) noexcept;
    MemoryStream& operator=(MemoryStream&& other) noexcept;
    MemoryStream(const MemoryStream&) = delete;
    MemoryStream& operator=(const MemoryStream&) = delete;

    // Drops any content and reserves the first capacity. A positive growth
    // grows in multiples of itself; a negative one by 1/-growth of the
    // capacity (0 counts as -2, below -4 as -4).
    HRESULT Create(size_t size, int growth);

    HRESULT Write(const void* data, size_t length, size_t* written) override;
    // Bytes exposed by growing read as zero; truncating pulls the position back.
    HRESULT SetSize(size_t size) override;
    HRESULT Reserve(size_t capacity) override;
    bool Growable() const override { return true; }
    size_t GetSize() const override { return m_size; }
    size_t Capacity() const override { return m_capacity; }
    BYTE* Data() override { return m_data.get(); }
    const BYTE* Data() const { return m_data.get(); }

    // origin: STREAM_SEEK_SET, STREAM_SEEK_CUR or STREAM_SEEK_END. The position
    // may pass the end; a write there fills the gap with zeros.
    HRESULT Seek(LONGLONG offset, DWORD origin, size_t* newPosition = nullptr);
    size_t Position() const { return m_position; }
    int Growth() const { return m_growth; }

private:
    struct FreeDeleter {
        void operator()(BYTE* p) const { std::free(p); }
    };

    size_t NextCapacity(size_t size) const;
    HRESULT Grow(size_t size);

    std::unique_ptr<BYTE, FreeDeleter> m_data;
    size_t m_size = 0;
    size_t m_capacity = 0;
    size_t m_position = 0;
    int m_growth = -2;
};

// The same interface over a caller's fixed buffer, which it does not own.
class BufferView : public ByteSink {
public:
    BufferView(void* buffer, size_t length)
        : m_data(static_cast<BYTE*>(buffer)), m_capacity(buffer ? length : 0) {}

    // Fails with IO_E_UNSUPPORTED when the bytes do not fit.
    HRESULT Write(const void* data, size_t length, size_t* written) override;
    // A fixed buffer cannot be resized: always IO_E_UNSUPPORTED.
    HRESULT SetSize(size_t size) override;
    HRESULT Reserve(size_t capacity) override;
    bool Growable() const override { return false; }
    size_t GetSize() const override { return m_size; }
    size_t Capacity() const override { return m_capacity; }
    BYTE* Data() override { return m_data; }

private:
    BYTE* m_data;
    size_t m_capacity;
    size_t m_size = 0;
};

} // namespace gd
