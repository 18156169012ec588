// Saving the register under failure: whatever fails, the register file and its backup stay
// as they were and no temporary file is left behind.

#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>

#include "TestUtil.h"
#include "base/PosixIo.h"
#include "base/SafeFile.h"
#include "register/CardMap.h"
#include "register/RegisterFile.h"

namespace {

CCardMap MapOf(int cards, const std::string& name = "x") {
    CCardMap map;
    for (int i = 0; i < cards; ++i) {
        const std::string key = std::to_string(100000 + i);
        auto card = MakeCard(key, i + 1);
        card->m_strName = name;
        map.SetAt(key, std::move(card));
    }
    return map;
}

std::string Bytes(const CCardMap& map) {
    TempDir dir;
    std::string error;
    EXPECT_TRUE(SaveRegisterFile(map, dir / "r.kcd", "", error)) << error;
    return ReadFile(dir / "r.kcd");
}

// The failure to provoke: the n-th call of one of the injectable POSIX calls fails.
int g_callsLeft = 0;
int g_errno = 0;
bool Trip() {
    if (g_callsLeft > 0 && --g_callsLeft == 0) {
        errno = g_errno;
        return true;
    }
    return false;
}
ssize_t FailingWrite(int fd, const void* b, size_t n) {
    return Trip() ? -1 : ::write(fd, b, n);
}
ssize_t ShortWrite(int fd, const void* b, size_t n) {
    return ::write(fd, b, n > 7 ? 7 : n);
}
int FailingFsync(int fd) {
    return Trip() ? -1 : ::fsync(fd);
}
int FailingRename(const char* a, const char* b) {
    return Trip() ? -1 : ::rename(a, b);
}
// A file system without hard links: the backup is then copied.
int NoLinks(const char*, const char*) {
    errno = EPERM;
    return -1;
}
int FailingClose(int fd) {
    if (Trip()) {
        ::close(fd);
        return -1;
    }
    return ::close(fd);
}

class SafeSave : public ::testing::Test {
protected:
    void SetUp() override {
        WriteFile(dir / "cardbook.kcd", oldRegister);
        WriteFile(dir / "cardbook.kcd.old", oldBackup);
    }
    void ExpectUnchanged(const char* what) {
        EXPECT_TRUE(SameBytes(ReadFile(dir / "cardbook.kcd"), oldRegister)) << what;
        EXPECT_TRUE(SameBytes(ReadFile(dir / "cardbook.kcd.old"), oldBackup)) << what;
        EXPECT_EQ(ListDir(dir.path()),
                  (std::vector<std::string>{"cardbook.kcd", "cardbook.kcd.old"}))
            << what;
    }
    bool Save(const CCardMap& map, std::string& error) {
        return SaveRegisterFile(map, dir / "cardbook.kcd", dir / "cardbook.kcd.old", error);
    }

