#include "register/RegisterFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "base/PosixIo.h"
#include "base/SafeFile.h"
#include "register/Archive.h"

namespace {

constexpr uint16_t kNullTag = 0x0000;
constexpr uint16_t kNewClassTag = 0xFFFF;
constexpr uint16_t kClassTag = 0x8000;
constexpr uint16_t kBigObjectTag = 0x7FFF;
constexpr uint32_t kBigClassTag = 0x80000000;
constexpr size_t kMaxClassNameLength = 64;
// A register file up to this size is read whole and its texts are kept where they were read;
// a larger one is read in pieces and each text copied, so that memory stays near the records'.
constexpr uint64_t kMaxInPlaceBytes = uint64_t{1} << 30;

// Smallest possible entry: 1-byte key length, class tag, and a record of empty strings.
constexpr uint64_t kMinEntryBytes = 1 + 2 + (4 + 1 + 1 + 1 + 11 + 1 + 3);

// The archive's numbering of what it has read: 0 is the null object, then each class
// introduced and each object read takes the next number.
class CLoadTable {
public:
    CLoadTable() : m_isClass{false} {}
    void AddClass() { m_isClass.push_back(true); }
    void AddObject() { m_isClass.push_back(false); }
    bool IsClass(uint32_t index) const { return index < m_isClass.size() && m_isClass[index]; }

private:
    std::vector<bool> m_isClass;
};

// A text quoted for an error message: its first kMaxQuotedBytes bytes, printable ASCII as it is
// and any other byte as \xHH; a longer text is cut there and its length added, so that a
// corrupt length cannot make the message as large as the file.
constexpr size_t kMaxQuotedBytes = 32;

std::string Quoted(std::string_view bytes) {
    std::string out = "\"";
    for (unsigned char c : bytes.substr(0, kMaxQuotedBytes)) {
        if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') {
            out += static_cast<char>(c);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    out += "\"";
    if (bytes.size() > kMaxQuotedBytes) {
        out += "…(共 " + std::to_string(bytes.size()) + " 字节)";
    }
    return out;
}

// Reads an object tag and the class introduction if there is one; the object must be a CCard.
bool ReadCardClass(CArchive& ar, CLoadTable& table) {
    ar.SetField("类标记");
    const uint64_t at = ar.Offset();
    uint16_t tag = 0;
    ar >> tag;
    if (ar.Failed()) {
        return false;
    }
    if (tag == kNewClassTag) {
        uint16_t schema = 0;
        uint16_t nameLength = 0;
        ar >> schema >> nameLength;
        if (ar.Failed()) {
            return false;
        }
        if (nameLength >= kMaxClassNameLength) {
            ar.Fail(at, "类名长度 " + std::to_string(nameLength) + " 超过 63 字节");
            return false;
        }
        std::string name(nameLength, '\0');
        if (!ar.ReadBytes(name.data(), name.size())) {
            return false;
        }
        if (name != CCard::kClassName) {
            ar.Fail(at, "未知的类 " + Quoted(name));
            return false;
        }
        if (schema != CCard::kSchema) {
            ar.Fail(at, "类 CCard 的版本号 " + std::to_string(schema) + " 不是 1");
            return false;
        }
        table.AddClass();
        return true;
    }
    uint32_t objectTag = 0;
    if (tag == kBigObjectTag) {
        ar >> objectTag;
        if (ar.Failed()) {
            return false;
        }
    } else {
        objectTag = (static_cast<uint32_t>(tag & kClassTag) << 16) | (tag & ~kClassTag);
    }
    if ((objectTag & kBigClassTag) == 0) {
        ar.Fail(at, objectTag == kNullTag ? std::string("空对象标记")
                                          : "引用先前对象的标记 " + std::to_string(objectTag));
        return false;
    }
    const uint32_t classIndex = objectTag & ~kBigClassTag;
    if (!table.IsClass(classIndex)) {
        ar.Fail(at, "类编号 " + std::to_string(classIndex) + " 未定义");
        return false;
    }
    return true;
}

}  // namespace

void WriteRegister(CArchive& ar, const CCardMap& map) {
    ar.WriteCount(static_cast<uint32_t>(map.GetCount()));
    bool classWritten = false;
    for (const CCardMap::CAssoc& entry : map) {
        ar << entry.key;
        if (!classWritten) {
            ar << kNewClassTag << CCard::kSchema
               << static_cast<uint16_t>(std::strlen(CCard::kClassName));
            ar.WriteBytes(CCard::kClassName, std::strlen(CCard::kClassName));
            classWritten = true;
        } else {
            ar << static_cast<uint16_t>(kClassTag | 1);
        }
        entry.value->Serialize(ar);
    }
}

namespace {

// Reads the entry count and then the entries into `map`, each complete record as it is read,
// and stops at the first failure; the archive then says what failed. The whole register must
// fit the bytes that remain: a count larger than they can hold fails at once, unless
// `prefix`, when it only limits the room reserved and reading goes on to the first failure.
// `highest` is raised to the highest serial number inserted.
void ReadEntries(CArchive& ar, CCardMap& map, uint32_t& highest, std::string& error, bool prefix) {
    ar.SetField("条目数");
    const uint64_t countAt = ar.Offset();
    const uint32_t count = ar.ReadCount();
    const uint64_t fits = ar.Remaining() / kMinEntryBytes;
    if (!ar.Failed() && count > fits && !prefix) {
        ar.Fail(countAt, "条目数 " + std::to_string(count) + " 超出文件剩余的 " +
                             std::to_string(ar.Remaining()) + " 字节所能容纳的");
    }
    if (!ar.Failed()) {
        map.Reserve(static_cast<size_t>(std::min<uint64_t>(count, fits)));
    }
    CLoadTable table;
    for (uint32_t i = 0; i < count && !ar.Failed(); ++i) {
        CCardText key;
        ar.SetField("卡号键");
        ar >> key;
        CRecordPtr card = map.NewRecord();
        if (ReadCardClass(ar, table)) {
            table.AddObject();
            card->Serialize(ar);
        }
        if (ar.Failed()) {
            error = "第 " + std::to_string(i + 1) + " 条记录(键 " + Quoted(key) + "),";
            break;
        }
        highest = std::max(highest, static_cast<uint32_t>(card->m_nNumber));
        map.SetAt(std::move(key), std::move(card));
    }
    if (!ar.Failed() && ar.Remaining() != 0) {
        ar.SetField(nullptr);
        ar.Fail(ar.Offset(), "最后一条记录之后还有 " + std::to_string(ar.Remaining()) + " 字节");
    }
    if (ar.Failed()) {
        error += ar.Error();
    }
}

// Opens `path` and reads it into `loaded` with `read` (in place when it is small enough).
// Loaded when `read` read a complete register; otherwise what kept it from being read.
template <class Read>
RegisterLoad ReadFileWith(const std::string& path, CCardMap& loaded, std::string& error,
                          Read&& read) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) {
            return RegisterLoad::Missing;
        }
        error = "无法打开 " + path + ":" + ErrnoText(errno);
        return RegisterLoad::Unreadable;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        error = path + " 不是一个可读的普通文件";
        ::close(fd);
        return RegisterLoad::Unreadable;
    }
    if (st.st_size == 0) {
        ::close(fd);
        return RegisterLoad::EmptyFile;
    }
    bool ok = false;
    if (static_cast<uint64_t>(st.st_size) <= kMaxInPlaceBytes) {
        // The whole file in one read; the records' texts stay in that buffer.
        const size_t size = static_cast<size_t>(st.st_size);
        CBulkMemory bytes(size);
        if (!ReadAll(fd, bytes.data(), size)) {
            error =
                "无法读取 " + path + ":" + (errno != 0 ? ErrnoText(errno) : "文件在读取时变短了");
            ::close(fd);
            return RegisterLoad::Unreadable;
        }
        CArchive ar(bytes.data(), size, CArchive::InPlace{});
        loaded.KeepTextBuffer(std::move(bytes));
        ok = read(ar);
    } else {
        CArchive ar(fd, static_cast<uint64_t>(st.st_size));
        ok = read(ar);
    }
    ::close(fd);
    return ok ? RegisterLoad::Loaded : RegisterLoad::Damaged;
}

}  // namespace

