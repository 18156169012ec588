#pragma once

#include <cstddef>
#include <cstdint>

#include "protocol/Frame.h"

// How many bytes the reply that `count` bytes at `bytes` begin still lacks, judged by its
// length byte: 0 when the bytes are to be checked as they are (a whole frame, bytes that
// cannot begin a frame, a length no reply buffer holds, more bytes than the length says).
size_t MissingReplyBytes(const uint8_t* bytes, size_t count);

// Puts together a reply that the line brings in several bursts (a USB adapter may split it).
// Holds at most one reply buffer: bytes beyond the 100th are dropped, as a burst drops them.
class CReplyAssembly {
public:
    // Adds a burst. True when the bytes gathered are a reply to check (Take gives them);
    // false while they are the beginning of a frame that has not come whole yet.
    bool Add(const uint8_t* bytes, uint32_t count);
    // The bytes gathered into `data` from offset 0, the rest zero; their count. Empties.
    uint32_t Take(uint8_t data[kReplyBufferSize]);
    // Forgets a frame that has not come whole (it never will).
    void Drop() { m_nCount = 0; }
    bool Pending() const { return m_nCount > 0; }

private:
    uint8_t m_bytes[kReplyBufferSize] = {};
    uint32_t m_nCount = 0;
};