    TempDir dir;
    const std::string oldRegister = Bytes(MapOf(3, "old"));
    const std::string oldBackup = Bytes(MapOf(2, "older"));
};

TEST_F(SafeSave, SuccessCopiesTheOldFileToTheBackupAndKeepsItsMode) {
    ::chmod((dir / "cardbook.kcd").c_str(), 0640);
    const CCardMap map = MapOf(5, "new");
    std::string error;
    ASSERT_TRUE(Save(map, error)) << error;
    EXPECT_TRUE(SameBytes(ReadFile(dir / "cardbook.kcd"), Bytes(map)));
    EXPECT_TRUE(SameBytes(ReadFile(dir / "cardbook.kcd.old"), oldRegister));
    struct stat st {};
    ASSERT_EQ(::stat((dir / "cardbook.kcd").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_EQ(ListDir(dir.path()), (std::vector<std::string>{"cardbook.kcd", "cardbook.kcd.old"}));
}

TEST_F(SafeSave, WithoutHardLinksTheBackupIsACopy) {
    ScopedIoOverride restore;
    Io().link = NoLinks;
    const CCardMap map = MapOf(5, "new");
    std::string error;
    ASSERT_TRUE(Save(map, error)) << error;
    EXPECT_TRUE(SameBytes(ReadFile(dir / "cardbook.kcd"), Bytes(map)));
    EXPECT_TRUE(SameBytes(ReadFile(dir / "cardbook.kcd.old"), oldRegister));
    EXPECT_EQ(ListDir(dir.path()), (std::vector<std::string>{"cardbook.kcd", "cardbook.kcd.old"}));
}

TEST_F(SafeSave, FirstSaveWithoutARegisterLeavesTheBackupAlone) {
    ::unlink((dir / "cardbook.kcd").c_str());
    std::string error;
    ASSERT_TRUE(Save(MapOf(1), error)) << error;
    EXPECT_TRUE(SameBytes(ReadFile(dir / "cardbook.kcd.old"), oldBackup));
}

TEST_F(SafeSave, EveryInjectedFailureLeavesBothFilesUnchanged) {
    struct Case {
        const char* what;
        void (*install)();
        int nth;
        int err;
    };
    // A register of 2000 cards takes several buffered writes; the backup copy comes after.
    const CCardMap map = MapOf(2000, "new");
    const int registerWrites = static_cast<int>((Bytes(map).size() + 65535) / 65536);
    ASSERT_GE(registerWrites, 3);
    const Case cases[] = {
        {"first write of the register, disk full", [] { Io().write = FailingWrite; }, 1, ENOSPC},
        {"third write of the register", [] { Io().write = FailingWrite; }, 3, EIO},
        {"write of the backup copy",
         [] {
             Io().link = NoLinks;
             Io().write = FailingWrite;
         },
         registerWrites + 1, ENOSPC},
        {"fsync of the register", [] { Io().fsync = FailingFsync; }, 1, EIO},
        {"fsync of the backup copy",
         [] {
             Io().link = NoLinks;
             Io().fsync = FailingFsync;
         },
         2, EIO},
        {"close of the backup copy",
         [] {
             Io().link = NoLinks;
             Io().close = FailingClose;
         },
         2, EIO},
        {"rename of the backup copy",
         [] {
             Io().link = NoLinks;
             Io().rename = FailingRename;
         },
         1, EIO},
        {"close of the register", [] { Io().close = FailingClose; }, 1, EIO},
        {"rename of the backup", [] { Io().rename = FailingRename; }, 1, EACCES},
    };
    for (const Case& c : cases) {
        ScopedIoOverride restore;
        c.install();
        g_callsLeft = c.nth;
        g_errno = c.err;
        std::string error;
        EXPECT_FALSE(Save(map, error)) << c.what;
        EXPECT_FALSE(error.empty()) << c.what;
        EXPECT_NE(error.find(dir.path()), std::string::npos) << c.what << ": " << error;
        ExpectUnchanged(c.what);
    }
}

TEST_F(SafeSave, FailedFinalRenameKeepsTheRegisterAndLeavesNoTemporaryFile) {
    ScopedIoOverride restore;
    Io().rename = FailingRename;
    g_callsLeft = 2;  // the backup's rename succeeds, the register's fails
    g_errno = EIO;
    std::string error;
    EXPECT_FALSE(Save(MapOf(4, "new"), error));
    EXPECT_TRUE(SameBytes(ReadFile(dir / "cardbook.kcd"), oldRegister));
    // The backup now holds a copy of the register that is still in place: nothing is lost.
    EXPECT_TRUE(SameBytes(ReadFile(dir / "cardbook.kcd.old"), oldRegister));
    EXPECT_EQ(ListDir(dir.path()), (std::vector<std::string>{"cardbook.kcd", "cardbook.kcd.old"}));
}

TEST_F(SafeSave, ShortWritesAreCompleted) {
    ScopedIoOverride restore;
    Io().write = ShortWrite;
    const CCardMap map = MapOf(50, "new");
    std::string error;
    ASSERT_TRUE(Save(map, error)) << error;
    EXPECT_TRUE(SameBytes(ReadFile(dir / "cardbook.kcd"), Bytes(map)));
}

TEST_F(SafeSave, ReadOnlyFolderForAnOrdinaryUser) {
    // Root writes anywhere, so the save runs in a child process as user "nobody".
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    const int result = RunAsNobody([&] {
        std::string error;
        const CCardMap map = MapOf(2, "new");
        if (Save(map, error)) {
            return 1;
        }
        return error.find("没有访问权限") != std::string::npos ? 0 : 2;
    });
    if (result == kCannotSwitchUser) {
        GTEST_SKIP() << "cannot switch to an unprivileged user here";
    }
    EXPECT_EQ(result, 0) << "1: saved into a read-only folder, 2: wrong message";
    ExpectUnchanged("read-only folder");
}

TEST(SafeSaveDisk, FullFileSystem) {
    TempDir mountPoint;
    if (::mount("tmpfs", mountPoint.path().c_str(), "tmpfs", 0, "size=64k") != 0) {
        GTEST_SKIP() << "cannot mount a small file system here";
    }
    const std::string dir = mountPoint.path();
    const std::string old = Bytes(MapOf(20, "old"));
    WriteFile(dir + "cardbook.kcd", old);
    std::string error;
    // About 1.5 MB of register does not fit into 64 KiB.
    const CCardMap big = MapOf(1000, std::string(1500, 'n'));
    EXPECT_FALSE(SaveRegisterFile(big, dir + "cardbook.kcd", dir + "cardbook.kcd.old", error));
    EXPECT_NE(error.find("磁盘空间不足"), std::string::npos) << error;
    EXPECT_TRUE(SameBytes(ReadFile(dir + "cardbook.kcd"), old));
    EXPECT_EQ(ListDir(dir), std::vector<std::string>{"cardbook.kcd"});
    ::umount(dir.c_str());
}

TEST(SafeSaveDisk, ADirectoryInTheWayIsReported) {
    TempDir dir;
    ::mkdir((dir / "cardbook.kcd").c_str(), 0755);
    std::string error;
    EXPECT_FALSE(SaveRegisterFile(MapOf(1), dir / "cardbook.kcd", "", error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(ListDir(dir.path()), std::vector<std::string>{"cardbook.kcd"});
}

}  // namespace
