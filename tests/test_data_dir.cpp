// The folder of set.ini, the register and the COM<n> entries: beside a writable executable,
// else the user's data folder by the XDG rules; an existing register is never moved.

#include <gtest/gtest.h>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>

#include "TestUtil.h"
#include "base/DataDir.h"

namespace {

struct Row {
    const char* what;
    DataDirFacts facts;
    const char* dir;
    bool portable;
};

TEST(DataDir, ChoiceTable) {
    const Row rows[] = {
        {"writable build folder",
         {"/work/build/bin/", true, false, "", "/home/op"},
         "/work/build/bin/",
         true},
        {"writable, with its register",
         {"/work/build/bin/", true, true, "/x", "/home/op"},
         "/work/build/bin/",
         true},
        {"writable portable copy, XDG set",
         {"/media/stick/orvane/", true, false, "/x", "/h"},
         "/media/stick/orvane/",
         true},
        {"unwritable, XDG_DATA_HOME set",
         {"/opt/orvane/", false, false, "/srv/data", "/home/op"},
         "/srv/data/orvane/",
         false},
        {"unwritable, XDG_DATA_HOME with slash",
         {"/opt/orvane/", false, false, "/srv/data/", "/h"},
         "/srv/data/orvane/",
         false},
        {"installed, XDG_DATA_HOME unset",
         {"/usr/bin/", false, false, "", "/home/op"},
         "/home/op/.local/share/orvane/",
         false},
        {"installed, XDG_DATA_HOME relative",
         {"/usr/bin/", false, false, "data", "/home/op"},
         "/home/op/.local/share/orvane/",
         false},
        {"installed, XDG_DATA_HOME ./relative",
         {"/usr/bin/", false, false, "./d", "/home/op/"},
         "/home/op/.local/share/orvane/",
         false},
        {"installed, run by root who may write /usr/bin",
         {"/usr/bin/", true, false, "", "/root"},
         "/root/.local/share/orvane/",
         false},
        {"in /usr/local/bin, writable",
         {"/usr/local/bin/", true, false, "", "/home/op"},
         "/home/op/.local/share/orvane/",
         false},
        {"in /bin", {"/bin/", true, false, "/d", "/home/op"}, "/d/orvane/", false},
        {"unwritable with its register: never moved",
         {"/opt/orvane/", false, true, "/x", "/h"},
         "/opt/orvane/",
         true},
        {"register in /usr/bin: never moved",
         {"/usr/bin/", false, true, "", "/home/op"},
         "/usr/bin/",
         true},
        {"no absolute home and no XDG",
         {"/opt/orvane/", false, false, "", ""},
         "/opt/orvane/",
         true},
        {"relative home and relative XDG",
         {"/opt/orvane/", false, false, "d", "h"},
         "/opt/orvane/",
         true},
        {"exe folder without slash",
         {"/work/build/bin", true, false, "", "/h"},
         "/work/build/bin/",
         true},
    };
    for (const Row& row : rows) {
        const DataDirChoice choice = ChooseDataDir(row.facts);
        EXPECT_EQ(choice.dir, row.dir) << row.what;
        EXPECT_EQ(choice.portable, row.portable) << row.what;
    }
}

TEST(DataDir, UserDataHomeFollowsTheXdgRules) {
    EXPECT_EQ(UserDataHome("/a/b", "/home/op"), "/a/b/");
    EXPECT_EQ(UserDataHome("", "/home/op"), "/home/op/.local/share/");
    EXPECT_EQ(UserDataHome("rel", "/home/op"), "/home/op/.local/share/");
    EXPECT_EQ(UserDataHome("", "/"), "/.local/share/");
    EXPECT_EQ(UserDataHome("", ""), "");
    EXPECT_EQ(UserDataHome("", "home"), "");
}

TEST(DataDir, SystemFolders) {
    EXPECT_TRUE(IsSystemDir("/usr/bin/"));
    EXPECT_TRUE(IsSystemDir("/usr/bin"));
    EXPECT_TRUE(IsSystemDir("/usr/local/bin/"));
    EXPECT_TRUE(IsSystemDir("/bin/"));
    EXPECT_TRUE(IsSystemDir("/sbin"));
    EXPECT_FALSE(IsSystemDir("/usrx/bin/"));
    EXPECT_FALSE(IsSystemDir("/home/op/usr/bin/"));
    EXPECT_FALSE(IsSystemDir("/opt/orvane/"));
    EXPECT_FALSE(IsSystemDir("/tmp/"));
}

// Sets or unsets an environment variable for the scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : m_name(name) {
        if (const char* old = std::getenv(name)) {
            m_old = old;
        }
        if (value != nullptr) {
            ::setenv(name, value, 1);
        } else {
            ::unsetenv(name);
        }
    }
    ~ScopedEnv() {
        if (m_old) {
            ::setenv(m_name, m_old->c_str(), 1);
        } else {
            ::unsetenv(m_name);
        }
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* m_name;
    std::optional<std::string> m_old;
};

