// The server away: a change no device carried out is refused, one a device carried out is kept
// in the desk's outbox (on disk, also across the desk's restart) and sent in order with its row
// versions once the server answers; sent once even when the desk stops before it hears so; one
// that meets another desk's change is recorded and told, never dropped.

#include <gtest/gtest.h>

#include "PgDesk.h"
#include "ScopedPostgres.h"
#include "StoreTestUtil.h"
#include "TestUtil.h"
#include "register/CardFields.h"
#include "server/PgCardStore.h"
#include "server/PgConnection.h"
#include "server/PgOutbox.h"
#include "store/HistoryEntry.h"

namespace {

using Desk = PgDesk;

// The server's history records: operation, card number, fee.
struct Recorded {
    int operation;
    std::string cardNo;
    int64_t fee;
    std::string content;
};
std::vector<Recorded> ServerRecords(const std::string& conninfo) {
    std::vector<Recorded> records;
    CPgConnection reader;
    std::string error;
    EXPECT_TRUE(reader.Connect(conninfo, error)) << error;
    CPgResult rows =
        reader.Exec("SELECT payload FROM orvane_history ORDER BY number", {}, {}, true);
    for (int row = 0; row < rows.Rows(); ++row) {
        CHistoryEntry entry;
        EXPECT_TRUE(CHistoryEntry::Decode(rows.Cell(row, 0), entry));
        records.push_back({entry.operation, entry.cardNo, entry.feeCents, entry.content});
    }
    return records;
}

class PgAwayTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!server.ready()) {
            GTEST_SKIP() << server.why();
        }
    }
    std::string Outbox() const { return dir / "cardbook.outbox"; }

    ScopedPostgres server;
    TempDir dir;
};

TEST_F(PgAwayTest, WhileAwayOnlyWhatADeviceDidIsKeptAndItIsSentWhenTheServerIsBack) {
    Desk desk(server.conninfo(), "front/op", Outbox());
    ASSERT_TRUE(desk.opened) << desk.error;
    ASSERT_EQ(desk.Commit(PutCard("000001", "张三", 1)), CommitResult::Durable) << desk.error;
    ASSERT_TRUE(server.Stop());

    EXPECT_EQ(desk.Commit(PutCard("000002", "李四", 2)), CommitResult::Refused);
    EXPECT_FALSE(desk.error.empty());
    EXPECT_EQ(desk.map.Lookup("000002"), nullptr);
    EXPECT_FALSE(desk.store.Connected());

    // Issued and then extended while away: both kept, in order.
    EXPECT_EQ(
        desk.Commit(PutCard("000001", "张三发卡", 1, CardOperation::Issue), CommitMode::DeviceDone),
        CommitResult::NotYetSaved);
    CCardChange extension = PutCard("000001", "张三延期", 1, CardOperation::Extend);
    extension.SetFee(12000);
    EXPECT_EQ(desk.Commit(std::move(extension), CommitMode::DeviceDone), CommitResult::NotYetSaved);
    EXPECT_EQ(desk.Name("000001"), "张三延期");
    // An export meanwhile waits behind them.
    EXPECT_TRUE(
        desk.store.Record(static_cast<uint8_t>(HistoryOperation::Export), "文件:x", desk.error))
        << desk.error;
    EXPECT_EQ(desk.store.Pending(), 3u);

    ASSERT_TRUE(server.Start());
    ASSERT_TRUE(desk.store.Reconnect(desk.error)) << desk.error;
    EXPECT_EQ(desk.store.Pending(), 0u);
    EXPECT_TRUE(desk.store.TakeUndelivered().empty());
    Desk other(server.conninfo(), "manager/op");
    ASSERT_TRUE(other.opened) << other.error;
    EXPECT_EQ(RegisterBytes(other.map), RegisterBytes(desk.map));
    EXPECT_EQ(other.Name("000001"), "张三延期");

    const std::vector<Recorded> records = ServerRecords(server.conninfo());
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(records[1].operation, static_cast<int>(CardOperation::Issue));
    EXPECT_EQ(records[2].operation, static_cast<int>(CardOperation::Extend));
    EXPECT_EQ(records[2].fee, 12000);
    EXPECT_EQ(records[3].operation, static_cast<int>(HistoryOperation::Export));
    // The next change goes straight through, checked against the versions sent.
    EXPECT_EQ(desk.Commit(PutCard("000001", "张三改", 1, CardOperation::Save)),
              CommitResult::Durable)
        << desk.error;
}

