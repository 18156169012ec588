// The register on a real PostgreSQL server, used by two desks at once: what one commits the
// other loads byte for byte; a change that meets another desk's is refused and the desk shows
// the card as it is now; a number registered at the same time by two desks goes to one; the
// history is one chain across the desks.

#include <gtest/gtest.h>

#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>
#include <random>
#include <set>
#include <sstream>

#include "PgDesk.h"
#include "ScopedPostgres.h"
#include "StoreTestUtil.h"
#include "TestUtil.h"
#include "bench/SampleCards.h"
#include "register/CardFields.h"
#include "server/PgCardStore.h"
#include "server/PgConnection.h"
#include "store/HistoryEntry.h"
#include "store/HistoryFile.h"

namespace {

using Desk = PgDesk;

// The server's history, its chain checked record by record (a record that breaks it fails the
// test and ends the list).
std::vector<CHistoryEntry> ServerHistory(const std::string& conninfo) {
    std::vector<CHistoryEntry> entries;
    CPgConnection reader;
    std::string error;
    if (!reader.Connect(conninfo, error)) {
        ADD_FAILURE() << error;
        return entries;
    }
    CPgResult rows =
        reader.Exec("SELECT payload, hash FROM orvane_history ORDER BY number", {}, {}, true);
    if (!rows.Ok()) {
        ADD_FAILURE() << rows.Error();
        return entries;
    }
    CHistoryFile::Hash previous{};
    for (int row = 0; row < rows.Rows(); ++row) {
        CHistoryFile::Hash hash{};
        CHistoryFile::EncodeRecords({std::string(rows.Cell(row, 0))},
                                    static_cast<uint64_t>(row + 1), previous, hash);
        CHistoryEntry entry;
        if (rows.Cell(row, 1) !=
                std::string_view(reinterpret_cast<const char*>(hash.data()), hash.size()) ||
            !CHistoryEntry::Decode(rows.Cell(row, 0), entry)) {
            ADD_FAILURE() << "the chain breaks at record " << row + 1;
            return entries;
        }
        previous = hash;
        entries.push_back(std::move(entry));
    }
    return entries;
}

class PgStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!server.ready()) {
            GTEST_SKIP() << server.why();
        }
    }
    ScopedPostgres server;
};

TEST_F(PgStoreTest, WhatOneDeskCommitsTheNextLoadsByteForByte) {
    Desk front(server.conninfo(), "front/op");
    ASSERT_TRUE(front.opened) << front.error;
    EXPECT_EQ(front.map.GetCount(), 0u);
    // Cards in an order the map's buckets do not keep, one with bytes of every value.
    for (const char* key : {"000300", "000002", "000150", "ABC"}) {
        ASSERT_EQ(front.Commit(PutCard(key, key, 7)), CommitResult::Durable) << front.error;
    }
    auto odd = MakeCard("000002", 2);
    std::string bytes;
    for (int b = 0; b < 256; ++b) {
        bytes += static_cast<char>(b);
    }
    odd->m_strRemark = bytes;
    odd->m_nStatus = CARD_LOST;
    odd->m_nNumber = -5;
    CCardChange change(CardOperation::Save, 9);
    change.Put("000002", std::move(odd));
    ASSERT_EQ(front.Commit(std::move(change)), CommitResult::Durable) << front.error;
    ASSERT_EQ(front.Commit(RemoveCard("000150", 9)), CommitResult::Durable) << front.error;

    Desk manager(server.conninfo(), "manager/op");
    ASSERT_TRUE(manager.opened) << manager.error;
    EXPECT_EQ(RegisterBytes(manager.map), RegisterBytes(front.map));
    EXPECT_EQ(manager.maxNumber, 9u);
}