TEST(DataDir, FactsOfAWritableFolder) {
    TempDir dir;
    const ScopedEnv xdg("XDG_DATA_HOME", "/srv/data");
    const ScopedEnv home("HOME", "/home/op");
    DataDirFacts facts = ReadDataDirFacts(dir.path(), "cardbook.kcd");
    EXPECT_EQ(facts.exeDir, dir.path());
    EXPECT_TRUE(facts.exeDirWritable);
    EXPECT_FALSE(facts.registerBesideExe);
    EXPECT_EQ(facts.xdgDataHome, "/srv/data");
    EXPECT_EQ(facts.home, "/home/op");
    EXPECT_EQ(ChooseDataDir(facts).dir, dir.path());

    WriteFile(dir / "cardbook.kcd", "x");
    EXPECT_TRUE(ReadDataDirFacts(dir.path(), "cardbook.kcd").registerBesideExe);
}

TEST(DataDir, ADanglingLinkCountsAsTheRegister) {
    TempDir dir;
    ASSERT_EQ(::symlink((dir / "nowhere").c_str(), (dir / "cardbook.kcd").c_str()), 0);
    EXPECT_TRUE(ReadDataDirFacts(dir.path(), "cardbook.kcd").registerBesideExe);
}

TEST(DataDir, FactsOfAnUnwritableFolder) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "root may write a folder of mode 0555";
    }
    TempDir dir;
    ::mkdir((dir / "bin").c_str(), 0555);
    const ScopedEnv xdg("XDG_DATA_HOME", nullptr);
    const ScopedEnv home("HOME", dir.path().c_str());
    const DataDirFacts facts = ReadDataDirFacts(dir / "bin/", "cardbook.kcd");
    EXPECT_FALSE(facts.exeDirWritable);
    EXPECT_EQ(ChooseDataDir(facts).dir, dir.path() + ".local/share/orvane/");
    ::chmod((dir / "bin").c_str(), 0755);
}

TEST(DataDir, WithoutHomeThePasswordDatabaseNamesIt) {
    const passwd* entry = ::getpwuid(::getuid());
    ASSERT_NE(entry, nullptr);
    for (const char* value : {static_cast<const char*>(nullptr), "", "relative/home"}) {
        const ScopedEnv home("HOME", value);
        EXPECT_EQ(ReadDataDirFacts("/usr/bin/", "cardbook.kcd").home, entry->pw_dir)
            << (value != nullptr ? value : "(unset)");
    }
}

TEST(DataDir, ChoosingReadsOnly) {
    TempDir dir;
    WriteFile(dir / "cardbook.kcd", "register");
    WriteFile(dir / "cardbook.kcd.old", "backup");
    WriteFile(dir / "set.ini", "[set]\r\ncom=3\r\n");
    struct stat before {};
    ::stat((dir / "cardbook.kcd").c_str(), &before);
    const std::vector<std::string> names = ListDir(dir.path());
    {
        const ScopedEnv xdg("XDG_DATA_HOME", (dir / "data").c_str());
        const DataDirChoice choice = ChooseDataDir(ReadDataDirFacts(dir.path(), "cardbook.kcd"));
        EXPECT_EQ(choice.dir, dir.path());
    }
    EXPECT_EQ(ListDir(dir.path()), names);
    EXPECT_EQ(ReadFile(dir / "cardbook.kcd"), "register");
    EXPECT_EQ(ReadFile(dir / "cardbook.kcd.old"), "backup");
    struct stat after {};
    ::stat((dir / "cardbook.kcd").c_str(), &after);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
}

TEST(DataDir, MakeDataDirCreatesTheMissingFoldersPrivate) {
    TempDir dir;
    ::mkdir((dir / "home").c_str(), 0755);
    std::string error;
    const std::string target = dir / "home/.local/share/orvane/";
    ASSERT_TRUE(MakeDataDir(target, error)) << error;
    for (const std::string& made : {dir / "home/.local", dir / "home/.local/share", target}) {
        struct stat st {};
        ASSERT_EQ(::stat(made.c_str(), &st), 0) << made;
        EXPECT_EQ(st.st_mode & 0777, 0700u) << made;
    }
    struct stat st {};
    ::stat((dir / "home").c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0755u);  // an existing folder keeps its mode
    // Again: nothing to do.
    WriteFile(target + "cardbook.kcd", "register");
    EXPECT_TRUE(MakeDataDir(target, error)) << error;
    EXPECT_EQ(ReadFile(target + "cardbook.kcd"), "register");
}

TEST(DataDir, MakeDataDirSaysWhatFailed) {
    TempDir dir;
    WriteFile(dir / "file", "");
    std::string error;
    EXPECT_FALSE(MakeDataDir(dir / "file/orvane/", error));
    EXPECT_NE(error.find(dir / "file"), std::string::npos) << error;
    EXPECT_FALSE(MakeDataDir("relative/orvane", error));
    EXPECT_FALSE(error.empty());
}

}  // namespace