TEST_F(PgAwayTest, AServerRestartedBetweenChangesIsConnectedAgainWithoutAWord) {
    Desk desk(server.conninfo(), "front/op", Outbox());
    ASSERT_EQ(desk.Commit(PutCard("000001", "张三", 1)), CommitResult::Durable) << desk.error;
    ASSERT_TRUE(server.Stop());
    ASSERT_TRUE(server.Start());
    EXPECT_EQ(desk.Commit(PutCard("000001", "张三改", 1, CardOperation::Save)),
              CommitResult::Durable)
        << desk.error;
    EXPECT_EQ(desk.store.Pending(), 0u);
}

TEST_F(PgAwayTest, WhatTheOutboxHoldsSurvivesTheDeskAndIsSentOnce) {
    {
        Desk desk(server.conninfo(), "front/op", Outbox());
        ASSERT_EQ(desk.Commit(PutCard("000001", "张三", 1)), CommitResult::Durable);
        ASSERT_TRUE(server.Stop());
        ASSERT_EQ(
            desk.Commit(PutCard("000001", "发卡", 1, CardOperation::Issue), CommitMode::DeviceDone),
            CommitResult::NotYetSaved);
    }  // the desk ends while the server is away
    const std::string kept = ReadFile(Outbox());
    ASSERT_TRUE(server.Start());
    {
        // The change shows at once and is sent as the desk connects.
        Desk desk(server.conninfo(), "front/op", Outbox());
        ASSERT_TRUE(desk.opened) << desk.error;
        EXPECT_EQ(desk.Name("000001"), "发卡");
        EXPECT_EQ(desk.store.Pending(), 0u);
    }
    // The desk stopped before its outbox was started afresh: the change is not sent twice,
    // and it is no conflict either.
    WriteFile(Outbox(), kept);
    Desk desk(server.conninfo(), "front/op", Outbox());
    ASSERT_TRUE(desk.opened) << desk.error;
    EXPECT_TRUE(desk.store.TakeUndelivered().empty());
    EXPECT_EQ(desk.store.Pending(), 0u);
    const std::vector<Recorded> records = ServerRecords(server.conninfo());
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[1].operation, static_cast<int>(CardOperation::Issue));
}

TEST_F(PgAwayTest, AKeptChangeThatMeetsAnotherDesksIsRecordedAndToldNeverDropped) {
    Desk front(server.conninfo(), "front/op", Outbox());
    ASSERT_EQ(front.Commit(PutCard("000001", "张三", 1)), CommitResult::Durable);
    ASSERT_TRUE(server.Stop());
    CCardChange extension = PutCard("000001", "前台延期", 1, CardOperation::Extend);
    extension.SetFee(5000);
    ASSERT_EQ(front.Commit(std::move(extension), CommitMode::DeviceDone),
              CommitResult::NotYetSaved);
    ASSERT_TRUE(server.Start());
    {
        Desk manager(server.conninfo(), "manager/op");
        ASSERT_EQ(manager.Commit(PutCard("000001", "经理改", 1, CardOperation::Save)),
                  CommitResult::Durable)
            << manager.error;
    }
    ASSERT_TRUE(front.store.Reconnect(front.error)) << front.error;
    const std::vector<std::string> told = front.store.TakeUndelivered();
    ASSERT_EQ(told.size(), 1u);
    EXPECT_NE(told[0].find("卡号[000001]"), std::string::npos) << told[0];
    EXPECT_NE(told[0].find("这张卡片已在另一个工作站上修改"), std::string::npos) << told[0];
    // The desk shows the server's card; the payment is on record.
    EXPECT_EQ(front.Name("000001"), "经理改");
    const std::vector<Recorded> records = ServerRecords(server.conninfo());
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[2].operation, static_cast<int>(HistoryOperation::Undelivered));
    EXPECT_EQ(records[2].cardNo, "000001");
    EXPECT_EQ(records[2].fee, 5000);
    EXPECT_NE(records[2].content.find("延期"), std::string::npos) << records[2].content;
}

