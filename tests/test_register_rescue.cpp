// What a damaged register still gives: its complete records before the damage, the facts of a
// damaged start, and the backup kept under a name of its own.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>
#include <ctime>

#include <string>
#include <vector>

#include "TestUtil.h"
#include "base/BulkMemory.h"
#include "base/CodePage.h"
#include "base/PosixIo.h"
#include "base/SafeFile.h"
#include "register/Archive.h"
#include "register/CardMap.h"
#include "register/RegisterFile.h"
#include "register/RegisterRescue.h"

namespace {

std::vector<std::string> Keys(const CCardMap& map) {
    std::vector<std::string> keys;
    for (const auto& entry : map) {
        keys.push_back(entry.key.str());
    }
    return keys;
}

std::string U16(uint16_t v) {
    return std::string{static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)};
}

// Six cards with texts of different lengths (a 300-byte remark takes a three-byte prefix); the
// serial numbers are not in key order, so the highest kept one depends on the cut.
CCardMap SixCards() {
    CCardMap map;
    const int numbers[] = {40, 3, 17, 99, 8, 61};
    for (int i = 0; i < 6; ++i) {
        const std::string key = "00000" + std::to_string(i + 1);
        auto card = MakeCard(key, numbers[i]);
        card->m_strName = Utf8ToCodePage("住户") + std::to_string(i);
        card->m_strRemark = std::string(i == 2 ? 300 : i, 'r');
        map.SetAt(key, std::move(card));
    }
    return map;
}

// The first `n` entries of `map` in its file order.
CCardMap FirstOf(const CCardMap& map, size_t n) {
    CCardMap first;
    for (const auto& entry : map) {
        if (first.GetCount() == n) {
            break;
        }
        auto card = std::make_unique<CCard>();
        std::string bytes;
        {
            CArchive out(&bytes);
            entry.value->Serialize(out);
        }
        CArchive in(bytes.data(), bytes.size());
        card->Serialize(in);
        first.SetAt(entry.key.str(), std::move(card));
    }
    return first;
}

uint32_t HighestNumber(const CCardMap& map) {
    uint32_t highest = 0;
    for (const auto& entry : map) {
        highest = std::max(highest, static_cast<uint32_t>(entry.value->m_nNumber));
    }
    return highest;
}

// Reads `data` as a register file is loaded (in place) and with every text copied; both must
// keep the same cards. Returns the in-place result.
size_t ReadPrefix(const std::string& data, CCardMap& map, uint32_t& max, std::string& error) {
    CBulkMemory bytes(data.size());
    if (!data.empty()) {
        std::memcpy(bytes.data(), data.data(), data.size());
    }
    CArchive ar(bytes.data(), data.size(), CArchive::InPlace{});
    map.KeepTextBuffer(std::move(bytes));
    const size_t kept = ReadRegisterPrefix(ar, map, max, error);

    CArchive copying(data.data(), data.size());
    CCardMap copied;
    uint32_t copiedMax = 0;
    std::string copiedError;
    EXPECT_EQ(ReadRegisterPrefix(copying, copied, copiedMax, copiedError), kept);
    EXPECT_EQ(copiedError, error);
    EXPECT_EQ(Keys(copied), Keys(map));
    EXPECT_TRUE(SameBytes(RegisterBytes(copied), RegisterBytes(map)));
    return kept;
}

TEST(RegisterPrefix, EveryCutKeepsTheRecordsCompleteBeforeIt) {
    const CCardMap six = SixCards();
    const std::string file = RegisterBytes(six);
    // Where each entry ends: the file of the first k entries has the same bytes up to there.
    std::vector<size_t> ends;
    for (size_t k = 0; k <= 6; ++k) {
        const std::string first = RegisterBytes(FirstOf(six, k));
        ASSERT_EQ(file.compare(2, first.size() - 2, first, 2), 0) << k;
        ends.push_back(first.size());
    }
    for (size_t cut = 0; cut <= file.size(); ++cut) {
        size_t expected = 0;
        while (expected < 6 && ends[expected + 1] <= cut) {
            ++expected;
        }
        CCardMap map;
        uint32_t max = 0;
        std::string error;
        ASSERT_EQ(ReadPrefix(file.substr(0, cut), map, max, error), expected) << cut;
        const CCardMap first = FirstOf(six, expected);
        EXPECT_EQ(Keys(map), Keys(first)) << cut;
        EXPECT_TRUE(SameBytes(RegisterBytes(map), RegisterBytes(first))) << cut;
        EXPECT_EQ(max, HighestNumber(first)) << cut;
        EXPECT_EQ(error.empty(), cut == file.size()) << cut << ": " << error;
    }
}