TEST_F(PgStoreTest, AChangeThatMeetsAnotherDesksIsRefusedAndTheCardShownAsItIsNow) {
    Desk front(server.conninfo(), "front/op");
    ASSERT_EQ(front.Commit(PutCard("000001", "张三", 1)), CommitResult::Durable) << front.error;
    Desk manager(server.conninfo(), "manager/op");
    ASSERT_TRUE(manager.opened) << manager.error;

    ASSERT_EQ(manager.Commit(PutCard("000001", "李四", 1, CardOperation::Save)),
              CommitResult::Durable)
        << manager.error;
    // The front desk still shows 张三: its save is refused, and it shows 李四 now.
    EXPECT_EQ(front.Commit(PutCard("000001", "王五", 1, CardOperation::Save)),
              CommitResult::Conflict);
    EXPECT_EQ(front.error, CPgCardStore::kChangedElsewhere);
    EXPECT_EQ(front.map.Lookup("000001")->m_strName.view(), "李四");
    // Seen now, the change goes through; a removal meets the same check.
    EXPECT_EQ(front.Commit(PutCard("000001", "王五", 1, CardOperation::Save)),
              CommitResult::Durable)
        << front.error;
    EXPECT_EQ(manager.Commit(RemoveCard("000001", 1)), CommitResult::Conflict);
    EXPECT_EQ(manager.error, CPgCardStore::kChangedElsewhere);
    EXPECT_EQ(manager.map.Lookup("000001")->m_strName.view(), "王五");

    // Removed and registered again at one desk: the other's view of the old card does not
    // pass for the new one.
    ASSERT_EQ(manager.Commit(RemoveCard("000001", 1)), CommitResult::Durable) << manager.error;
    ASSERT_EQ(manager.Commit(PutCard("000001", "赵六", 1)), CommitResult::Durable) << manager.error;
    Desk third(server.conninfo(), "third/op");
    ASSERT_EQ(third.Commit(RemoveCard("000001", 1)), CommitResult::Durable) << third.error;
    ASSERT_EQ(third.Commit(PutCard("000001", "钱七", 1)), CommitResult::Durable) << third.error;
    EXPECT_EQ(manager.Commit(PutCard("000001", "孙八", 1, CardOperation::Save)),
              CommitResult::Conflict);
    EXPECT_EQ(manager.map.Lookup("000001")->m_strName.view(), "钱七");
}

TEST_F(PgStoreTest, ANumberRegisteredAtTwoDesksGoesToOne) {
    Desk front(server.conninfo(), "front/op");
    Desk manager(server.conninfo(), "manager/op");
    ASSERT_TRUE(front.opened && manager.opened);
    ASSERT_EQ(front.Commit(PutCard("000005", "张三", 5)), CommitResult::Durable) << front.error;
    EXPECT_EQ(manager.Commit(PutCard("000005", "李四", 5)), CommitResult::Conflict);
    EXPECT_EQ(manager.error, CPgCardStore::kNumberTaken);
    ASSERT_NE(manager.map.Lookup("000005"), nullptr);
    EXPECT_EQ(manager.map.Lookup("000005")->m_strName.view(), "张三");
}

// A desk that has not heard of the numbers another desk gave out does not give them again.
TEST_F(PgStoreTest, SerialNumbersAreTheServersNotTheDesks) {
    Desk front(server.conninfo(), "front/op");
    Desk manager(server.conninfo(), "manager/op");
    ASSERT_TRUE(front.opened && manager.opened);
    ASSERT_EQ(front.Commit(PutCard("000001", "张三", 1)), CommitResult::Durable) << front.error;
    ASSERT_EQ(front.Commit(PutCard("000002", "李四", 2)), CommitResult::Durable) << front.error;
    // The manager's desk still counts from 0: its new card takes the next number after 2.
    ASSERT_EQ(manager.maxNumber, 0u);
    ASSERT_EQ(manager.Commit(PutCard("000007", "王五", 1)), CommitResult::Durable) << manager.error;
    EXPECT_EQ(manager.map.Lookup("000007")->m_nNumber, 3);
    EXPECT_EQ(manager.maxNumber, 3u);
    Desk third(server.conninfo(), "third/op");
    EXPECT_EQ(third.map.Lookup("000007")->m_nNumber, 3);
    EXPECT_EQ(third.maxNumber, 3u);
}

TEST_F(PgStoreTest, TheHistoryIsOneChainAcrossTheDesks) {
    Desk front(server.conninfo(), "front/op");
    Desk manager(server.conninfo(), "manager/op");
    ASSERT_EQ(front.Commit(PutCard("000001", "one", 1)), CommitResult::Durable) << front.error;
    ASSERT_EQ(manager.Commit(PutCard("000002", "two", 2)), CommitResult::Durable);
    ASSERT_TRUE(manager.store.Record(static_cast<uint8_t>(HistoryOperation::Export), "文件:x",
                                     manager.error))
        << manager.error;
    // A refused change leaves no record.
    EXPECT_EQ(front.Commit(PutCard("000002", "late", 2)), CommitResult::Conflict);

    std::vector<std::string> desks;
    for (const CHistoryEntry& entry : ServerHistory(server.conninfo())) {
        desks.push_back(entry.desk);
    }
    EXPECT_EQ(desks, (std::vector<std::string>{"front/op", "manager/op", "manager/op"}));
}

