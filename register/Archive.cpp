#include "register/Archive.h"

#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "base/CodePage.h"
#include "base/PosixIo.h"

namespace {

constexpr size_t kBufferSize = 64 * 1024;
constexpr uint64_t kWritebackStep = 4 * 1024 * 1024;

}  // namespace

CArchive::CArchive(const void* data, size_t size)
    : m_bStoring(false),
      m_pData(static_cast<const uint8_t*>(data)),
      m_nSize(size),
      m_nTotal(size) {}

CArchive::CArchive(char* data, size_t size, InPlace) : CArchive(data, size) {
    m_pInPlace = data;
}

CArchive::CArchive(int fd, uint64_t size)
    : m_bStoring(false), m_fd(fd), m_buffer(kBufferSize), m_nTotal(size) {
    m_pData = m_buffer.data();
}

CArchive::CArchive(std::string* out) : m_bStoring(true), m_pOut(out) {}

CArchive::CArchive(int fd) : m_bStoring(true), m_fd(fd), m_buffer(kBufferSize) {}

void CArchive::Fail(uint64_t offset, const std::string& what) {
    if (m_bFailed) {
        return;
    }
    m_bFailed = true;
    m_strError = "偏移 " + std::to_string(offset) + " 处";
    if (m_pszField != nullptr) {
        m_strError += "(字段 " + std::string(m_pszField) + ")";
    }
    m_strError += ":" + what;
}

// ---- storing ----

void CArchive::PutSlow(const void* data, size_t size) {
    if (m_pOut != nullptr) {
        m_pOut->append(static_cast<const char*>(data), size);
        m_nPos += size;
        return;
    }
    const uint8_t* p = static_cast<const uint8_t*>(data);
    while (size > 0 && !m_bFailed) {
        if (m_nPos == m_buffer.size() && !Flush()) {
            return;
        }
        const size_t n = std::min(size, m_buffer.size() - m_nPos);
        std::memcpy(m_buffer.data() + m_nPos, p, n);
        m_nPos += n;
        p += n;
        size -= n;
    }
}

bool CArchive::Flush() {
    if (m_bFailed) {
        return false;
    }
    if (m_pOut != nullptr || m_nPos == 0) {
        return true;
    }
    if (!WriteAll(m_fd, m_buffer.data(), m_nPos)) {
        const int err = errno;
        Fail(m_nBase, "写入失败:" + ErrnoText(err));
        return false;
    }
    if (m_observe) {
        m_observe(m_buffer.data(), m_nPos);
    }
    m_nBase += m_nPos;
    m_nPos = 0;
    // The disk starts on what is written while the rest is still being put together.
    if (m_nBase - m_nWrittenBack >= kWritebackStep) {
        StartWriteback(m_fd, static_cast<off_t>(m_nWrittenBack),
                       static_cast<off_t>(m_nBase - m_nWrittenBack));
        m_nWrittenBack = m_nBase;
    }
    return true;
}

uint8_t* CArchive::Room(size_t size) {
    if (m_bFailed) {
        return nullptr;
    }
    if (m_pOut != nullptr) {
        m_pOut->resize(m_pOut->size() + size);
        m_nPos += size;
        return reinterpret_cast<uint8_t*>(m_pOut->data() + m_pOut->size() - size);
    }
    if (size > m_buffer.size() || (size > m_buffer.size() - m_nPos && !Flush())) {
        return nullptr;
    }
    uint8_t* at = m_buffer.data() + m_nPos;
    m_nPos += size;
    return at;
}

void CArchive::WriteBytes(const void* data, size_t size) {
    Put(data, size);
}

// ---- loading ----

bool CArchive::Refill() {
    if (m_fd < 0) {
        return false;
    }
    m_nBase += m_nSize;
    m_nPos = 0;
    m_nSize = 0;
    const uint64_t want = std::min<uint64_t>(m_buffer.size(), m_nTotal - m_nBase);
    while (m_nSize < want) {
        const ssize_t n = ::read(m_fd, m_buffer.data() + m_nSize, want - m_nSize);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            const int err = n < 0 ? errno : 0;
            Fail(m_nBase + m_nSize,
                 err != 0 ? "读取失败:" + ErrnoText(err) : std::string("文件在读取时变短了"));
            return false;
        }
        m_nSize += static_cast<size_t>(n);
    }
    return m_nSize > 0;
}