bool ReadRegister(CArchive& ar, CCardMap& map, uint32_t& maxNumber, std::string& error) {
    uint32_t highest = 0;
    ReadEntries(ar, map, highest, error, false);
    if (ar.Failed()) {
        map.RemoveAll();
        return false;
    }
    maxNumber = std::max(maxNumber, highest);
    return true;
}

size_t ReadRegisterPrefix(CArchive& ar, CCardMap& map, uint32_t& maxNumber, std::string& error) {
    ReadEntries(ar, map, maxNumber, error, true);
    return map.GetCount();
}

RegisterLoad LoadRegisterFile(const std::string& path, CCardMap& map, uint32_t& maxNumber,
                              std::string& error) {
    CCardMap loaded(map.GetHashTableSize());
    const RegisterLoad result = ReadFileWith(path, loaded, error, [&](CArchive& ar) {
        return ReadRegister(ar, loaded, maxNumber, error);
    });
    if (result == RegisterLoad::Loaded) {
        map = std::move(loaded);
    }
    return result;
}

size_t LoadRegisterPrefix(const std::string& path, CCardMap& map, uint32_t& maxNumber,
                          std::string& error) {
    CCardMap loaded(map.GetHashTableSize());
    uint32_t highest = 0;
    ReadFileWith(path, loaded, error, [&](CArchive& ar) {
        ReadRegisterPrefix(ar, loaded, highest, error);
        return !ar.Failed();
    });
    const size_t kept = loaded.GetCount();
    if (kept > 0) {
        map = std::move(loaded);
        maxNumber = std::max(maxNumber, highest);
    }
    return kept;
}

bool SaveRegisterFile(const CCardMap& map, const std::string& path, const std::string& backupPath,
                      std::string& error) {
    return SaveRegisterFile(map, path, backupPath, error, nullptr, BeforeReplace());
}

bool SaveRegisterFile(const CCardMap& map, const std::string& path, const std::string& backupPath,
                      std::string& error, const std::function<void(const void*, size_t)>& observe,
                      const BeforeReplace& beforeReplace) {
    return SaveFileSafely(
        path, backupPath,
        [&map, &path, &observe](int fd, std::string& err) {
            CArchive ar(fd);
            if (observe) {
                ar.ObserveWrites(observe);
            }
            WriteRegister(ar, map);
            if (!ar.Flush()) {
                err = "写入 " + path + " 失败," + ar.Error();
                return false;
            }
            return true;
        },
        error, beforeReplace);
}

std::string FreeStampedName(const std::string& prefix, std::time_t now) {
    char stamp[32];
    std::tm local{};
    ::localtime_r(&now, &local);
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    const std::string base = prefix + stamp;
    std::string name = base;
    struct stat st {};
    for (int n = 2; ::lstat(name.c_str(), &st) == 0; ++n) {
        name = base + "-" + std::to_string(n);
    }
    return name;
}

std::string DamagedRegisterName(const std::string& path, std::time_t now) {
    return FreeStampedName(path + ".damaged-", now);
}