TEST(RegisterPrefix, DamageInsideTheFileKeepsWhatCameBefore) {
    const CCardMap six = SixCards();
    const std::string file = RegisterBytes(six);
    const size_t afterTwo = RegisterBytes(FirstOf(six, 2)).size();
    const size_t afterFour = RegisterBytes(FirstOf(six, 4)).size();
    const size_t keyLength = 7;  // the length byte and "00000n"
    // The third record's card number (length byte and six digits), after its key, its class
    // reference, its serial number and its status.
    const size_t cardNoAt = afterTwo + keyLength + 2 + 4 + 1;
    struct Case {
        const char* what;
        std::string data;
        size_t kept;
        const char* errorPart;
    };
    const Case cases[] = {
        {"huge string length in the third record",
         file.substr(0, cardNoAt) + FromHex("FF FF FF 00 00 00 7F") + file.substr(cardNoAt + 7), 2,
         "字符串长度 2130706432"},
        {"null object in the fifth entry",
         file.substr(0, afterFour + keyLength) + FromHex("00 00") +
             file.substr(afterFour + keyLength + 2),
         4, "空对象标记"},
        {"count beyond the data", FromHex("FF FF 00 00 01 00") + file.substr(2), 6, "文件意外结束"},
        {"count below the records", U16(4) + file.substr(2), 4, "之后还有"},
        {"bytes after the last record", file + "xyz", 6, "之后还有 3 字节"},
        {"count of one byte", std::string(1, '\x06'), 0, "偏移 0"},
        {"first key cut short", file.substr(0, 5), 0, "第 1 条记录"},
    };
    for (const Case& c : cases) {
        CCardMap map;
        uint32_t max = 0;
        std::string error;
        EXPECT_EQ(ReadPrefix(c.data, map, max, error), c.kept) << c.what;
        EXPECT_EQ(Keys(map), Keys(FirstOf(six, c.kept))) << c.what;
        EXPECT_NE(error.find(c.errorPart), std::string::npos) << c.what << ": " << error;
        // The whole-register reader still takes nothing from the same bytes.
        CArchive ar(c.data.data(), c.data.size());
        CCardMap whole;
        uint32_t wholeMax = 0;
        std::string wholeError;
        EXPECT_FALSE(ReadRegister(ar, whole, wholeMax, wholeError)) << c.what;
        EXPECT_TRUE(whole.IsEmpty()) << c.what;
    }
}

TEST(RegisterPrefix, ALaterRecordOfTheSameKeyReplacesTheEarlierOne) {
    CCardMap one;
    one.SetAt("000001", MakeCard("000001", 5));
    const std::string record = RegisterBytes(one).substr(2);
    CCardMap later;
    later.SetAt("000001", MakeCard("000001", 9));
    // The second entry refers to the class introduced by the first.
    std::string second = RegisterBytes(later).substr(2);
    second.replace(7, 11, FromHex("01 80"));
    CCardMap map;
    uint32_t max = 0;
    std::string error;
    EXPECT_EQ(ReadPrefix(U16(3) + record + second + "\x06", map, max, error), 1u);
    EXPECT_EQ(map.Lookup("000001")->m_nNumber, 9);
    EXPECT_EQ(max, 9u);
}

