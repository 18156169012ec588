#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <climits>

#include "TestUtil.h"
#include "base/ProfileFile.h"
#include "base/Settings.h"
#include "serial/PortName.h"

namespace {

TEST(Settings, ComAndPassRules) {
    struct Case {
        const char* file;
        int com;
        const char* pass;
    };
    const std::string v99(99, '7');
    const std::string v120(120, '8');
    const std::string longValue = "[set]\ncom=1\npass=" + v120 + "\n";
    const Case cases[] = {
        {"[set]\ncom=3\npass=1234567890\n", 3, "1234567890"},
        {"[set]\ncom=12\n", 12, kDefaultSysPassword},
        {"[set]\ncom=abc\npass=\n", 0, kDefaultSysPassword},
        {"[set]\ncom=\n", 0, kDefaultSysPassword},
        {"[set]\ncom=  -5x\npass=123456789012\n", -5, "123456789012"},
        {"[set]\ncom=+7\n", 7, kDefaultSysPassword},
        {"[SET]\nCOM=9\nPass=abc\n", 9, "abc"},
        {"[ set ]\r\n  com = 4 \r\n pass = 55 66 \r\n", 4, "55 66"},
        {"[set]\ncom=99999999999\n", INT_MAX, kDefaultSysPassword},
        {"[set]\npass=\"0123456789\"\n", 0, "0123456789"},
        {"[other]\ncom=5\npass=1\n", 0, kDefaultSysPassword},
        {"; comment\ncom=5\n[set]\n;com=6\n", 0, kDefaultSysPassword},
        {"[set]\ncom\npass\n", 0, kDefaultSysPassword},
        {"[set]\ncom=1\n[x]\n[set]\npass=2\n", 1, "2"},
    };
    for (const Case& c : cases) {
        TempDir dir;
        WriteFile(dir / "set.ini", c.file);
        const AppSettings s = ReadSettings(dir / "set.ini");
        EXPECT_EQ(s.comPort, c.com) << c.file;
        EXPECT_EQ(s.sysPassword, c.pass) << c.file;
    }
    TempDir dir;
    WriteFile(dir / "set.ini", longValue);
    EXPECT_EQ(ReadSettings(dir / "set.ini").sysPassword, v120.substr(0, 99));
    WriteFile(dir / "set.ini", "[set]\npass=" + v99 + "\n");
    EXPECT_EQ(ReadSettings(dir / "set.ini").sysPassword, v99);
}

TEST(Settings, MissingFileGivesDefaultsAndIsNotCreated) {
    TempDir dir;
    const AppSettings s = ReadSettings(dir / "set.ini");
    EXPECT_EQ(s.comPort, 0);
    EXPECT_EQ(s.sysPassword, kDefaultSysPassword);
    EXPECT_FALSE(FileExists(dir / "set.ini"));
}

TEST(Settings, WritingPassKeepsTheRestOfTheFile) {
    struct Case {
        std::string before;
        std::string after;
    };
    const Case cases[] = {
        {"", "[set]\r\npass=0000000001\r\n"},
        {"[set]\r\ncom=3\r\npass=9\r\n", "[set]\r\ncom=3\r\npass=0000000001\r\n"},
        {"; mine\n[set]\ncom=3\n\n[other]\nx=1\n",
         "; mine\n[set]\ncom=3\npass=0000000001\n\n[other]\nx=1\n"},
        {"[Set]\nPASS = old\ncom=1\n", "[Set]\nPASS=0000000001\ncom=1\n"},
        {"[other]\nx=1", "[other]\nx=1\n[set]\npass=0000000001\n"},
        {"[set]\ncom=1\n[x]\n[set]\npass=2\n", "[set]\ncom=1\n[x]\n[set]\npass=0000000001\n"},
    };
    for (const Case& c : cases) {
        TempDir dir;
        if (!c.before.empty()) {
            WriteFile(dir / "set.ini", c.before);
        }
        std::string error;
        ASSERT_TRUE(WritePassword(dir / "set.ini", "0000000001", error)) << error;
        EXPECT_EQ(ReadFile(dir / "set.ini"), c.after) << c.before;
        EXPECT_EQ(ReadSettings(dir / "set.ini").sysPassword, "0000000001");
        EXPECT_EQ(ListDir(dir.path()), std::vector<std::string>{"set.ini"});
    }
}

TEST(Settings, AFileThatCannotBeReadIsNotReplaced) {
    TempDir dir;
    WriteFile(dir / "set.ini", "[set]\ncom=4\n; the operator's notes\n");
    ASSERT_EQ(::chmod((dir / "set.ini").c_str(), 0200), 0);
    ::chmod(dir.path().c_str(), 0777);
    const int result = RunAsNobody([&] {  // root reads anything
        std::string error;
        return WritePassword(dir / "set.ini", "0000000001", error) ? 1 : 0;
    });
    if (result == kCannotSwitchUser) {
        GTEST_SKIP() << "cannot switch to an unprivileged user here";
    }
    EXPECT_EQ(result, 0);
    ::chmod((dir / "set.ini").c_str(), 0644);
    EXPECT_EQ(ReadFile(dir / "set.ini"), "[set]\ncom=4\n; the operator's notes\n");
}

TEST(Settings, WritingComThenReadingBack) {
    TempDir dir;
    std::string error;
    ASSERT_TRUE(WritePassword(dir / "set.ini", "5820463917", error));
    ASSERT_TRUE(WriteComPort(dir / "set.ini", 12, error));
    EXPECT_EQ(ReadFile(dir / "set.ini"), "[set]\r\npass=5820463917\r\ncom=12\r\n");
    EXPECT_EQ(ReadSettings(dir / "set.ini").comPort, 12);
}

TEST(Settings, RegisterPlaceRules) {
    struct Case {
        const char* file;
        bool onServer;
        const char* conninfo;
    };
    const Case cases[] = {
        {"[set]\ncom=3\n", false, ""},
        {"[register]\nplace=server\nconninfo=host=/tmp/x dbname=db\n", true,
         "host=/tmp/x dbname=db"},
        {"[Register]\r\n PLACE = server \r\n conninfo = \"host=a\" \r\n", true, "host=a"},
        {"[register]\nplace=file\nconninfo=host=a\n", false, "host=a"},
        {"[register]\nplace=Server\n", false, ""},
        {"[register]\nplace=servers\n", false, ""},
        {"[set]\nplace=server\nconninfo=host=a\n", false, ""},
        {"[register]\n;place=server\n", false, ""},
    };
    for (const Case& c : cases) {
        TempDir dir;
        WriteFile(dir / "set.ini", c.file);
        const RegisterPlace place = ReadRegisterPlace(dir / "set.ini");
        EXPECT_EQ(place.onServer, c.onServer) << c.file;
        EXPECT_EQ(place.conninfo, c.conninfo) << c.file;
    }
    TempDir dir;
    EXPECT_FALSE(ReadRegisterPlace(dir / "set.ini").onServer);
    EXPECT_FALSE(FileExists(dir / "set.ini"));
}

TEST(Settings, RegisterPlaceRoundTripKeepsSectionSet) {
    const std::string setSection = "[set]\r\ncom=3\r\npass=1234567890\r\n";
    // Values the INI reader would otherwise change: blanks at either end, quotes at either
    // end, comment characters, '=' and backslashes, Chinese, the full length.
    const std::string conninfos[] = {
        "host=/tmp/x port=5432 dbname=postgres user=orvane",
        "host=db.example application_name='前台 1; #2' options='-c search_path=a'",
        "  host=a  ",
        "'quoted' ",
        "\"host=a\"",
        "application_name=a\\'b\\\\c sslmode=disable",
        ";host=a",
        "[register]",
        "\thost=a\t",
        "",
        std::string(kMaxConninfoLength, 'x'),
    };
    for (const std::string& conninfo : conninfos) {
        for (const bool onServer : {true, false}) {
            TempDir dir;
            WriteFile(dir / "set.ini", setSection);
            std::string error;
            ASSERT_TRUE(WriteRegisterPlace(dir / "set.ini", {onServer, conninfo}, error)) << error;
            const RegisterPlace place = ReadRegisterPlace(dir / "set.ini");
            EXPECT_EQ(place.onServer, onServer) << conninfo;
            EXPECT_EQ(place.conninfo, conninfo);
            const std::string file = ReadFile(dir / "set.ini");
            EXPECT_EQ(file.substr(0, setSection.size()), setSection);
            const AppSettings settings = ReadSettings(dir / "set.ini");
            EXPECT_EQ(settings.comPort, 3);
            EXPECT_EQ(settings.sysPassword, "1234567890");
        }
    }
    // Written again: the same keys replaced, no second section.
    TempDir dir;
    std::string error;
    ASSERT_TRUE(WriteRegisterPlace(dir / "set.ini", {true, "host=a"}, error));
    ASSERT_TRUE(WriteRegisterPlace(dir / "set.ini", {false, "host=b"}, error));
    EXPECT_EQ(ReadFile(dir / "set.ini"), "[register]\r\nconninfo=\"host=b\"\r\nplace=file\r\n");
}

TEST(Settings, ARegisterPlaceThatCannotBeStoredFaithfullyIsRefused) {
    const std::string before = "[set]\ncom=3\n[register]\nplace=file\n";
    const std::string refused[] = {
        "host=a\nplace=server",
        "host=a\r",
        std::string("host=a\0b", 8),
        std::string(kMaxConninfoLength + 1, 'x'),
    };
    for (const std::string& conninfo : refused) {
        TempDir dir;
        WriteFile(dir / "set.ini", before);
        std::string error;
        EXPECT_FALSE(WriteRegisterPlace(dir / "set.ini", {true, conninfo}, error)) << conninfo;
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(ReadFile(dir / "set.ini"), before);
    }
}

TEST(Settings, ComDeviceNames) {
    const std::pair<int, const char*> cases[] = {
        {0, "COM0"},          {1, "COM1"},          {3, "COM3"},          {9, "COM9"},
        {10, "\\\\.\\COM10"}, {12, "\\\\.\\COM12"}, {99, "\\\\.\\COM99"}, {-1, "\\\\.\\COM-1"},
    };
    for (const auto& [port, name] : cases) {
        EXPECT_EQ(ComDeviceName(port), name) << port;
    }
}

TEST(Settings, ProfileIntIsAtoi) {
    const std::pair<const char*, int> cases[] = {
        {"", 0},
        {"abc", 0},
        {"12abc", 12},
        {"  42", 42},
        {"\t-3", -3},
        {"+", 0},
        {"- 3", 0},
        {"-2147483648", INT_MIN},
        {"-99999999999", INT_MIN},
        {"007", 7},
        {"2147483647", INT_MAX},
    };
    for (const auto& [text, value] : cases) {
        EXPECT_EQ(ProfileInt(text), value) << text;
    }
}

TEST(Settings, ExecutableDirEndsWithSlash) {
    const std::string dir = ExecutableDir();
    ASSERT_FALSE(dir.empty());
    EXPECT_EQ(dir.front(), '/');
    EXPECT_EQ(dir.back(), '/');
    EXPECT_TRUE(FileExists(dir));
}

}  // namespace
