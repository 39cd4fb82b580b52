#include "MemoryInStream.h"

#include <cstring>

void SwapPayloadSignature(uint8_t* bytes, size_t size)
{
    if (size < 2)
        return;
    const uint8_t first = bytes[0];
    bytes[0] = bytes[1];
    bytes[1] = first;
}

MemoryInStream::MemoryInStream(const void* data, uint32_t size, bool correctSignature)
    : m_data(static_cast<const uint8_t*>(data)), m_size(data != nullptr ? size : 0),
      m_correctHead(correctSignature && m_size >= 2)
{
    m_vt.Read = &MemoryInStream::Read;
    m_vt.Seek = &MemoryInStream::Seek;
    if (m_correctHead) {
        memcpy(m_head, m_data, 2);
        SwapPayloadSignature(m_head, 2);
    }
}

SRes MemoryInStream::Read(ISeekInStreamPtr p, void* buffer, size_t* count)
{
    MemoryInStream* self = const_cast<MemoryInStream*>(reinterpret_cast<const MemoryInStream*>(p));
    const uint32_t remaining = self->m_position < self->m_size ? self->m_size - self->m_position : 0;
    const size_t n = *count < remaining ? *count : remaining;
    if (n != 0) {
        uint8_t* out = static_cast<uint8_t*>(buffer);
        memcpy(out, self->m_data + self->m_position, n);
        if (self->m_correctHead)
            for (uint32_t at = self->m_position; at < 2 && at < self->m_position + n; ++at)
                out[at - self->m_position] = self->m_head[at];
    }
    self->m_position += static_cast<uint32_t>(n);
    *count = n;
    return SZ_OK;
}

SRes MemoryInStream::Seek(ISeekInStreamPtr p, Int64* offset, ESzSeek origin)
{
    MemoryInStream* self = const_cast<MemoryInStream*>(reinterpret_cast<const MemoryInStream*>(p));
    Int64 target;
    switch (origin) {
    case SZ_SEEK_SET:
        target = *offset;
        break;
    case SZ_SEEK_CUR:
        target = static_cast<Int64>(self->m_position) + *offset;
        break;
    case SZ_SEEK_END:
        target = static_cast<Int64>(self->m_size) + *offset;
        break;
    default:
        return 87;  // ERROR_INVALID_PARAMETER
    }
    if (target < 0 || target > static_cast<Int64>(UINT32_MAX))
        return 87;
    self->m_position = static_cast<uint32_t>(target);
    *offset = target;
    return SZ_OK;
}
