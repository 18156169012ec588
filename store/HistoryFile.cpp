#include "store/HistoryFile.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <memory>
#include <thread>
#include <utility>

#include "base/LittleEndian.h"
#include "base/PosixIo.h"
#include "base/SafeFile.h"

namespace {

constexpr char kMagic[8] = {'K', 'C', 'D', 'H', 'I', 'S', 'T', 1};
constexpr uint32_t kVersion = 1;
constexpr uint32_t kRecordMarker = 0x5248434Bu;  // "KCHR"
constexpr const char* kWhat = "操作记录";

// SHA-256 over a few pieces, the digest looked up once and one context reused for a whole
// walk (looking the digest up for each record would cost more than hashing it).
class CSha256 {
public:
    CSha256() : m_md(EVP_MD_fetch(nullptr, "SHA256", nullptr)), m_ctx(EVP_MD_CTX_new()) {}
    ~CSha256() {
        EVP_MD_CTX_free(m_ctx);
        EVP_MD_free(m_md);
    }
    CSha256(const CSha256&) = delete;
    CSha256& operator=(const CSha256&) = delete;

    void Of(const void* first, size_t firstSize, const void* second, size_t secondSize,
            uint8_t* out) {
        unsigned int size = 0;
        EVP_DigestInit_ex2(m_ctx, m_md, nullptr);
        EVP_DigestUpdate(m_ctx, first, firstSize);
        EVP_DigestUpdate(m_ctx, second, secondSize);
        EVP_DigestFinal_ex(m_ctx, out, &size);
    }

private:
    EVP_MD* m_md;
    EVP_MD_CTX* m_ctx;
};

// The hash that the first record follows: that of the file's header.
CHistoryFile::Hash HeaderHash(const char* header) {
    CHistoryFile::Hash hash{};
    CSha256().Of(header, CHistoryFile::kHeaderSize, nullptr, 0, hash.data());
    return hash;
}

std::string Header(int64_t created) {
    std::string header(kMagic, sizeof kMagic);
    PutLe32(header, kVersion);
    PutLe32(header, 0);
    PutLe64(header, static_cast<uint64_t>(created));
    PutLe32(header, 0);
    PutLe32(header, 0);
    return header;
}

bool HeaderValid(std::string_view bytes) {
    return bytes.size() >= CHistoryFile::kHeaderSize &&
           std::memcmp(bytes.data(), kMagic, sizeof kMagic) == 0 &&
           GetLe32(bytes.data() + 8) == kVersion;
}

// The record whose header is at `offset` in `data`.
CHistoryFile::Record RecordAt(const char* data, uint64_t offset) {
    const char* p = data + offset;
    const uint32_t length = GetLe32(p + 4);
    CHistoryFile::Record record;
    record.number = GetLe64(p + 8);
    record.offset = offset;
    record.payload = std::string_view(p + CHistoryFile::kRecordHeaderSize, length);
    record.hash = reinterpret_cast<const uint8_t*>(p + CHistoryFile::kRecordHeaderSize + length);
    return record;
}

// Whether a record whose structure is whole stands at `at`: its marker, and its length within
// the file. `size` is the record's size.
bool WholeRecordAt(std::string_view bytes, size_t at, size_t& size) {
    constexpr size_t kFrame = CHistoryFile::kRecordHeaderSize + CHistoryFile::kHashSize;
    if (bytes.size() - at < kFrame) {
        return false;
    }
    const char* p = bytes.data() + at;
    if (GetLe32(p) != kRecordMarker) {
        return false;
    }
    const uint32_t length = GetLe32(p + 4);
    if (length > bytes.size() - at - kFrame) {
        return false;
    }
    size = kFrame + length;
    return true;
}

std::string Describe(const char* what, const std::string& path, int err) {
    return std::string(what) + " " + path + ":" + ErrnoText(err);
}

}  // namespace

CHistoryFile::Record CHistoryFile::RecordList::operator[](size_t i) const {
    return RecordAt(m_pData, m_offsets[i]);
}

