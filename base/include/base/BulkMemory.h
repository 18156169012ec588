#pragma once

#include <cstddef>

// One large block of zeroed memory for many small objects or a whole file: taken from the
// kernel at once and its pages made present in one call, so that filling it costs no page
// faults. Throws std::bad_alloc.
class CBulkMemory {
public:
    CBulkMemory() = default;
    explicit CBulkMemory(size_t bytes);
    ~CBulkMemory();
    CBulkMemory(CBulkMemory&& other) noexcept;
    CBulkMemory& operator=(CBulkMemory&& other) noexcept;
    CBulkMemory(const CBulkMemory&) = delete;
    CBulkMemory& operator=(const CBulkMemory&) = delete;

    char* data() const { return m_pBytes; }
    size_t size() const { return m_nBytes; }

private:
    void Free() noexcept;

    char* m_pBytes = nullptr;
    size_t m_nBytes = 0;
};
