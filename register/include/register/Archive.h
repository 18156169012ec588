#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "register/CardText.h"

// A byte stream in the register file's encoding: little-endian integers, the archive count
// (uint16, or 0xFFFF and a uint32) and length-prefixed strings.
//
// Loading never reads past the data and never allocates from a length field before checking
// it against the bytes that remain. The first failure is kept with its offset; every read
// after it yields zeros and empty strings, so a caller may check Failed() once per record.
// Storing goes through a 64 KiB buffer; a failed write is kept the same way.
class CArchive {
public:
    // Loading from memory; texts are copied.
    CArchive(const void* data, size_t size);
    // Loading from memory that the archive may rewrite: texts read into a CCardText borrow
    // their bytes from `data`, each moved over its own length prefix and followed by a NUL.
    // `data` must outlive those texts.
    struct InPlace {};
    CArchive(char* data, size_t size, InPlace);
    // Loading `size` bytes from the current position of an open file descriptor.
    CArchive(int fd, uint64_t size);
    // Storing into a string (appended).
    explicit CArchive(std::string* out);
    // Storing to an open file descriptor; call Flush() at the end.
    explicit CArchive(int fd);

    CArchive(const CArchive&) = delete;
    CArchive& operator=(const CArchive&) = delete;

    bool IsStoring() const { return m_bStoring; }
    bool IsLoading() const { return !m_bStoring; }

    CArchive& operator<<(uint8_t v);
    CArchive& operator<<(uint16_t v);
    CArchive& operator<<(uint32_t v);
    CArchive& operator<<(int32_t v);
    CArchive& operator<<(std::string_view s);
    void WriteCount(uint32_t count);
    void WriteBytes(const void* data, size_t size);
    // Writes out the buffer (file mode). False when any write so far has failed.
    bool Flush();
    // File mode: `observe` sees each block of bytes once it is written, in file order.
    void ObserveWrites(std::function<void(const void*, size_t)> observe) {
        m_observe = std::move(observe);
    }

    // Storing a record in one piece: room for `size` bytes at the end of the buffer (written
    // out first when it is full); nullptr when `size` is larger than the buffer or a write
    // has failed, and the caller then stores field by field. The room counts as written.
    uint8_t* Room(size_t size);
    // The bytes a field takes, and storing it at `at` (returns the end).
    static size_t StoredSize(uint8_t) { return 1; }
    static size_t StoredSize(int32_t) { return 4; }
    static size_t StoredSize(std::string_view s) {
        return s.size() + (s.size() < 0xFF ? 1 : s.size() < 0xFFFE ? 3 : 7);
    }
    static uint8_t* Store(uint8_t* at, uint8_t v);
    static uint8_t* Store(uint8_t* at, int32_t v);
    static uint8_t* Store(uint8_t* at, std::string_view s);
    static uint8_t* StoreLength(uint8_t* at, size_t n);

    CArchive& operator>>(uint8_t& v);
    CArchive& operator>>(uint16_t& v);
    CArchive& operator>>(uint32_t& v);
    CArchive& operator>>(int32_t& v);
    // A narrow string, or a wide one (0xFF 0xFFFE prefix) converted to the code page.
    CArchive& operator>>(std::string& s);
    // In place (see above) the common short text is read inline.
    CArchive& operator>>(CCardText& s);
    uint32_t ReadCount();
    bool ReadBytes(void* data, size_t size);

    // Names the field being read, for the error text.
    void SetField(const char* name) { m_pszField = name; }
    const char* Field() const { return m_pszField; }

    uint64_t Offset() const { return m_nBase + m_nPos; }
    uint64_t Remaining() const { return m_nTotal - Offset(); }

    bool Failed() const { return m_bFailed; }
    // What went wrong, with the offset and the field being read (Chinese text).
    const std::string& Error() const { return m_strError; }
    // Marks the archive failed at `offset`; the first failure wins.
    void Fail(uint64_t offset, const std::string& what);

private:
    bool Refill();
    // Copies through the buffer; the common case of a field that fits is inline.
    void Put(const void* data, size_t size) {
        if (m_pOut == nullptr && size <= m_buffer.size() - m_nPos) {
            std::memcpy(m_buffer.data() + m_nPos, data, size);
            m_nPos += size;
            return;
        }
        PutSlow(data, size);
    }
    void PutSlow(const void* data, size_t size);
    bool Get(void* data, size_t size) {
        if (!m_bFailed && size <= m_nSize - m_nPos) {
            std::memcpy(data, m_pData + m_nPos, size);
            m_nPos += size;
            return true;
        }
        return GetSlow(data, size);
    }
    bool GetSlow(void* data, size_t size);
    uint64_t ReadLength(bool& wide);
    // A string's length prefix: where it starts, the bytes that follow and whether they are
    // UTF-16; false (and the archive failed) unless those bytes remain.
    bool ReadStringHeader(uint64_t& start, uint64_t& bytes, bool& wide);
    CArchive& ReadText(CCardText& s);