ProcessResult Kcdtool(const std::vector<std::string>& args) {
    std::vector<std::string> argv{KCDTOOL};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProgram(argv);
}

TEST_F(PgStoreTest, PushAndPullGiveBackTheRegisterFileByteForByte) {
    TempDir dir;
    CCardMap cards;
    FillSampleCards(cards, 3000, 7);
    // A key that is no card number, brought in by an old import.
    cards.SetAt("ABC", MakeCard("ABC", 4));
    WriteFile(dir / "cardbook.kcd", RegisterBytes(cards));

    ProcessResult pushed = Kcdtool({"push", dir / "cardbook.kcd", server.conninfo()});
    ASSERT_EQ(pushed.exitCode, 0) << pushed.err;
    EXPECT_NE(pushed.out.find("3001 张卡片已载入服务器"), std::string::npos) << pushed.out;
    // Only into a register without cards.
    pushed = Kcdtool({"push", dir / "cardbook.kcd", server.conninfo()});
    EXPECT_EQ(pushed.exitCode, 1);
    EXPECT_NE(pushed.err.find("服务器上的卡片登记已有3001张卡片"), std::string::npos) << pushed.err;

    const ProcessResult pulled = Kcdtool({"pull", server.conninfo(), dir / "pulled.kcd"});
    ASSERT_EQ(pulled.exitCode, 0) << pulled.err;
    EXPECT_TRUE(SameBytes(ReadFile(dir / "pulled.kcd"), ReadFile(dir / "cardbook.kcd")));

    // A desk on the server has the same register, and the import on record.
    Desk desk(server.conninfo(), "front/op");
    ASSERT_TRUE(desk.opened) << desk.error;
    EXPECT_EQ(RegisterBytes(desk.map), ReadFile(dir / "cardbook.kcd"));
    EXPECT_EQ(Kcdtool({"pull", "host=" + dir.path() + "none dbname=x", dir / "x.kcd"}).exitCode, 1);

    // The server's history chain, checked from the command line: whole, then changed by hand.
    ASSERT_EQ(desk.Commit(PutCard("000001", "张三", 1)), CommitResult::Durable) << desk.error;
    ProcessResult verified = Kcdtool({"verify-server", server.conninfo()});
    EXPECT_EQ(verified.exitCode, 0) << verified.err;
    EXPECT_NE(verified.out.find("2条记录, 校验链完整"), std::string::npos) << verified.out;
    CPgConnection admin;
    ASSERT_TRUE(admin.Connect(server.conninfo(), desk.error)) << desk.error;
    ASSERT_TRUE(admin.Run("UPDATE orvane_history SET payload = payload || 'x' WHERE number = 2",
                          desk.error))
        << desk.error;
    verified = Kcdtool({"verify-server", server.conninfo()});
    EXPECT_EQ(verified.exitCode, 1);
    EXPECT_NE(verified.out.find("从第2条记录起与写入时不一致"), std::string::npos) << verified.out;
}

}  // namespace

