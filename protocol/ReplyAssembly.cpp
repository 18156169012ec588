#include "protocol/ReplyAssembly.h"

#include <algorithm>
#include <cstring>

size_t MissingReplyBytes(const uint8_t* bytes, size_t count) {
    if (count == 0 || bytes[0] != FRAME_HEAD) {
        return 0;
    }
    if (count == 1) {
        return 1;  // the length byte at least
    }
    const size_t size = static_cast<size_t>(bytes[1]) + 2;
    return size <= kReplyBufferSize && count < size ? size - count : 0;
}

bool CReplyAssembly::Add(const uint8_t* bytes, uint32_t count) {
    const uint32_t keep = std::min<uint32_t>(count, kReplyBufferSize - m_nCount);
    std::memcpy(m_bytes + m_nCount, bytes, keep);
    m_nCount += keep;
    return MissingReplyBytes(m_bytes, m_nCount) == 0;
}

uint32_t CReplyAssembly::Take(uint8_t data[kReplyBufferSize]) {
    std::memset(data, 0, kReplyBufferSize);
    std::memcpy(data, m_bytes, m_nCount);
    const uint32_t count = m_nCount;
    m_nCount = 0;
    return count;
}