TEST(RegisterPrefix, LoadFromAFile) {
    TempDir dir;
    const CCardMap six = SixCards();
    const std::string file = RegisterBytes(six);
    WriteFile(dir / "whole.kcd", file);
    WriteFile(dir / "cut.kcd", file.substr(0, file.size() - 1));
    WriteFile(dir / "nothing.kcd", file.substr(0, 9));
    WriteFile(dir / "empty.kcd", "");
    struct Case {
        const char* name;
        size_t kept;
        bool error;
    };
    const Case cases[] = {
        {"whole.kcd", 6, false}, {"cut.kcd", 5, true},      {"nothing.kcd", 0, true},
        {"empty.kcd", 0, false}, {"missing.kcd", 0, false}, {"", 0, true},  // the folder
    };
    for (const Case& c : cases) {
        CCardMap map;
        map.SetAt("999999", MakeCard("999999", 7));
        uint32_t max = 7;
        std::string error;
        ASSERT_EQ(LoadRegisterPrefix(dir / c.name, map, max, error), c.kept) << c.name;
        EXPECT_EQ(!error.empty(), c.error) << c.name << ": " << error;
        if (c.kept == 0) {
            // Nothing kept: the register stays as it was.
            EXPECT_EQ(Keys(map), std::vector<std::string>{"999999"}) << c.name;
            EXPECT_EQ(max, 7u) << c.name;
            continue;
        }
        // The texts were read in place: they live on with the register.
        const CCardMap first = FirstOf(six, c.kept);
        EXPECT_TRUE(SameBytes(RegisterBytes(map), RegisterBytes(first))) << c.name;
        EXPECT_EQ(max, std::max(7u, HighestNumber(first))) << c.name;
    }
}

TEST(DamagedStartFacts, WhatTheBackupAndTheDamagedRegisterHold) {
    const CCardMap sixCards = SixCards();
    const std::string six = RegisterBytes(sixCards);
    // Three whole entries and the beginning of the fourth.
    const std::string threeAndABit = six.substr(0, RegisterBytes(FirstOf(sixCards, 3)).size() + 9);
    struct Case {
        const char* what;
        bool backup;
        std::string backupBytes;
        std::string damaged;
        bool loads;
        size_t cards;
        size_t intact;
    };
    const Case cases[] = {
        {"good backup, three intact", true, six, threeAndABit, true, 6, 3},
        {"no backup, nothing intact", false, "", six.substr(0, 3), false, 0, 0},
        {"damaged backup, empty register", true, threeAndABit, "", false, 0, 0},
        {"empty backup", true, "", threeAndABit, false, 0, 3},
        {"backup without cards", true, U16(0), U16(0) + "x", true, 0, 0},
    };
    for (const Case& c : cases) {
        TempDir dir;
        const std::string path = dir / "cardbook.kcd";
        const std::string backupPath = dir / "cardbook.kcd.old";
        WriteFile(path, c.damaged);
        if (c.backup) {
            WriteFile(backupPath, c.backupBytes);
            const timespec times[2] = {{1796748471, 0}, {1796748471, 0}};
            ASSERT_EQ(::utimensat(AT_FDCWD, backupPath.c_str(), times, 0), 0);
        }
        const DamagedStartFacts facts = GatherDamagedStartFacts(path, backupPath);
        EXPECT_EQ(facts.backupExists, c.backup) << c.what;
        EXPECT_EQ(facts.backupLoads, c.loads) << c.what;
        EXPECT_EQ(facts.backupCards, c.cards) << c.what;
        EXPECT_EQ(facts.backupTime, c.backup ? 1796748471 : 0) << c.what;
        // Only a backup that is there and does not load has something wrong with it.
        EXPECT_EQ(!facts.backupError.empty(), c.backup && !c.loads)
            << c.what << ": " << facts.backupError;
        EXPECT_EQ(facts.intactCards, c.intact) << c.what;
        // Reading them changed neither file.
        EXPECT_EQ(ReadFile(path), c.damaged) << c.what;
        if (c.backup) {
            EXPECT_EQ(ReadFile(backupPath), c.backupBytes) << c.what;
        }
    }
}

