#include "base/BulkMemory.h"

#include <sys/mman.h>

#include <new>
#include <utility>

CBulkMemory::CBulkMemory(size_t bytes) : m_nBytes(bytes) {
    if (bytes == 0) {
        return;
    }
    void* p = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) {
        throw std::bad_alloc();
    }
    // Advice only: an older kernel faults the pages in one by one as they are first written.
    // (Huge pages were tried: compacting memory for them made a large load three times
    // slower.)
#ifdef MADV_POPULATE_WRITE
    ::madvise(p, bytes, MADV_POPULATE_WRITE);
#endif
    m_pBytes = static_cast<char*>(p);
}

CBulkMemory::~CBulkMemory() {
    Free();
}

CBulkMemory::CBulkMemory(CBulkMemory&& other) noexcept
    : m_pBytes(std::exchange(other.m_pBytes, nullptr)),
      m_nBytes(std::exchange(other.m_nBytes, 0)) {}

CBulkMemory& CBulkMemory::operator=(CBulkMemory&& other) noexcept {
    if (this != &other) {
        Free();
        m_pBytes = std::exchange(other.m_pBytes, nullptr);
        m_nBytes = std::exchange(other.m_nBytes, 0);
    }
    return *this;
}

void CBulkMemory::Free() noexcept {
    if (m_pBytes != nullptr) {
        ::munmap(m_pBytes, m_nBytes);
    }
    m_pBytes = nullptr;
    m_nBytes = 0;
}