bool CArchive::GetSlow(void* data, size_t size) {
    if (m_bFailed) {
        std::memset(data, 0, size);
        return false;
    }
    if (size > Remaining()) {
        Fail(Offset(), "文件意外结束:需要 " + std::to_string(size) + " 字节,只剩 " +
                           std::to_string(Remaining()) + " 字节");
        std::memset(data, 0, size);
        return false;
    }
    uint8_t* p = static_cast<uint8_t*>(data);
    while (size > 0) {
        if (m_nPos == m_nSize && !Refill()) {
            std::memset(p, 0, size);
            return false;
        }
        const size_t n = std::min(size, m_nSize - m_nPos);
        std::memcpy(p, m_pData + m_nPos, n);
        m_nPos += n;
        p += n;
        size -= n;
    }
    return true;
}

bool CArchive::ReadBytes(void* data, size_t size) {
    return Get(data, size);
}

uint32_t CArchive::ReadCount() {
    uint16_t count16 = 0;
    *this >> count16;
    if (count16 != 0xFFFF) {
        return count16;
    }
    uint32_t count32 = 0;
    *this >> count32;
    return count32;
}

// The string length prefix: a byte; 0xFF then a uint16; 0xFFFF then a uint32. The uint16
// 0xFFFE marks a wide string whose length follows again in the same encoding.
uint64_t CArchive::ReadLength(bool& wide) {
    wide = false;
    uint8_t len8 = 0;
    *this >> len8;
    if (len8 < 0xFF) {
        return len8;
    }
    uint16_t len16 = 0;
    *this >> len16;
    if (len16 == 0xFFFE) {
        wide = true;
        *this >> len8;
        if (len8 < 0xFF) {
            return len8;
        }
        *this >> len16;
    }
    if (len16 < 0xFFFF) {
        return len16;
    }
    uint32_t len32 = 0;
    *this >> len32;
    return len32;
}

bool CArchive::ReadStringHeader(uint64_t& start, uint64_t& bytes, bool& wide) {
    start = Offset();
    const uint64_t chars = ReadLength(wide);
    bytes = wide ? chars * 2 : chars;
    if (m_bFailed) {
        return false;
    }
    if (bytes > Remaining()) {
        Fail(start, "字符串长度 " + std::to_string(bytes) + " 字节超出文件剩余的 " +
                        std::to_string(Remaining()) + " 字节");
        return false;
    }
    return true;
}

CArchive& CArchive::operator>>(std::string& s) {
    uint64_t start = 0;
    uint64_t bytes = 0;
    bool wide = false;
    if (!ReadStringHeader(start, bytes, wide)) {
        return *this;
    }
    if (!wide) {
        // Read in place: the string's own buffer is reused when it is large enough.
        s.resize(static_cast<size_t>(bytes));
        if (!Get(s.data(), s.size())) {
            s.clear();
        }
        return *this;
    }
    std::string raw(static_cast<size_t>(bytes), '\0');
    if (Get(raw.data(), raw.size())) {
        s = Utf16leToCodePage(raw);
    }
    return *this;
}

CArchive& CArchive::ReadText(CCardText& s) {
    if (m_pInPlace == nullptr) {
        std::string text;
        *this >> text;
        s = text;
        return *this;
    }
    uint64_t start = 0;
    uint64_t bytes = 0;
    bool wide = false;
    if (!ReadStringHeader(start, bytes, wide)) {
        return *this;
    }
    // The text takes the place of its length prefix and ends where its bytes ended, so the
    // NUL after it overwrites only bytes already read. A wide text's code-page form goes in the
    // same place when it is not longer than its UTF-16 form, otherwise it is copied.
    char* at = m_pInPlace + start;
    const char* from = m_pInPlace + m_nPos;
    size_t size = static_cast<size_t>(bytes);
    if (wide) {
        const std::string converted = Utf16leToCodePage(std::string_view(from, size));
        m_nPos += size;
        if (converted.size() > size) {
            s = converted;
            return *this;
        }
        size = converted.size();
        std::memcpy(at, converted.data(), size);
        at[size] = '\0';
        s = CCardText::Borrowed(at, size);
        return *this;
    }
    std::memmove(at, from, size);
    m_nPos += size;
    at[size] = '\0';
    s = CCardText::Borrowed(at, size);
    return *this;
}
