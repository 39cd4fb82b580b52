#pragma once

#include <7zTypes.h>

#include <cstddef>
#include <cstdint>

// The payload resource stores its first two bytes exchanged, so that it does not look like an
// archive to anyone scanning the executable. Exchanges bytes[0] and bytes[1] of a writable
// buffer; a buffer shorter than two bytes is left as it is.
void SwapPayloadSignature(uint8_t* bytes, size_t size);

// A seekable input stream for the 7z decoder over a block of memory that the caller owns and
// keeps alive (a locked resource image is fine: the stream never writes to it). With
// correctSignature the first two bytes are served exchanged, so a stored payload reads as a
// standard archive while its image stays as stored. A read past the end is answered with the
// bytes that remain (none at the end), which the decoder takes as the end of its input.
class MemoryInStream
{
public:
    MemoryInStream(const void* data, uint32_t size, bool correctSignature);
    MemoryInStream(const MemoryInStream&) = delete;
    MemoryInStream& operator=(const MemoryInStream&) = delete;

    // The decoder's view of this stream; valid while the object lives.
    ISeekInStreamPtr Stream() const { return &m_vt; }
    uint32_t Position() const { return m_position; }

private:
    static SRes Read(ISeekInStreamPtr p, void* buffer, size_t* count);
    static SRes Seek(ISeekInStreamPtr p, Int64* offset, ESzSeek origin);

    ISeekInStream m_vt;  // first member: the decoder hands back its address
    const uint8_t* m_data;
    uint32_t m_size;
    uint32_t m_position = 0;
    uint8_t m_head[2] = {0, 0};
    bool m_correctHead;
};
