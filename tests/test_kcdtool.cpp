#include <gtest/gtest.h>

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

}  // namespace