bool CHistoryFile::RecordList::AfterGap(size_t i) const {
    return std::binary_search(m_gaps.begin(), m_gaps.end(), i);
}

CHistoryFile::Contents::~Contents() {
    Unmap();
}

CHistoryFile::Contents::Contents(Contents&& other) noexcept {
    *this = std::move(other);
}

CHistoryFile::Contents& CHistoryFile::Contents::operator=(Contents&& other) noexcept {
    if (this != &other) {
        Unmap();
        exists = other.exists;
        headerValid = other.headerValid;
        created = other.created;
        records = std::move(other.records);
        validEnd = other.validEnd;
        tornBytes = other.tornBytes;
        brokenAt = other.brokenAt;
        verified = other.verified;
        m_pData = std::exchange(other.m_pData, nullptr);
        m_nSize = std::exchange(other.m_nSize, 0);
        other.records = RecordList();
    }
    return *this;
}

void CHistoryFile::Contents::Unmap() {
    if (m_pData != nullptr) {
        ::munmap(const_cast<char*>(m_pData), m_nSize);
        m_pData = nullptr;
        m_nSize = 0;
    }
}

CHistoryFile::Hash CHistoryFile::Contents::LastHash() const {
    Hash hash{};
    if (!records.empty()) {
        std::memcpy(hash.data(), records.back().hash, kHashSize);
    } else if (m_nSize >= kHeaderSize) {
        hash = HeaderHash(m_pData);
    }
    return hash;
}

bool CHistoryFile::Read(const std::string& path, Contents& contents, std::string& error) {
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
    const size_t size = static_cast<size_t>(st.st_size);
    if (size > 0) {
        void* data = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
        if (data == MAP_FAILED) {
            error = Describe("无法读取", path, errno);
            ::close(fd);
            return false;
        }
        contents.m_pData = static_cast<const char*>(data);
        contents.m_nSize = size;
    }
    ::close(fd);

    const std::string_view bytes = contents.Bytes();
    contents.headerValid = HeaderValid(bytes);
    if (contents.headerValid) {
        contents.created = static_cast<int64_t>(GetLe64(bytes.data() + 16));
    }
    size_t at = std::min(bytes.size(), kHeaderSize);
    contents.validEnd = at;
    RecordList& records = contents.records;
    records.m_pData = bytes.data();
    while (at < bytes.size()) {
        size_t size = 0;
        if (WholeRecordAt(bytes, at, size)) {
            records.m_offsets.push_back(at);
            at += size;
            contents.validEnd = at;
            continue;
        }
        // No record here: a later whole one means bytes were changed in the middle; none means
        // the end was cut by a crash.
        size_t next = at + 1;
        while (next < bytes.size() && !WholeRecordAt(bytes, next, size)) {
            ++next;
        }
        if (next >= bytes.size()) {
            contents.tornBytes = bytes.size() - at;
            break;
        }
        records.m_gaps.push_back(records.size());
        at = next;
    }
    return true;
}

void CHistoryFile::Verify(Contents& contents) {
    contents.verified = true;
    contents.brokenAt = 0;
    const std::string_view bytes = contents.Bytes();
    if (!contents.exists) {
        return;  // no history yet: nothing broken
    }
    if (!contents.headerValid) {
        contents.brokenAt = 1;
        return;
    }
    const RecordList& records = contents.records;
    const Hash header = HeaderHash(bytes.data());
    // Each record is checked against the hash its predecessor carries, so that the records
    // can be checked in parallel; the first that fails is the first changed, since every
    // record before it matched the one after.
    const auto firstBroken = [&records, &header](size_t from, size_t to) {
        CSha256 sha;
        Hash computed{};
        for (size_t i = from; i < to; ++i) {
            const Record record = records[i];
            if (record.number != i + 1 || records.AfterGap(i)) {
                return i;
            }
            const uint8_t* previous = i == 0 ? header.data() : records[i - 1].hash;
            sha.Of(previous, kHashSize, records.m_pData + record.offset,
                   kRecordHeaderSize + record.payload.size(), computed.data());
            if (std::memcmp(computed.data(), record.hash, kHashSize) != 0) {
                return i;
            }
        }
        return to;
    };
    const size_t count = records.size();
    size_t broken = count;
    if (count < 20000) {
        broken = firstBroken(0, count);
    } else {
        const size_t middle = count / 2;
        size_t second = count;
        std::thread helper([&] { second = firstBroken(middle, count); });
        broken = firstBroken(0, middle);
        helper.join();
        if (broken == middle) {
            broken = second;
        }
    }
    contents.brokenAt = broken < count ? broken + 1 : 0;
}