    bool m_bStoring;
    int m_fd = -1;
    std::string* m_pOut = nullptr;
    std::vector<uint8_t> m_buffer;
    const uint8_t* m_pData = nullptr;  // loading: current buffer
    char* m_pInPlace = nullptr;        // loading in place: the same memory, writable
    size_t m_nSize = 0;                // loading: bytes in the buffer
    size_t m_nPos = 0;                 // position in the buffer
    uint64_t m_nBase = 0;              // stream offset of the buffer's first byte
    uint64_t m_nWrittenBack = 0;       // storing: bytes the disk was asked to start on
    uint64_t m_nTotal = 0;             // loading: size of the stream
    const char* m_pszField = nullptr;
    bool m_bFailed = false;
    std::string m_strError;
    std::function<void(const void*, size_t)> m_observe;
};

// The fixed-width fields are read and written inline: a register has millions of them.

inline CArchive& CArchive::operator<<(uint8_t v) {
    Put(&v, 1);
    return *this;
}

inline CArchive& CArchive::operator<<(uint16_t v) {
    const uint8_t b[2] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)};
    Put(b, 2);
    return *this;
}

inline CArchive& CArchive::operator<<(uint32_t v) {
    const uint8_t b[4] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8),
                          static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 24)};
    Put(b, 4);
    return *this;
}

inline CArchive& CArchive::operator<<(int32_t v) {
    return *this << static_cast<uint32_t>(v);
}

inline CArchive& CArchive::operator<<(std::string_view s) {
    uint8_t prefix[7];
    Put(prefix, static_cast<size_t>(StoreLength(prefix, s.size()) - prefix));
    Put(s.data(), s.size());
    return *this;
}

// The string length prefix: a byte below 0xFF; else 0xFF and a uint16 below 0xFFFE; else
// 0xFF, 0xFFFF and a uint32.
inline uint8_t* CArchive::StoreLength(uint8_t* at, size_t n) {
    if (n < 0xFF) {
        return Store(at, static_cast<uint8_t>(n));
    }
    *at++ = 0xFF;
    if (n < 0xFFFE) {
        at[0] = static_cast<uint8_t>(n);
        at[1] = static_cast<uint8_t>(n >> 8);
        return at + 2;
    }
    at[0] = at[1] = 0xFF;
    return Store(at + 2, static_cast<int32_t>(static_cast<uint32_t>(n)));
}

inline uint8_t* CArchive::Store(uint8_t* at, std::string_view s) {
    at = StoreLength(at, s.size());
    std::memcpy(at, s.data(), s.size());
    return at + s.size();
}
inline uint8_t* CArchive::Store(uint8_t* at, uint8_t v) {
    *at = v;
    return at + 1;
}

inline uint8_t* CArchive::Store(uint8_t* at, int32_t v) {
    const auto u = static_cast<uint32_t>(v);
    at[0] = static_cast<uint8_t>(u);
    at[1] = static_cast<uint8_t>(u >> 8);
    at[2] = static_cast<uint8_t>(u >> 16);
    at[3] = static_cast<uint8_t>(u >> 24);
    return at + 4;
}

inline void CArchive::WriteCount(uint32_t count) {
    if (count < 0xFFFF) {
        *this << static_cast<uint16_t>(count);
    } else {
        *this << static_cast<uint16_t>(0xFFFF) << count;
    }
}

inline CArchive& CArchive::operator>>(uint8_t& v) {
    Get(&v, 1);
    return *this;
}

inline CArchive& CArchive::operator>>(uint16_t& v) {
    uint8_t b[2];
    Get(b, 2);
    v = static_cast<uint16_t>(b[0] | (b[1] << 8));
    return *this;
}

inline CArchive& CArchive::operator>>(uint32_t& v) {
    uint8_t b[4];
    Get(b, 4);
    v = static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) |
        (static_cast<uint32_t>(b[2]) << 16) | (static_cast<uint32_t>(b[3]) << 24);
    return *this;
}

inline CArchive& CArchive::operator>>(int32_t& v) {
    uint32_t u = 0;
    *this >> u;
    v = static_cast<int32_t>(u);
    return *this;
}

inline CArchive& CArchive::operator>>(CCardText& s) {
    // A one-byte length prefix and all of the text in the buffer.
    if (m_pInPlace != nullptr && !m_bFailed && m_nPos < m_nSize) {
        const size_t length = m_pData[m_nPos];
        if (length < 0xFF && length < m_nSize - m_nPos) {
            char* at = m_pInPlace + m_nPos;
            std::memmove(at, at + 1, length);
            at[length] = '\0';
            m_nPos += 1 + length;
            s = CCardText::Borrowed(at, length);
            return *this;
        }
    }
    return ReadText(s);
}