class KeepBackupTest : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("TZ", "UTC", 1);
        ::tzset();
        WriteFile(backup, "the backup's bytes");
    }
    void TearDown() override {
        ::unsetenv("TZ");
        ::tzset();
    }
    static ino_t Inode(const std::string& path) {
        struct stat st {};
        return ::lstat(path.c_str(), &st) == 0 ? st.st_ino : 0;
    }
    TempDir dir;
    const std::string backup = dir / "cardbook.kcd.old";
    const std::time_t when = 1796748471;  // 2026-12-08 16:47:51 UTC
    const std::string stamped = backup + "-20261208-164751";
};

TEST_F(KeepBackupTest, NamesAreStampedAndNumberedPastEveryTakenName) {
    EXPECT_EQ(KeptBackupName(backup, when), stamped);
    WriteFile(stamped, "x");
    EXPECT_EQ(KeptBackupName(backup, when), stamped + "-2");
    ASSERT_EQ(::symlink("/nonexistent", (stamped + "-2").c_str()), 0);
    EXPECT_EQ(KeptBackupName(backup, when), stamped + "-3");
    EXPECT_EQ(KeptBackupName(backup, when + 1), backup + "-20261208-164752");
}

TEST_F(KeepBackupTest, AHardLinkThatLaterSavesDoNotTouch) {
    std::string kept;
    std::string error;
    ASSERT_TRUE(KeepBackup(backup, when, kept, error)) << error;
    EXPECT_EQ(kept, stamped);
    EXPECT_EQ(Inode(kept), Inode(backup));
    // Kept again in the same second: a name of its own again.
    ASSERT_TRUE(KeepBackup(backup, when, kept, error)) << error;
    EXPECT_EQ(kept, stamped + "-2");
    // A save replaces the backup by a new file; the kept names keep the old bytes.
    WriteFile(dir / "cardbook.kcd", "current");
    ASSERT_TRUE(SaveFileSafely(
        dir / "cardbook.kcd", backup, [](int fd, std::string&) { return WriteAll(fd, "new", 3); },
        error));
    EXPECT_EQ(ReadFile(backup), "current");
    EXPECT_EQ(ReadFile(stamped), "the backup's bytes");
    EXPECT_EQ(ReadFile(stamped + "-2"), "the backup's bytes");
}

int NoLinks(const char*, const char*) {
    errno = EPERM;
    return -1;
}

// A name taken between the look and the link: link() refuses and the next name is taken.
int TakenMeanwhile(const char* from, const char* to) {
    static int taken = 0;
    if (taken++ == 0) {
        WriteFile(to, "someone else's");
        errno = EEXIST;
        return -1;
    }
    return ::link(from, to);
}

TEST_F(KeepBackupTest, ACopyWhereTheFileSystemHasNoLinksAndNoNameTakenTwice) {
    std::string kept;
    std::string error;
    {
        ScopedIoOverride restore;
        Io().link = TakenMeanwhile;
        ASSERT_TRUE(KeepBackup(backup, when, kept, error)) << error;
    }
    EXPECT_EQ(kept, stamped + "-2");
    EXPECT_EQ(ReadFile(stamped), "someone else's");
    EXPECT_EQ(Inode(kept), Inode(backup));
    {
        ScopedIoOverride restore;
        Io().link = NoLinks;
        ASSERT_TRUE(KeepBackup(backup, when, kept, error)) << error;
    }
    EXPECT_EQ(kept, stamped + "-3");
    EXPECT_NE(Inode(kept), Inode(backup));
    EXPECT_EQ(ReadFile(kept), "the backup's bytes");
}

TEST_F(KeepBackupTest, NoBackupIsNoErrorAndAnUnreadableOneIsOne) {
    std::string kept = "stale";
    std::string error;
    ASSERT_EQ(::unlink(backup.c_str()), 0);
    EXPECT_TRUE(KeepBackup(backup, when, kept, error)) << error;
    EXPECT_TRUE(kept.empty());
    EXPECT_TRUE(error.empty());

    // A folder under the backup's name can be neither linked nor copied.
    ASSERT_EQ(::mkdir(backup.c_str(), 0755), 0);
    EXPECT_FALSE(KeepBackup(backup, when, kept, error));
    EXPECT_TRUE(kept.empty());
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(ListDir(dir.path()), std::vector<std::string>{"cardbook.kcd.old"});
}

}  // namespace