std::string CHistoryFile::EncodeRecords(const std::vector<std::string>& payloads,
                                        uint64_t firstNumber, const Hash& previous, Hash& last) {
    size_t total = 0;
    for (const std::string& payload : payloads) {
        total += kRecordHeaderSize + payload.size() + kHashSize;
    }
    std::string out;
    out.reserve(total);
    CSha256 sha;
    last = previous;
    uint64_t number = firstNumber;
    for (const std::string& payload : payloads) {
        const size_t start = out.size();
        PutLe32(out, kRecordMarker);
        PutLe32(out, static_cast<uint32_t>(payload.size()));
        PutLe64(out, number++);
        out += payload;
        Hash hash{};
        sha.Of(last.data(), kHashSize, out.data() + start, out.size() - start, hash.data());
        out.append(reinterpret_cast<const char*>(hash.data()), kHashSize);
        last = hash;
    }
    return out;
}

bool CHistoryFile::CanKeepThrough(const Contents& contents, uint64_t number) {
    return contents.exists && contents.headerValid && contents.verified &&
           (contents.brokenAt == 0 || contents.brokenAt > number) &&
           number <= contents.records.size() &&
           (number == 0 || contents.records[number - 1].number == number);
}

bool CHistoryFile::Open(const std::string& path, const Contents& contents, std::string& error,
                        const std::vector<std::string>& first, uint64_t keepThrough) {
    Close();
    if (!contents.exists) {
        std::string header = Header(static_cast<int64_t>(std::time(nullptr)));
        Hash last = HeaderHash(header.data());
        header += EncodeRecords(first, 1, last, last);
        const bool saved = SaveFileSafely(
            path, std::string(),
            [&header](int fd, std::string& why) {
                if (!WriteAll(fd, header.data(), header.size())) {
                    why = "写入操作记录失败:" + ErrnoText(errno);
                    return false;
                }
                return true;
            },
            error);
        if (!saved || !m_file.OpenAt(path, header.size(), kWhat, error)) {
            return false;
        }
        m_nLastNumber = first.size();
        m_lastHash = last;
        return true;
    }
    if (!contents.headerValid) {
        error = path + " 不是操作记录文件,或者文件头已经损坏";
        return false;
    }
    if (keepThrough != UINT64_MAX && CanKeepThrough(contents, keepThrough)) {
        uint64_t end = kHeaderSize;
        if (keepThrough > 0) {
            const Record last = contents.records[keepThrough - 1];
            end = last.offset + kRecordHeaderSize + last.payload.size() + kHashSize;
        }
        if (!m_file.OpenAt(path, end, kWhat, error)) {
            return false;
        }
        m_nLastNumber = keepThrough;
        if (keepThrough == 0) {
            m_lastHash = HeaderHash(contents.Bytes().data());
        } else {
            std::memcpy(m_lastHash.data(), contents.records[keepThrough - 1].hash, kHashSize);
        }
        return true;
    }
    if (!m_file.OpenAt(path, contents.validEnd, kWhat, error)) {
        return false;
    }
    m_nLastNumber = contents.LastNumber();
    m_lastHash = contents.LastHash();
    return true;
}

bool CHistoryFile::Append(const std::vector<std::string>& payloads, std::string& error,
                          bool flush) {
    if (payloads.empty()) {
        return true;
    }
    Hash last{};
    const std::string bytes = EncodeRecords(payloads, m_nLastNumber + 1, m_lastHash, last);
    if (!m_file.Append(bytes, error, flush)) {
        return false;
    }
    m_nLastNumber += payloads.size();
    m_lastHash = last;
    return true;
}