TEST_F(PgAwayTest, ACardWrittenOverAnotherDesksChangeIsRecordedAsNotSaved) {
    Desk front(server.conninfo(), "front/op", Outbox());
    Desk manager(server.conninfo(), "manager/op");
    ASSERT_EQ(front.Commit(PutCard("000001", "张三", 1)), CommitResult::Durable);
    // The manager's desk has not heard of the card yet: its issue meets the front's.
    EXPECT_EQ(manager.Commit(PutCard("000001", "经理发卡", 1, CardOperation::Issue),
                             CommitMode::DeviceDone),
              CommitResult::Conflict);
    EXPECT_NE(manager.error.find(CPgCardStore::kNumberTaken), std::string::npos);
    EXPECT_NE(manager.error.find("已记入操作记录"), std::string::npos) << manager.error;
    EXPECT_EQ(manager.Name("000001"), "张三");
    const std::vector<Recorded> records = ServerRecords(server.conninfo());
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[1].operation, static_cast<int>(HistoryOperation::Undelivered));
}

// The outbox file itself, without a server: what it holds comes back; a record cut short at
// the end is dropped, damage before good records is counted.
TEST(PgOutbox, KeepsItsChangesAcrossOpeningsAndCountsDamage) {
    TempDir dir;
    const std::string path = dir / "outbox";
    CPgOutbox::Id name{};
    {
        CPgOutbox outbox;
        uint64_t lost = 1;
        std::string error;
        ASSERT_TRUE(outbox.Open(path, lost, error)) << error;
        EXPECT_EQ(lost, 0u);
        for (int i = 1; i <= 3; ++i) {
            CPgOutbox::Deferred deferred;
            deferred.change = PutCard(CardNoText(i), "x", i).Encode();
            deferred.versions = {i * 10};
            deferred.history = {"h" + std::to_string(i), std::string(300, 'y')};
            ASSERT_TRUE(outbox.Add(std::move(deferred), error)) << error;
        }
        name = outbox.Name();
    }
    const std::string whole = ReadFile(path);
    {
        CPgOutbox outbox;
        uint64_t lost = 0;
        std::string error;
        ASSERT_TRUE(outbox.Open(path, lost, error)) << error;
        EXPECT_EQ(lost, 0u);
        ASSERT_EQ(outbox.Pending().size(), 3u);
        EXPECT_EQ(outbox.Name(), name);
        EXPECT_EQ(outbox.Pending()[1].versions, std::vector<int64_t>{20});
        EXPECT_EQ(outbox.Pending()[2].history[0], "h3");
        CCardChange change;
        ASSERT_TRUE(CCardChange::Decode(outbox.Pending()[0].change, change));
        EXPECT_EQ(change.Steps()[0].key, CardNoText(1));
    }
    // Cut in the last record, and a byte changed in the first.
    WriteFile(path, whole.substr(0, whole.size() - 5));
    {
        CPgOutbox outbox;
        uint64_t lost = 0;
        std::string error;
        ASSERT_TRUE(outbox.Open(path, lost, error)) << error;
        EXPECT_EQ(outbox.Pending().size(), 2u);
        EXPECT_EQ(lost, 0u);
    }
    std::string damaged = whole;
    damaged[CJournal::kHeaderSize + CJournal::kRecordHeaderSize + 20] ^= 1;
    WriteFile(path, damaged);
    CPgOutbox outbox;
    uint64_t lost = 0;
    std::string error;
    ASSERT_TRUE(outbox.Open(path, lost, error)) << error;
    EXPECT_EQ(lost, 1u);
    EXPECT_EQ(outbox.Pending().size(), 2u);
    // Delivered, it starts afresh.
    outbox.Delivered();
    outbox.Delivered();
    ASSERT_TRUE(outbox.Renew(error)) << error;
    EXPECT_EQ(ReadFile(path).size(), CJournal::kHeaderSize);
    for (const std::string& garbage : {std::string(), std::string(7, 'x'), std::string(60, '\0')}) {
        CPgOutbox::Id id{};
        CPgOutbox::Deferred deferred;
        EXPECT_FALSE(CPgOutbox::Decode(garbage, id, deferred));
    }
}

}  // namespace
