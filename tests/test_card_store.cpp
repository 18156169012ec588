// The card store on real files: changes in the journal beside the register, replayed by a new
// start exactly as they were made, a torn or damaged journal, a disk that refuses, the
// register written and the journal renewed, one program per register.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>

#include "StoreTestUtil.h"
#include "TestUtil.h"
#include "base/PosixIo.h"
#include "register/Archive.h"
#include "store/Journal.h"
#include "store/RegisterLock.h"

namespace {

// Another six-digit key in the bucket of `key`.
std::string SameBucketAs(const std::string& key) {
    const CCardMap map;
    for (int n = 1; n <= 999999; ++n) {
        char text[8];
        std::snprintf(text, sizeof text, "%06d", n);
        if (text != key && map.BucketOf(text) == map.BucketOf(key)) {
            return text;
        }
    }
    return std::string();
}

struct Desk {
    TempDir dir;
    CCardMap map;
    uint32_t maxNumber = 0;
    CFileCardStore store{map, maxNumber};
    std::string registerPath = dir / "cardbook.kcd";

    bool Open() {
        CFileCardStore::OpenReport report;
        std::string error;
        return store.Open(registerPath, report, error);
    }
    CommitResult Commit(CCardChange change, CommitMode mode = CommitMode::Refusable) {
        std::string error;
        return store.Commit(std::move(change), mode, error);
    }
};

TEST(CardChange, EncodedAndDecodedWhole) {
    CCardChange change(CardOperation::Enrol, 41);
    auto card = MakeCard("000007", 40);
    card->m_strName = "\xD5\xD4\xD2\xBB";  // GB2312 bytes
    card->m_strRemark = std::string(300, 'x');
    card->m_strRights = "1010101010101010";
    change.Put("000007", std::move(card));
    change.Remove("000003");
    change.Put("imported-key-longer", MakeCard("000009", 2));
    const std::string bytes = change.Encode();

    CCardChange decoded;
    ASSERT_TRUE(CCardChange::Decode(bytes, decoded));
    EXPECT_EQ(decoded.Operation(), CardOperation::Enrol);
    EXPECT_EQ(decoded.MaxNumber(), 41u);
    ASSERT_EQ(decoded.Steps().size(), 3u);
    EXPECT_EQ(decoded.Steps()[1].key, "000003");
    EXPECT_EQ(decoded.Steps()[1].card, nullptr);
    EXPECT_EQ(decoded.Encode(), bytes);

    // Every cut and a byte too many are refused; a count larger than the bytes allocates nothing.
    for (size_t cut = 0; cut < bytes.size(); ++cut) {
        EXPECT_FALSE(CCardChange::Decode(bytes.substr(0, cut), decoded)) << cut;
    }
    EXPECT_FALSE(CCardChange::Decode(bytes + '\0', decoded));
    EXPECT_FALSE(CCardChange::Decode(FromHex("01 00000000 FFFFFFFF 01"), decoded));
}

TEST(Journal, TornTailIgnoredDamagedMiddleReported) {
    TempDir dir;
    const std::string path = dir / "j";
    CJournal journal;
    std::string error;
    ASSERT_TRUE(journal.Create(path, {100, 7}, 5, error)) << error;
    std::string records;
    for (uint64_t seq = 5; seq < 9; ++seq) {
        records += CJournal::EncodeRecord(seq, CJournal::kChange, std::string(40, 'a' + seq));
    }
    ASSERT_TRUE(journal.Append(records, error)) << error;
    journal.Close();
    const std::string whole = ReadFile(path);
    const size_t recordSize = CJournal::kRecordHeaderSize + 40;
    ASSERT_EQ(whole.size(), CJournal::kHeaderSize + 4 * recordSize);

    CJournal::Contents contents;
    ASSERT_TRUE(CJournal::Read(path, contents, error));
    EXPECT_EQ(contents.base, (RegisterFingerprint{100, 7}));
    ASSERT_EQ(contents.records.size(), 4u);
    EXPECT_EQ(contents.records[3].seq, 8u);
    EXPECT_EQ(contents.records[3].payload, std::string(40, 'a' + 8));

    // Cut anywhere in the last record: three records, the rest ignored as torn.
    for (size_t cut = whole.size() - recordSize; cut < whole.size(); ++cut) {
        WriteFile(path, whole.substr(0, cut));
        ASSERT_TRUE(CJournal::Read(path, contents, error));
        EXPECT_FALSE(contents.Damaged()) << cut;
        EXPECT_EQ(contents.records.size(), 3u) << cut;
        EXPECT_EQ(contents.tornBytes, cut - (whole.size() - recordSize)) << cut;
    }

    // One byte changed in the header, the payload or the checksum of the second record: it is
    // lost, and said to be, while the two after it count.
    const size_t second = CJournal::kHeaderSize + recordSize;
    for (const size_t at :
         {second + 1, second + 8, second + 20, second + 30, second + recordSize - 1}) {
        std::string damaged = whole;
        damaged[at] ^= 0x40;
        WriteFile(path, damaged);
        ASSERT_TRUE(CJournal::Read(path, contents, error));
        EXPECT_TRUE(contents.Damaged()) << at;
        EXPECT_EQ(contents.damagedRecords, 1u) << at;
        ASSERT_EQ(contents.records.size(), 3u) << at;
        EXPECT_EQ(contents.records[1].seq, 7u) << at;
    }

    // A header that does not hold trusts nothing.
    std::string badHeader = whole;
    badHeader[17] ^= 1;
    WriteFile(path, badHeader);
    ASSERT_TRUE(CJournal::Read(path, contents, error));
    EXPECT_FALSE(contents.headerValid);
    EXPECT_TRUE(contents.records.empty());
}

TEST(CardStore, RestartReplaysEveryChangeInTheSameOrder) {
    Desk desk;
    // A register file with two cards in one bucket, so that order within a chain matters.
    const std::string a = "000001";
    const std::string b = SameBucketAs(a);
    ASSERT_FALSE(b.empty());
    {
        CCardMap initial;
        initial.SetAt(a, MakeCard(a, 1));
        initial.SetAt("000500", MakeCard("000500", 2));
        WriteFile(desk.registerPath, RegisterBytes(initial));
        std::string error;
        ASSERT_EQ(LoadRegisterFile(desk.registerPath, desk.map, desk.maxNumber, error),
                  RegisterLoad::Loaded);
    }
    ASSERT_TRUE(desk.Open());
    // Removed and put back (to the head of its chain), a new key after it, a replacement in
    // place, a removal of a key that is not there, and a batch in one change.
    EXPECT_EQ(desk.Commit(RemoveCard(a, 2)), CommitResult::Durable);
    EXPECT_EQ(desk.Commit(PutCard(a, "back", 3)), CommitResult::Durable);
    EXPECT_EQ(desk.Commit(PutCard(b, "new", 4)), CommitResult::Durable);
    EXPECT_EQ(desk.Commit(PutCard("000500", "changed", 2, CardOperation::Save)),
              CommitResult::Durable);
    EXPECT_EQ(desk.Commit(RemoveCard("123456", 4)), CommitResult::Durable);
    CCardChange batch(CardOperation::Enrol, 9);
    for (int n = 0; n < 5; ++n) {
        batch.Put("00070" + std::to_string(n), MakeCard("00070" + std::to_string(n), 5 + n));
    }
    EXPECT_EQ(desk.Commit(std::move(batch)), CommitResult::Durable);
    EXPECT_EQ(desk.store.JournalRecords(), 6u);

    Restarted restarted(desk.registerPath);
    ASSERT_TRUE(restarted.opened) << restarted.error;
    EXPECT_EQ(restarted.report.replayed, 6u);
    EXPECT_FALSE(restarted.report.keptAside);
    EXPECT_EQ(RegisterBytes(restarted.map), RegisterBytes(desk.map));
    EXPECT_EQ(restarted.maxNumber, 9u);
    // The register file itself was not written by any of it.
    EXPECT_NE(RegisterBytes(restarted.map), ReadFile(desk.registerPath));

    // Going on after a restart: numbering continues and a second restart sees both sessions.
    EXPECT_EQ(restarted.store.Commit(PutCard("000900", "later", 10), CommitMode::Refusable,
                                     restarted.error),
              CommitResult::Durable);
    Restarted again(desk.registerPath);
    EXPECT_EQ(again.report.replayed, 7u);
    EXPECT_EQ(RegisterBytes(again.map), RegisterBytes(restarted.map));
}

TEST(CardStore, WrittenRegisterRenewsTheJournal) {
    Desk desk;
    ASSERT_TRUE(desk.Open());
    for (int n = 1; n <= 3; ++n) {
        desk.Commit(PutCard("00000" + std::to_string(n), "x", n));
    }
    std::string error;
    ASSERT_TRUE(desk.store.WriteRegister(error)) << error;
    EXPECT_EQ(desk.store.JournalRecords(), 0u);
    EXPECT_EQ(ReadFile(desk.registerPath), RegisterBytes(desk.map));
    EXPECT_EQ(ReadFile(desk.store.JournalPath()).size(), CJournal::kHeaderSize);

    Restarted restarted(desk.registerPath);
    EXPECT_EQ(restarted.report.replayed, 0u);
    EXPECT_EQ(RegisterBytes(restarted.map), RegisterBytes(desk.map));
}

// The register replaced and then the program stopped before the journal was renewed: the
// journal's note says the file holds its changes, and nothing is applied twice (which would
// put a removed and re-added key ahead of a later one in its chain).
TEST(CardStore, RegisterWrittenButJournalNotRenewed) {
    Desk desk;
    const std::string a = "000001";
    const std::string b = SameBucketAs(a);
    ASSERT_TRUE(desk.Open());
    desk.Commit(PutCard(a, "a", 1));
    desk.Commit(RemoveCard(a, 1));
    desk.Commit(PutCard(a, "a again", 2));
    desk.Commit(PutCard(b, "b", 3));
    {
        ScopedIoOverride io;
        Io().rename = [](const char* from, const char* to) {
            const std::string target = to;
            if (target.size() >= 8 && target.compare(target.size() - 8, 8, ".journal") == 0) {
                errno = EIO;
                return -1;
            }
            return ::rename(from, to);
        };
        std::string error;
        ASSERT_TRUE(desk.store.WriteRegister(error)) << error;
    }
    // A clean start reads the file (a load puts each chain's keys in reverse) and applies
    // nothing more.
    CCardMap clean;
    uint32_t maxNumber = 0;
    std::string error;
    ASSERT_EQ(LoadRegisterFile(desk.registerPath, clean, maxNumber, error), RegisterLoad::Loaded);
    Restarted restarted(desk.registerPath);
    ASSERT_TRUE(restarted.opened) << restarted.error;
    EXPECT_EQ(restarted.report.replayed, 0u);
    EXPECT_FALSE(restarted.report.keptAside);
    EXPECT_EQ(RegisterBytes(restarted.map), RegisterBytes(clean));

    // The changes made after that, into the old journal, are replayed after its note.
    desk.Commit(PutCard("000777", "after", 4));
    PutCard("000777", "after", 4).ApplyTo(clean, maxNumber);
    Restarted later(desk.registerPath);
    EXPECT_EQ(later.report.replayed, 1u);
    EXPECT_EQ(RegisterBytes(later.map), RegisterBytes(clean));
}

TEST(CardStore, JournalOfAnotherRegisterIsKeptAsideNotApplied) {
    Desk desk;
    ASSERT_TRUE(desk.Open());
    desk.Commit(PutCard("000001", "a", 1));
    desk.Commit(PutCard("000002", "b", 2));
    // Someone puts another register file in place.
    CCardMap other;
    other.SetAt("000009", MakeCard("000009", 9));
    WriteFile(desk.registerPath, RegisterBytes(other));

    Restarted restarted(desk.registerPath);
    ASSERT_TRUE(restarted.opened) << restarted.error;
    EXPECT_TRUE(restarted.report.keptAside);
    EXPECT_EQ(restarted.report.ignored, 2u);
    EXPECT_EQ(restarted.report.replayed, 0u);
    EXPECT_EQ(RegisterBytes(restarted.map), RegisterBytes(other));
    EXPECT_TRUE(FileExists(restarted.report.keptAs));
    // The fresh journal follows the file in place: the next start is clean.
    Restarted again(desk.registerPath);
    EXPECT_FALSE(again.report.keptAside);
}

TEST(CardStore, DamagedJournalRecoversWhatHoldsAndKeepsTheFile) {
    Desk desk;
    ASSERT_TRUE(desk.Open());
    for (int n = 1; n <= 4; ++n) {
        desk.Commit(PutCard("00000" + std::to_string(n), "card", n));
    }
    const std::string journal = ReadFile(desk.store.JournalPath());
    std::string damaged = journal;
    // A byte inside the second record's payload.
    const size_t second = CJournal::kHeaderSize + (journal.size() - CJournal::kHeaderSize) / 4;
    damaged[second + CJournal::kRecordHeaderSize + 5] ^= 0x10;
    WriteFile(desk.store.JournalPath(), damaged);

    Restarted restarted(desk.registerPath);
    ASSERT_TRUE(restarted.opened) << restarted.error;
    EXPECT_TRUE(restarted.report.keptAside);
    EXPECT_EQ(restarted.report.lost, 1u);
    EXPECT_EQ(restarted.report.replayed, 3u);
    EXPECT_EQ(restarted.map.GetCount(), 3u);
    EXPECT_EQ(restarted.map.Lookup("000002"), nullptr);
    EXPECT_EQ(ReadFile(restarted.report.keptAs), damaged);
    // What was recovered is in the new journal.
    Restarted again(desk.registerPath);
    EXPECT_FALSE(again.report.keptAside);
    EXPECT_EQ(RegisterBytes(again.map), RegisterBytes(restarted.map));
}

TEST(CardStore, DiskThatRefuses) {
    Desk desk;
    ASSERT_TRUE(desk.Open());
    desk.Commit(PutCard("000001", "kept", 1));
    const std::string before = RegisterBytes(desk.map);
    std::string error;
    {
        ScopedIoOverride io;
        Io().write = [](int, const void*, size_t) -> ssize_t {
            errno = ENOSPC;
            return -1;
        };
        // Not yet carried out by a device: refused, nothing changed.
        EXPECT_EQ(desk.store.Commit(PutCard("000002", "refused", 2), CommitMode::Refusable, error),
                  CommitResult::Refused);
        EXPECT_NE(error.find("磁盘空间不足"), std::string::npos) << error;
        EXPECT_EQ(RegisterBytes(desk.map), before);
        // A card already written: kept in memory, saved later.
        EXPECT_EQ(desk.store.Commit(PutCard("000003", "written", 3), CommitMode::DeviceDone, error),
                  CommitResult::NotYetSaved);
        EXPECT_NE(desk.map.Lookup("000003"), nullptr);
        EXPECT_EQ(desk.store.Unsaved(), 1u);
    }
    {
        // A failing fdatasync is no confirmation either.
        ScopedIoOverride io;
        Io().fdatasync = [](int) {
            errno = EIO;
            return -1;
        };
        EXPECT_EQ(desk.store.Commit(PutCard("000004", "refused", 4), CommitMode::Refusable, error),
                  CommitResult::Refused);
        EXPECT_EQ(desk.map.Lookup("000004"), nullptr);
    }
    // The disk is back: the next change takes the unsaved one with it.
    EXPECT_EQ(desk.store.Commit(PutCard("000005", "later", 5), CommitMode::Refusable, error),
              CommitResult::Durable);
    EXPECT_EQ(desk.store.Unsaved(), 0u);
    Restarted restarted(desk.registerPath);
    EXPECT_EQ(RegisterBytes(restarted.map), RegisterBytes(desk.map));
    EXPECT_NE(restarted.map.Lookup("000003"), nullptr);
    EXPECT_EQ(restarted.map.Lookup("000002"), nullptr);
}

TEST(CardStore, GrownJournalAsksToBeFolded) {
    Desk desk;
    ASSERT_TRUE(desk.Open());
    EXPECT_FALSE(desk.store.NeedsFold());
    // One enrolment of 30,000 cards is past the size bound.
    CCardChange batch(CardOperation::Enrol, 30000);
    for (int n = 1; n <= 30000; ++n) {
        char key[8];
        std::snprintf(key, sizeof key, "%06d", n);
        auto card = MakeCard(key, n);
        card->m_strName = "resident";
        card->m_strAddress = std::string(120, 'a');
        batch.Put(key, std::move(card));
    }
    ASSERT_EQ(desk.Commit(std::move(batch)), CommitResult::Durable);
    EXPECT_TRUE(desk.store.NeedsFold());
    std::string error;
    ASSERT_TRUE(desk.store.WriteRegister(error)) << error;
    EXPECT_FALSE(desk.store.NeedsFold());
}

TEST(CardStore, ImportReplacesAllOnlyOnceWritten) {
    Desk desk;
    ASSERT_TRUE(desk.Open());
    desk.Commit(PutCard("000001", "old", 1));
    CCardMap imported;
    imported.SetAt("000042", MakeCard("000042", 42));
    const std::string importedBytes = RegisterBytes(imported);
    std::string error;
    {
        ScopedIoOverride io;
        Io().fsync = [](int) {
            errno = EIO;
            return -1;
        };
        CCardMap copy;
        copy.SetAt("000042", MakeCard("000042", 42));
        EXPECT_FALSE(desk.store.ReplaceAll(std::move(copy), 42, error));
        EXPECT_NE(desk.map.Lookup("000001"), nullptr);
    }
    ASSERT_TRUE(desk.store.ReplaceAll(std::move(imported), 42, error)) << error;
    EXPECT_EQ(desk.maxNumber, 42u);
    EXPECT_EQ(ReadFile(desk.registerPath), importedBytes);
    Restarted restarted(desk.registerPath);
    EXPECT_EQ(RegisterBytes(restarted.map), importedBytes);
}

TEST(RegisterLock, OneHolderAtATimeReleasedWhenTheHolderDies) {
    TempDir dir;
    const std::string path = dir / "cardbook.kcd";
    EXPECT_FALSE(IsRegisterLocked(path));
    EXPECT_FALSE(FileExists(CRegisterLock::LockPath(path)));  // asking creates nothing
    std::string error;
    {
        CRegisterLock first;
        ASSERT_EQ(first.Acquire(path, error), CRegisterLock::Result::Locked) << error;
        EXPECT_TRUE(IsRegisterLocked(path));
        CRegisterLock second;
        EXPECT_EQ(second.Acquire(path, error), CRegisterLock::Result::HeldElsewhere);
    }
    EXPECT_FALSE(IsRegisterLocked(path));

    // A holder killed with SIGKILL leaves nothing that blocks the next one.
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        CRegisterLock held;
        std::string childError;
        const char ok = held.Acquire(path, childError) == CRegisterLock::Result::Locked ? 1 : 0;
        [[maybe_unused]] ssize_t n = ::write(ready[1], &ok, 1);
        ::pause();
        ::_exit(0);
    }
    char ok = 0;
    ASSERT_EQ(::read(ready[0], &ok, 1), 1);
    EXPECT_EQ(ok, 1);
    EXPECT_TRUE(IsRegisterLocked(path));
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    ::close(ready[0]);
    ::close(ready[1]);
    CRegisterLock next;
    EXPECT_EQ(next.Acquire(path, error), CRegisterLock::Result::Locked);
}

TEST(RegisterLock, StaleTemporaryFilesOfThisRegisterOnly) {
    TempDir dir;
    const std::string path = dir / "cardbook.kcd";
    for (const char* name :
         {"cardbook.kcd.tmp-a1B2c3", "cardbook.kcd.old.tmp-XyZ789",
          "cardbook.kcd.journal.tmp-000000", "cardbook.kcd.tmp-short", "cardbook.kcd.tmp-toolong1",
          "other.kcd.tmp-a1B2c3", "cardbook.kcd", "cardbook.kcd.old",
          "cardbook.kcd.damaged-20261208-164751", "cardbook.kcd.tmp-a1B2c!"}) {
        WriteFile(dir / name, "x");
    }
    EXPECT_EQ(RemoveStaleTempFiles(path), 3);
    EXPECT_EQ(ListDir(dir.path()),
              (std::vector<std::string>{"cardbook.kcd", "cardbook.kcd.damaged-20261208-164751",
                                        "cardbook.kcd.old", "cardbook.kcd.tmp-a1B2c!",
                                        "cardbook.kcd.tmp-short", "cardbook.kcd.tmp-toolong1",
                                        "other.kcd.tmp-a1B2c3"}));
}

}  // namespace
