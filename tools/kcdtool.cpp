// Command-line access to register files, through the program's own reader and writer.
//   kcdtool check FILE     loads FILE; prints the number of cards or what is wrong and where
//   kcdtool dump FILE      one tab-separated line per card, in the register's order
//   kcdtool copy IN OUT    loads IN and writes OUT the way the program saves its register
//   kcdtool history FILE   one tab-separated line per record of a history, oldest first
//   kcdtool verify-history FILE   checks a history's chain; names the first broken record
//   kcdtool push FILE CONNINFO     loads a register file into an empty register on a server
//   kcdtool pull CONNINFO FILE     writes a server's register as the program writes a file
//   kcdtool verify-server CONNINFO checks the chain of a server's history
//   kcdtool --help         what it does

#include <cstdio>
#include <cstring>
#include <string>
#include <type_traits>

#include "base/CodePage.h"
#include "register/CardMap.h"
#include "register/RegisterFile.h"
#include "store/HistoryEntry.h"
#include "store/HistoryFile.h"
#include "store/RegisterLock.h"
#ifdef ORVANE_WITH_SERVER
#include "server/PgHistoryCopy.h"
#include "server/PgRegister.h"
#include "server/PgSchema.h"
#endif

namespace {

constexpr const char* kUsage =
    "用法: kcdtool check FILE\n"
    "      kcdtool dump FILE\n"
    "      kcdtool copy IN OUT\n"
    "      kcdtool history FILE\n"
    "      kcdtool verify-history FILE\n"
    "      kcdtool push FILE CONNINFO\n"
    "      kcdtool pull CONNINFO FILE\n"
    "      kcdtool verify-server CONNINFO\n";

int Usage() {
    std::fputs(kUsage, stderr);
    return 2;
}

int Help() {
    std::fputs(kUsage, stdout);
    std::fputs(
        "\n"
        "用发卡软件 (orvane) 自己的读写代码处理卡片登记文件 (cardbook.kcd)。\n"
        "\n"
        "  check FILE    读入 FILE: 输出卡片张数 (退出码 0), 或哪里有错 (退出码 1)\n"
        "  dump FILE     按登记顺序每张卡片一行: 键和卡片的 19 个字段, 以制表符分隔;\n"
        "                文字由 GB2312 转为 UTF-8, 制表符、换行和反斜杠写作 \\t、\\n 和 \\\\\n"
        "  copy IN OUT   读入 IN, 像程序保存登记那样写出 OUT\n"
        "  history FILE  操作记录 (cardbook.kcd.history; 也可给出登记文件) 每条一行:\n"
        "                序号、时间、工作站、操作、卡号、姓名、金额、批次、内容、校验值,\n"
        "                以制表符分隔, 按记录顺序\n"
        "  verify-history FILE\n"
        "                检查操作记录的校验链: 完整时退出码 0, 否则说出第一条不一致的\n"
        "                记录 (被改动、删除或调换) 并以退出码 1 结束\n"
        "  push FILE CONNINFO\n"
        "                把登记文件 FILE 载入 PostgreSQL 服务器上没有卡片的登记\n"
        "                (CONNINFO: libpq 连接串, 如 \"host=db.example dbname=cards\")\n"
        "  pull CONNINFO FILE\n"
        "                把服务器上的登记写成登记文件 FILE, 与程序保存的逐字节相同\n"
        "  verify-server CONNINFO\n"
        "                检查服务器上操作记录的校验链, 退出码同 verify-history\n"
        "  -h, --help    显示本帮助\n"
        "\n"
        "退出码: 0 成功, 1 文件无法读取或写入, 2 用法错误。\n",
        stdout);
    return 0;
}

// Loads `path` (and the highest serial number in it); on failure prints why and returns false.
bool Load(const char* path, CCardMap& map, uint32_t* highest = nullptr) {
    uint32_t maxNumber = 0;
    std::string error;
    if (highest == nullptr) {
        highest = &maxNumber;
    }
    switch (LoadRegisterFile(path, map, *highest, error)) {
        case RegisterLoad::Loaded:
        case RegisterLoad::EmptyFile:
            return true;
        case RegisterLoad::Missing:
            std::fprintf(stderr, "%s: 文件不存在\n", path);
            return false;
        case RegisterLoad::Unreadable:
        case RegisterLoad::Damaged:
            std::fprintf(stderr, "%s: %s\n", path, error.c_str());
            return false;
    }
    return false;
}

std::string DumpLine(const CCardMap::CAssoc& entry) {
    std::string line = CodePageToEscapedUtf8(entry.key);
    CCard::VisitFields(*entry.value, [&line](const char*, const auto& field) {
        line += '\t';
        using Field = std::decay_t<decltype(field)>;
        if constexpr (std::is_same_v<Field, CCardText>) {
            line += CodePageToEscapedUtf8(field);
        } else {
            line += std::to_string(static_cast<long long>(field));
        }
    });
    line += '\n';
    return line;
}

// A history given directly, or the one beside a register file.
std::string HistoryPathOf(const std::string& path) {
    const std::string suffix = ".history";
    if (path.size() >= suffix.size() &&
        path.compare(path.size() - suffix.size(), suffix.size(), suffix) == 0) {
        return path;
    }
    return path + suffix;
}

bool ReadHistory(const std::string& path, CHistoryFile::Contents& contents) {
    std::string error;
    if (!CHistoryFile::Read(path, contents, error)) {
        std::fprintf(stderr, "%s: %s\n", path.c_str(), error.c_str());
        return false;
    }
    if (!contents.exists) {
        std::fprintf(stderr, "%s: 文件不存在\n", path.c_str());
        return false;
    }
    return true;
}

// A UTF-8 text as one field of a line: tab, newline, carriage return and backslash escaped.
std::string Field(std::string_view text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
            case '\t':
                out += "\\t";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\\':
                out += "\\\\";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string HistoryLine(const CHistoryFile::Record& record) {
    std::string line = std::to_string(record.number) + '\t';
    CHistoryEntryView entry;
    if (!CHistoryEntryView::Decode(record.payload, entry)) {
        line += "(无法解读的记录)\t\t\t\t\t\t\t\t";
    } else {
        line += entry.TimeText() + '\t' + Field(entry.desk) + '\t' +
                HistoryOperationText(entry.operation) + '\t' + Field(entry.cardNo) + '\t' +
                Field(entry.name) + '\t' + (entry.feeCents != 0 ? FeeText(entry.feeCents) : "") +
                '\t' + (entry.batch != 0 ? std::to_string(entry.batch) : "") + '\t' +
                Field(entry.content) + '\t';
    }
    static const char kHex[] = "0123456789abcdef";
    for (size_t i = 0; i < CHistoryFile::kHashSize; ++i) {
        line += kHex[record.hash[i] >> 4];
        line += kHex[record.hash[i] & 15];
    }
    line += '\n';
    return line;
}

int PrintHistory(const std::string& path) {
    CHistoryFile::Contents contents;
    if (!ReadHistory(path, contents)) {
        return 1;
    }
    for (const CHistoryFile::Record& record : contents.records) {
        const std::string line = HistoryLine(record);
        std::fwrite(line.data(), 1, line.size(), stdout);
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}

int VerifyHistory(const std::string& path) {
    CHistoryFile::Contents contents;
    if (!ReadHistory(path, contents)) {
        return 1;
    }
    CHistoryFile::Verify(contents);
    if (contents.brokenAt != 0) {
        std::printf("%s: 从第%llu条记录起与写入时不一致 (记录被改动、删除或调换过)\n", path.c_str(),
                    static_cast<unsigned long long>(contents.brokenAt));
        return 1;
    }
    std::printf("%s: %zu条记录, 校验链完整\n", path.c_str(), contents.records.size());
    if (contents.tornBytes != 0) {
        std::printf("%s: 末尾有%llu字节不完整的记录 (写入时中断, 程序下次启动时去掉)\n",
                    path.c_str(), static_cast<unsigned long long>(contents.tornBytes));
    }
    return 0;
}

#ifdef ORVANE_WITH_SERVER
bool ConnectToRegister(CPgConnection& connection, const std::string& conninfo) {
    std::string error;
    if (!connection.Connect(conninfo, error) || !UpgradePgSchema(connection, error)) {
        std::fprintf(stderr, "%s: %s\n", conninfo.c_str(), error.c_str());
        return false;
    }
    return true;
}

int Push(const char* file, const std::string& conninfo) {
    CCardMap map;
    uint32_t maxNumber = 0;
    std::string error;
    if (!Load(file, map, &maxNumber)) {
        return 1;
    }
    CPgConnection connection;
    if (!ConnectToRegister(connection, conninfo)) {
        return 1;
    }
    if (!PushPgRegister(connection, map, maxNumber, file, CurrentStamp(), error)) {
        std::fprintf(stderr, "%s: %s\n", conninfo.c_str(), error.c_str());
        return 1;
    }
    std::printf("%s: %zu 张卡片已载入服务器\n", file, map.GetCount());
    return 0;
}

int VerifyServer(const std::string& conninfo) {
    CPgConnection connection;
    if (!ConnectToRegister(connection, conninfo)) {
        return 1;
    }
    uint64_t brokenAt = 0;
    uint64_t count = 0;
    std::string error;
    if (!VerifyPgHistory(connection, brokenAt, count, error)) {
        std::fprintf(stderr, "%s: %s\n", conninfo.c_str(), error.c_str());
        return 1;
    }
    if (brokenAt != 0) {
        std::printf("%s: 从第%llu条记录起与写入时不一致 (记录被改动、删除或调换过)\n",
                    conninfo.c_str(), static_cast<unsigned long long>(brokenAt));
        return 1;
    }
    std::printf("%s: %llu条记录, 校验链完整\n", conninfo.c_str(),
                static_cast<unsigned long long>(count));
    return 0;
}

int Pull(const std::string& conninfo, const char* file) {
    if (IsRegisterLocked(file)) {
        std::fprintf(stderr, "%s: 卡片登记正在被另一个程序使用,不能覆盖。\n", file);
        return 1;
    }
    CPgConnection connection;
    if (!ConnectToRegister(connection, conninfo)) {
        return 1;
    }
    CCardMap map;
    uint32_t maxNumber = 0;
    std::unordered_map<std::string, int64_t> versions;
    std::string error;
    if (!LoadPgRegister(connection, map, maxNumber, versions, error) ||
        !SaveRegisterFile(map, file, std::string(), error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    return 0;
}
#endif

}  // namespace

int main(int argc, char* argv[]) {
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        return Help();
    }
    if (argc < 3) {
        return Usage();
    }
    const std::string command = argv[1];
    CCardMap map;
    if (command == "check" && argc == 3) {
        if (!Load(argv[2], map)) {
            return 1;
        }
        std::printf("%s: %zu 张卡片\n", argv[2], map.GetCount());
        return 0;
    }
    if (command == "dump" && argc == 3) {
        if (!Load(argv[2], map)) {
            return 1;
        }
        for (const CCardMap::CAssoc& entry : map) {
            const std::string line = DumpLine(entry);
            std::fwrite(line.data(), 1, line.size(), stdout);
        }
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    if (command == "history" && argc == 3) {
        return PrintHistory(HistoryPathOf(argv[2]));
    }
    if (command == "verify-history" && argc == 3) {
        return VerifyHistory(HistoryPathOf(argv[2]));
    }
#ifdef ORVANE_WITH_SERVER
    if (command == "push" && argc == 4) {
        return Push(argv[2], argv[3]);
    }
    if (command == "pull" && argc == 4) {
        return Pull(argv[2], argv[3]);
    }
    if (command == "verify-server" && argc == 3) {
        return VerifyServer(argv[2]);
    }
#endif
    if (command == "copy" && argc == 4) {
        // A running program would undo the copy with its own register at exit.
        if (IsRegisterLocked(argv[3])) {
            std::fprintf(stderr, "%s: 卡片登记正在被另一个程序使用,不能覆盖。\n", argv[3]);
            return 1;
        }
        if (!Load(argv[2], map)) {
            return 1;
        }
        std::string error;
        if (!SaveRegisterFile(map, argv[3], std::string(), error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return 1;
        }
        return 0;
    }
    return Usage();
}
