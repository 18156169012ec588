#include <gtest/gtest.h>

#include "StoreTestUtil.h"
#include "TestUtil.h"
#include "base/CodePage.h"
#include "register/Archive.h"
#include "register/RegisterFile.h"
#include "store/RegisterLock.h"

namespace {

ProcessResult Kcdtool(const std::vector<std::string>& args) {
    std::vector<std::string> argv{KCDTOOL};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProgram(argv);
}

TEST(Kcdtool, Check) {
    TempDir dir;
    WriteFile(dir / "good.kcd", OneCardFile());
    WriteFile(dir / "bad.kcd", OneCardFile().substr(0, 60));
    WriteFile(dir / "empty.kcd", "");
    struct Case {
        std::string file;
        int exitCode;
        std::string outPart;
        std::string errPart;
    };
    const Case cases[] = {
        {"good.kcd", 0, "1 张卡片", ""},
        {"empty.kcd", 0, "0 张卡片", ""},
        {"bad.kcd", 1, "", "偏移"},
        {"none.kcd", 1, "", "文件不存在"},
    };
    for (const Case& c : cases) {
        const ProcessResult r = Kcdtool({"check", dir / c.file});
        EXPECT_EQ(r.exitCode, c.exitCode) << c.file << r.err;
        EXPECT_NE(r.out.find(c.outPart), std::string::npos) << c.file << ": " << r.out;
        EXPECT_NE(r.err.find(c.errPart), std::string::npos) << c.file << ": " << r.err;
    }
    EXPECT_EQ(Kcdtool({"check"}).exitCode, 2);
    EXPECT_EQ(Kcdtool({"frob", dir / "good.kcd"}).exitCode, 2);
}

TEST(Kcdtool, DumpConvertsAndEscapesInRegisterOrder) {
    CCardMap map;
    auto a = MakeCard("000002", 2);
    a->m_strName = Utf8ToCodePage("张三");
    a->m_strAddress = "a\tb\nc\\d";
    a->m_strRemark = "\xFF";  // not a character of the code page
    a->m_nStatus = CARD_ISSUED;
    a->m_nCardType = CARD_ANNUAL;
    a->m_nSex = 9;
    map.SetAt("000002", std::move(a));
    map.SetAt("000001", MakeCard("000001", -3));
    TempDir dir;
    WriteFile(dir / "r.kcd", RegisterBytes(map));
    const ProcessResult r = Kcdtool({"dump", dir / "r.kcd"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string expected =
        "000001\t-3\t0\t000001\t0\t00000000\t\t00000000\t\t\t\t\t\t\t"
        "0000000000000000\t0000000000000000\t0\t\t\t\n"
        "000002\t2\t1\t000002\t2\t00000000\t\t00000000\t张三\t\t\t\ta\\tb\\nc\\\\d\t\\xFF\t"
        "0000000000000000\t0000000000000000\t9\t\t\t\n";
    EXPECT_EQ(r.out, expected);
}

TEST(Kcdtool, CopyWritesWhatTheProgramWrites) {
    TempDir dir;
    CCardMap map;
    for (const char* key : {"000001", "001021", "777777"}) {
        map.SetAt(key, MakeCard(key));
    }
    const std::string file = RegisterBytes(map);
    WriteFile(dir / "in.kcd", file);
    ProcessResult r = Kcdtool({"copy", dir / "in.kcd", dir / "out.kcd"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    // 000001 and 001021 share a bucket: their order turns round, the rest stays.
    CCardMap reloaded;
    uint32_t max = 0;
    std::string error;
    ASSERT_EQ(LoadRegisterFile(dir / "in.kcd", reloaded, max, error), RegisterLoad::Loaded);
    EXPECT_TRUE(SameBytes(ReadFile(dir / "out.kcd"), RegisterBytes(reloaded)));
    EXPECT_NE(ReadFile(dir / "out.kcd"), file);

    WriteFile(dir / "one.kcd", OneCardFile());
    r = Kcdtool({"copy", dir / "one.kcd", dir / "one-copy.kcd"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(SameBytes(ReadFile(dir / "one-copy.kcd"), OneCardFile()));

    WriteFile(dir / "bad.kcd", "\x01");
    r = Kcdtool({"copy", dir / "bad.kcd", dir / "never.kcd"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_FALSE(FileExists(dir / "never.kcd"));
    r = Kcdtool({"copy", dir / "one.kcd", dir / "no-such-folder/out.kcd"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_FALSE(r.err.empty());
}

TEST(Kcdtool, CopyRefusesARegisterInUse) {
    TempDir dir;
    CCardMap map;
    auto card = MakeCard("000002", 2);
    card->m_strName = "new";
    map.SetAt("000002", std::move(card));
    const std::string in = RegisterBytes(map);
    WriteFile(dir / "in.kcd", in);
    WriteFile(dir / "out.kcd", OneCardFile());
    CRegisterLock lock;
    std::string error;
    ASSERT_EQ(lock.Acquire(dir / "out.kcd", error), CRegisterLock::Result::Locked) << error;

    // While a program holds OUT it is left alone, backup and all.
    ProcessResult r = Kcdtool({"copy", dir / "in.kcd", dir / "out.kcd"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("正在被另一个程序使用"), std::string::npos) << r.err;
    EXPECT_TRUE(SameBytes(ReadFile(dir / "out.kcd"), OneCardFile()));
    EXPECT_EQ(ListDir(dir.path()), (std::vector<std::string>{"in.kcd", "out.kcd", "out.kcd.lock"}));

    lock.Release();
    r = Kcdtool({"copy", dir / "in.kcd", dir / "out.kcd"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(SameBytes(ReadFile(dir / "out.kcd"), in));
}

// A register with a history of three records: begun, a card added, a card removed.
std::string RegisterWithHistory(const TempDir& dir) {
    const std::string path = dir / "cardbook.kcd";
    Restarted desk(path);
    desk.store.SetStamp([] { return HistoryStamp{1765324800, 8 * 3600, "front\tdesk/op"}; });
    std::string error;
    CCardChange add(CardOperation::Add, 3);
    auto card = MakeCard("000003", 3);
    card->m_strName = Utf8ToCodePage("张三");
    card->m_strPaid = "12.5";
    add.Put("000003", std::move(card));
    EXPECT_EQ(desk.store.Commit(std::move(add), CommitMode::Refusable, error),
              CommitResult::Durable);
    EXPECT_EQ(desk.store.Commit(RemoveCard("000003", 3), CommitMode::Refusable, error),
              CommitResult::Durable);
    return path;
}

TEST(Kcdtool, HistoryPrintsOneLineARecord) {
    TempDir dir;
    const std::string path = RegisterWithHistory(dir);
    for (const std::string& given : {path, path + ".history"}) {
        const ProcessResult r = Kcdtool({"history", given});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        std::vector<std::string> lines;
        size_t start = 0;
        for (size_t end; (end = r.out.find('\n', start)) != std::string::npos; start = end + 1) {
            lines.push_back(r.out.substr(start, end - start));
        }
        ASSERT_EQ(lines.size(), 3u) << r.out;
        EXPECT_EQ(lines[0].substr(0, 2), "1\t");
        const std::string added =
            "2\t2025-12-10 08:00:00\tfront\\tdesk/op\t新增\t000003\t张三\t12.50\t\t";
        EXPECT_EQ(lines[1].substr(0, added.size()), added) << lines[1];
        EXPECT_NE(lines[2].find("\t删除\t000003\t张三\t"), std::string::npos) << lines[2];
        // The last field: the record's hash in hexadecimal.
        const std::string hash = lines[2].substr(lines[2].rfind('\t') + 1);
        EXPECT_EQ(hash.size(), 64u);
        EXPECT_EQ(hash.find_first_not_of("0123456789abcdef"), std::string::npos);
    }
    EXPECT_EQ(Kcdtool({"history", dir / "none.kcd"}).exitCode, 1);
}

TEST(Kcdtool, VerifyHistoryNamesTheFirstBrokenRecord) {
    TempDir dir;
    const std::string path = RegisterWithHistory(dir);
    ProcessResult r = Kcdtool({"verify-history", path});
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("3条记录, 校验链完整"), std::string::npos) << r.out;

    // The name of the card in record 2 changed from 张三 to 李三.
    std::string bytes = ReadFile(path + ".history");
    const size_t at = bytes.find("张三");
    ASSERT_NE(at, std::string::npos);
    bytes.replace(at, std::string("张").size(), "李");
    WriteFile(path + ".history", bytes);
    r = Kcdtool({"verify-history", path + ".history"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.out.find("从第2条记录起与写入时不一致"), std::string::npos) << r.out;
    EXPECT_EQ(Kcdtool({"verify-history"}).exitCode, 2);
}

}  // namespace
