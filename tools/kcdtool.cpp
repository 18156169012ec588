// Command-line access to register files, through the program's own reader and writer.
//   kcdtool check FILE     loads FILE; prints the number of cards or what is wrong and where
//   kcdtool dump FILE      one tab-separated line per card, in the register's order
//   kcdtool copy IN OUT    loads IN and writes OUT the way the program saves its register
//   kcdtool --help         what it does

#include <cstdio>
#include <cstring>
#include <string>
#include <type_traits>

#include "base/CodePage.h"
#include "register/CardMap.h"
#include "register/RegisterFile.h"
#include "store/RegisterLock.h"

namespace {

constexpr const char* kUsage =
    "用法: kcdtool check FILE\n"
    "      kcdtool dump FILE\n"
    "      kcdtool copy IN OUT\n";

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
        "  -h, --help    显示本帮助\n"
        "\n"
        "退出码: 0 成功, 1 文件无法读取或写入, 2 用法错误。\n",
        stdout);
    return 0;
}

// Loads `path`; on failure prints why and returns false.
bool Load(const char* path, CCardMap& map) {
    uint32_t maxNumber = 0;
    std::string error;
    switch (LoadRegisterFile(path, map, maxNumber, error)) {
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
