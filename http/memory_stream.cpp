#include "http/memory_stream.h"

#include "errors/check.h"
#include "errors/codes.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <utility>

namespace gd {

namespace {

constexpr size_t kPage = 4096;
constexpr size_t kSmallCapacityLimit = 4097;
constexpr size_t kSmallGrowCapacity = 8192;

// 0 when the result does not fit in size_t.
size_t RoundUp(size_t value, size_t multiple) {
    size_t remainder = value % multiple;
    if (remainder == 0)
        return value;
    size_t pad = multiple - remainder;
    return value > std::numeric_limits<size_t>::max() - pad ? 0 : value + pad;
}

int NormalizeGrowth(int growth) {
    if (growth == 0)
        return -2;
    return growth < -4 ? -4 : growth;
}

} // namespace

MemoryStream::MemoryStream(MemoryStream&& other) noexcept
    : m_data(std::move(other.m_data)), m_size(std::exchange(other.m_size, 0)),
      m_capacity(std::exchange(other.m_capacity, 0)),
      m_position(std::exchange(other.m_position, 0)), m_growth(other.m_growth) {}

MemoryStream& MemoryStream::operator=(MemoryStream&& other) noexcept {
    if (this != &other) {
        m_data = std::move(other.m_data);
        m_size = std::exchange(other.m_size, 0);
        m_capacity = std::exchange(other.m_capacity, 0);
        m_position = std::exchange(other.m_position, 0);
        m_growth = other.m_growth;
    }
    return *this;
}

HRESULT MemoryStream::Create(size_t size, int growth) {
    m_data.reset();
    m_size = m_capacity = m_position = 0;
    m_growth = NormalizeGrowth(growth);

    size_t capacity = size;
    if (capacity == 0)
        capacity = m_growth > 0 ? static_cast<size_t>(m_growth) : kPage;
    if (m_growth > 0)
        capacity = RoundUp(capacity, static_cast<size_t>(m_growth));
    RETURN_HR_IF(E_OUTOFMEMORY, capacity == 0);
    return Reserve(capacity);
}

size_t MemoryStream::NextCapacity(size_t size) const {
    if (m_growth > 0)
        return RoundUp(size, static_cast<size_t>(m_growth));
    size_t capacity = kSmallGrowCapacity;
    if (m_capacity >= kSmallCapacityLimit) {
        size_t step = m_capacity / static_cast<size_t>(-m_growth);
        capacity = m_capacity > std::numeric_limits<size_t>::max() - step ? 0 : m_capacity + step;
    }
    if (capacity < size)
        capacity = RoundUp(size, kPage);
    return capacity;
}

HRESULT MemoryStream::Reserve(size_t capacity) {
    if (capacity <= m_capacity)
        return S_OK;
    auto* grown = static_cast<BYTE*>(std::realloc(m_data.get(), capacity));
    RETURN_HR_IF_NULL(E_OUTOFMEMORY, grown);
    static_cast<void>(m_data.release()); // realloc took it over
    m_data.reset(grown);
    m_capacity = capacity;
    return S_OK;
}

// Room for size bytes, in the stream's growth steps.
HRESULT MemoryStream::Grow(size_t size) {
    if (size <= m_capacity)
        return S_OK;
    size_t capacity = NextCapacity(size);
    RETURN_HR_IF(E_OUTOFMEMORY, capacity == 0);
    return Reserve(capacity);
}

HRESULT MemoryStream::SetSize(size_t size) {
    RETURN_IF_FAILED(Grow(size));
    if (size > m_size)
        std::memset(m_data.get() + m_size, 0, size - m_size);
    m_size = size;
    if (m_position > m_size)
        m_position = m_size;
    return S_OK;
}

HRESULT MemoryStream::Write(const void* data, size_t length, size_t* written) {
    if (written)
        *written = 0;
    if (length == 0)
        return S_OK;
    RETURN_HR_IF_NULL(E_POINTER, data);
    RETURN_HR_IF(E_OUTOFMEMORY, m_position > std::numeric_limits<size_t>::max() - length);
    size_t end = m_position + length;
    RETURN_IF_FAILED(Grow(end));
    if (m_position > m_size) // a gap left by a seek past the end
        std::memset(m_data.get() + m_size, 0, m_position - m_size);
    std::memcpy(m_data.get() + m_position, data, length);
    m_size = std::max(m_size, end);
    m_position = end;
    if (written)
        *written = length;
    return S_OK;
}

HRESULT MemoryStream::Seek(LONGLONG offset, DWORD origin, size_t* newPosition) {
    LONGLONG base = 0;
    switch (origin) {
    case STREAM_SEEK_SET:
        break;
    case STREAM_SEEK_CUR:
        base = static_cast<LONGLONG>(m_position);
        break;
    case STREAM_SEEK_END:
        base = static_cast<LONGLONG>(m_size);
        break;
    default:
        return E_INVALIDARG;
    }
    RETURN_HR_IF(E_INVALIDARG, offset < 0 && -offset > base);
    m_position = static_cast<size_t>(base + offset);
    if (newPosition)
        *newPosition = m_position;
    return S_OK;
}

HRESULT BufferView::Write(const void* data, size_t length, size_t* written) {
    if (written)
        *written = 0;
    if (length == 0)
        return S_OK;
    RETURN_HR_IF_NULL(E_POINTER, data);
    RETURN_HR_IF(IO_E_UNSUPPORTED, length > m_capacity - m_size);
    std::memcpy(m_data + m_size, data, length);
    m_size += length;
    if (written)
        *written = length;
    return S_OK;
}

HRESULT BufferView::SetSize(size_t) {
    return IO_E_UNSUPPORTED;
}

HRESULT BufferView::Reserve(size_t capacity) {
    return capacity <= m_capacity ? S_OK : IO_E_UNSUPPORTED;
}

} // namespace gd
