#include "store/Journal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>
#include <cerrno>
#include <cstring>
#include <vector>

#include "base/LittleEndian.h"
#include "base/PosixIo.h"
#include "base/SafeFile.h"

namespace {

constexpr char kMagic[8] = {'K', 'C', 'D', 'J', 'R', 'N', 'L', 1};
constexpr uint32_t kVersion = 1;
constexpr uint32_t kRecordMarker = 0x4A52434Bu;  // "KCRJ"

uint32_t Crc(const void* data, size_t size, uint32_t crc = 0) {
    const auto* p = static_cast<const Bytef*>(data);
    // zlib takes at most 4 GiB a call.
    while (size > 0) {
        const uInt n = size > 0x40000000u ? 0x40000000u : static_cast<uInt>(size);
        crc = static_cast<uint32_t>(::crc32(crc, p, n));
        p += n;
        size -= n;
    }
    return crc;
}

std::string Describe(const char* what, const std::string& path, int err) {
    return std::string(what) + " " + path + ":" + ErrnoText(err);
}

// A record at `at` whose both checksums hold; its size in `size`.
bool ValidRecordAt(const std::string& bytes, size_t at, CJournal::Record& record, size_t& size) {
    if (bytes.size() - at < CJournal::kRecordHeaderSize) {
        return false;
    }
    const char* p = bytes.data() + at;
    if (GetLe32(p) != kRecordMarker || GetLe32(p + 24) != Crc(p, 24)) {
        return false;
    }
    const uint32_t length = GetLe32(p + 4);
    if (length > bytes.size() - at - CJournal::kRecordHeaderSize) {
        return false;
    }
    const char* payload = p + CJournal::kRecordHeaderSize;
    if (GetLe32(p + 20) != Crc(payload, length)) {
        return false;
    }
    record.seq = GetLe64(p + 8);
    record.kind = static_cast<uint8_t>(p[16]);
    record.payload = std::string_view(payload, length);
    size = CJournal::kRecordHeaderSize + length;
    return true;
}

}  // namespace

bool FingerprintOfFile(const std::string& path, RegisterFingerprint& fingerprint,
                       std::string& error) {
    fingerprint = RegisterFingerprint();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) {
            return true;
        }
        error = Describe("无法打开", path, errno);
        return false;
    }
    std::vector<char> buffer(1 << 20);
    for (;;) {
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            error = Describe("无法读取", path, errno);
            ::close(fd);
            return false;
        }
        if (n == 0) {
            break;
        }
        fingerprint.crc = Crc(buffer.data(), static_cast<size_t>(n), fingerprint.crc);
        fingerprint.size += static_cast<uint64_t>(n);
    }
    ::close(fd);
    return true;
}

bool CJournal::Read(const std::string& path, Contents& contents, std::string& error) {
    contents = Contents();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) {
            return true;
        }
        error = Describe("无法打开", path, errno);
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        error = path + " 不是一个可读的普通文件";
        ::close(fd);
        return false;
    }
    contents.exists = true;
    contents.bytes.resize(static_cast<size_t>(st.st_size));
    if (!ReadAll(fd, contents.bytes.data(), contents.bytes.size())) {
        error = Describe("无法读取", path, errno != 0 ? errno : EIO);
        ::close(fd);
        return false;
    }
    ::close(fd);
    Parse(contents);
    return true;
}