namespace {

// Waits up to `ms` for the desk's notice socket to become readable.
bool NoticeArrives(const CPgCardStore& store, int ms) {
    pollfd fd{store.NoticeSocket(), POLLIN, 0};
    return ::poll(&fd, 1, ms) == 1;
}

TEST_F(PgStoreTest, EveryDeskSeesTheOthersChangesWhenTheyAreAnnounced) {
    Desk front(server.conninfo(), "front/op");
    Desk manager(server.conninfo(), "manager/op");
    ASSERT_TRUE(front.opened && manager.opened);
    std::vector<CCardNotice> heard;
    CCardSubscription listening =
        manager.store.Listen([&heard](const CCardNotice& notice) { heard.push_back(notice); });

    ASSERT_EQ(front.Commit(PutCard("000001", "张三", 1)), CommitResult::Durable) << front.error;
    ASSERT_TRUE(NoticeArrives(manager.store, 2000));
    EXPECT_EQ(manager.store.TakeOtherDesksChanges(), 1u);
    ASSERT_NE(manager.map.Lookup("000001"), nullptr);
    EXPECT_EQ(manager.map.Lookup("000001")->m_strName.view(), "张三");
    ASSERT_EQ(heard.size(), 1u);
    EXPECT_EQ(heard[0].added, std::vector<std::string>{"000001"});
    // Its own changes a desk does not hear again.
    EXPECT_EQ(front.store.TakeOtherDesksChanges(), 0u);

    // Seen through the notice, the card can be changed at once.
    ASSERT_EQ(manager.Commit(PutCard("000001", "李四", 1, CardOperation::Save)),
              CommitResult::Durable)
        << manager.error;
    ASSERT_TRUE(NoticeArrives(front.store, 2000));
    front.store.TakeOtherDesksChanges();
    EXPECT_EQ(front.map.Lookup("000001")->m_strName.view(), "李四");

    // A batch too large for one notice is announced as the whole register.
    CCardChange batch(CardOperation::Enrol, 2000);
    for (int n = 2; n <= 1000; ++n) {
        batch.Put(CardNoText(n), MakeCard(CardNoText(n), n));
    }
    ASSERT_EQ(front.Commit(std::move(batch)), CommitResult::Durable) << front.error;
    ASSERT_TRUE(NoticeArrives(manager.store, 2000));
    manager.store.TakeOtherDesksChanges();
    EXPECT_EQ(RegisterBytes(manager.map), RegisterBytes(front.map));
}

}  // namespace

namespace {

// Two desks, each in a process of its own, make 1,000 random changes to the same 40 cards at
// once. Every change a desk was told is saved is on the history exactly once, the last record
// of each card is the card as the server holds it, nothing else is on it, and the chain holds.
TEST_F(PgStoreTest, TwoDesksChangingTheSameCardsAtOnceLoseNothing) {
    constexpr int kChanges = 1000;
    constexpr int kCards = 40;
    TempDir dir;
    std::vector<pid_t> children;
    for (const char* name : {"a", "b"}) {
        const pid_t child = ::fork();
        if (child == 0) {
            Desk desk(server.conninfo(), name);
            std::string confirmed;
            std::mt19937 random(static_cast<uint32_t>(name[0]));
            for (int i = 0; desk.opened && i < kChanges; ++i) {
                const std::string key = CardNoText(static_cast<int>(random() % kCards) + 1);
                const std::string holder = std::string(name) + std::to_string(i);
                CCardChange change = random() % 5 == 0 && desk.map.Lookup(key) != nullptr
                                         ? RemoveCard(key, 1)
                                         : PutCard(key, holder, 1, CardOperation::Save);
                const bool removal = change.Steps()[0].card == nullptr;
                if (desk.Commit(std::move(change)) == CommitResult::Durable) {
                    confirmed += key + (removal ? " -" : " " + holder) + "\n";
                }
                desk.store.TakeOtherDesksChanges();
            }
            WriteFile(dir / name, confirmed);
            ::_exit(desk.opened ? 0 : 1);
        }
        children.push_back(child);
    }
    for (const pid_t child : children) {
        int status = 0;
        ::waitpid(child, &status, 0);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }

    // What the desks were told is saved, as "key holder" or "key -".
    std::multiset<std::string> confirmed;
    for (const char* name : {"a", "b"}) {
        std::istringstream lines(ReadFile(dir / name));
        for (std::string line; std::getline(lines, line);) {
            confirmed.insert(line);
        }
    }
    // The history, its chain checked: each change's card and holder, and the last of each card.
    std::multiset<std::string> recorded;
    std::map<std::string, std::string> last;
    for (const CHistoryEntry& entry : ServerHistory(server.conninfo())) {
        const bool removal = entry.operation == static_cast<uint8_t>(CardOperation::Delete);
        recorded.insert(entry.cardNo + (removal ? " -" : " " + entry.name));
        last[entry.cardNo] = removal ? "-" : entry.name;
    }
    EXPECT_EQ(recorded, confirmed);
    EXPECT_GT(confirmed.size(), static_cast<size_t>(kChanges));  // both desks got changes in

    Desk after(server.conninfo(), "check");
    ASSERT_TRUE(after.opened) << after.error;
    for (const auto& [key, holder] : last) {
        const CCard* card = after.map.Lookup(key);
        if (holder == "-") {
            EXPECT_EQ(card, nullptr) << key;
        } else {
            ASSERT_NE(card, nullptr) << key;
            EXPECT_EQ(card->m_strName.view(), holder) << key;
        }
    }
}

}  // namespace