void CJournal::Parse(Contents& contents) {
    const std::string& bytes = contents.bytes;
    if (bytes.size() < kHeaderSize || std::memcmp(bytes.data(), kMagic, sizeof kMagic) != 0 ||
        GetLe32(bytes.data() + 8) != kVersion ||
        GetLe32(bytes.data() + 36) != Crc(bytes.data(), 36)) {
        return;  // headerValid stays false: nothing in it is trusted
    }
    contents.headerValid = true;
    contents.base.size = GetLe64(bytes.data() + 16);
    contents.base.crc = GetLe32(bytes.data() + 24);
    contents.firstSeq = GetLe64(bytes.data() + 28);

    uint64_t expected = contents.firstSeq;
    size_t at = kHeaderSize;
    contents.validEnd = at;
    while (at < bytes.size()) {
        Record record;
        size_t size = 0;
        if (ValidRecordAt(bytes, at, record, size) && record.seq == expected) {
            contents.records.push_back(record);
            at += size;
            contents.validEnd = at;
            ++expected;
            continue;
        }
        // Damaged here: a valid later record means records were lost in the middle; none
        // means the end was cut by a crash.
        size_t next = at + 1;
        for (; next < bytes.size(); ++next) {
            if (ValidRecordAt(bytes, next, record, size) && record.seq >= expected) {
                break;
            }
        }
        if (next >= bytes.size()) {
            contents.tornBytes = bytes.size() - at;
            break;
        }
        contents.damagedBytes += next - at;
        contents.damagedRecords += record.seq - expected;
        expected = record.seq;
        at = next;
    }
}

std::string CJournal::EncodeRecord(uint64_t seq, Kind kind, std::string_view payload) {
    std::string out;
    out.reserve(kRecordHeaderSize + payload.size());
    PutLe32(out, kRecordMarker);
    PutLe32(out, static_cast<uint32_t>(payload.size()));
    PutLe64(out, seq);
    out += static_cast<char>(kind);
    out.append(3, '\0');
    PutLe32(out, Crc(payload.data(), payload.size()));
    PutLe32(out, Crc(out.data(), 24));
    out.append(payload);
    return out;
}

bool CJournal::Create(const std::string& path, const RegisterFingerprint& base, uint64_t nextSeq,
                      std::string& error) {
    std::string header(kMagic, sizeof kMagic);
    PutLe32(header, kVersion);
    PutLe32(header, 0);
    PutLe64(header, base.size);
    PutLe32(header, base.crc);
    PutLe64(header, nextSeq);
    PutLe32(header, Crc(header.data(), header.size()));
    const bool saved = SaveFileSafely(
        path, std::string(),
        [&header](int fd, std::string& why) {
            if (!WriteAll(fd, header.data(), header.size())) {
                why = "写入操作日志失败:" + ErrnoText(errno);
                return false;
            }
            return true;
        },
        error);
    return saved && OpenAt(path, kHeaderSize, error);
}

bool CJournal::OpenAt(const std::string& path, uint64_t validEnd, std::string& error) {
    return m_file.OpenAt(path, validEnd, "操作日志", error);
}

void CJournal::Close() {
    m_file.Close();
}

bool CJournal::Append(std::string_view records, std::string& error) {
    return m_file.Append(records, error);
}

std::string CJournal::HistoryBlock(uint64_t first, const std::vector<std::string>& payloads) {
    std::string block;
    PutLe64(block, first);
    PutLe32(block, static_cast<uint32_t>(payloads.size()));
    for (const std::string& payload : payloads) {
        PutLe32(block, static_cast<uint32_t>(payload.size()));
        block += payload;
    }
    return block;
}

bool CJournal::DecodeHistoryBlock(std::string_view block, uint64_t& first,
                                  std::vector<std::string_view>& payloads) {
    payloads.clear();
    if (block.size() < 12) {
        return false;
    }
    first = GetLe64(block.data());
    const uint32_t count = GetLe32(block.data() + 8);
    block.remove_prefix(12);
    for (uint32_t i = 0; i < count; ++i) {
        if (block.size() < 4 || GetLe32(block.data()) > block.size() - 4) {
            return false;
        }
        const uint32_t length = GetLe32(block.data());
        payloads.push_back(block.substr(4, length));
        block.remove_prefix(4 + length);
    }
    return block.empty();
}

bool CJournal::ChangeOf(const Record& record, std::string_view& change, std::string_view& history) {
    if (record.kind == kChange) {
        change = record.payload;
        history = {};
        return true;
    }
    if (record.kind != kRecordedChange || record.payload.size() < 4 ||
        GetLe32(record.payload.data()) > record.payload.size() - 4) {
        return false;
    }
    change = record.payload.substr(4, GetLe32(record.payload.data()));
    history = record.payload.substr(4 + change.size());
    return true;
}
