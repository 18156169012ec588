// The history: its chain of hashes (a changed byte, a removed record and a reordered pair are
// each found at the right record), a cut end, and the records each kind of change leaves.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "StoreTestUtil.h"
#include "TestUtil.h"
#include "base/CodePage.h"
#include "register/CardFields.h"
#include "store/CardHistory.h"
#include "store/HistoryEntry.h"
#include "store/HistoryFile.h"

namespace {

std::string Payload(int n) {
    CHistoryEntry entry;
    entry.time = 1765000000 + n;
    entry.utcOffset = 8 * 3600;
    entry.operation = static_cast<uint8_t>(CardOperation::Save);
    entry.desk = "desk/op";
    entry.cardNo = CardNoText(n);
    entry.name = "住户" + std::to_string(n);
    entry.content = "联系电话:1→" + std::to_string(n);
    return entry.Encode();
}

// A history of `count` records written in appends of three.
void WriteHistory(const std::string& path, int count) {
    CHistoryFile::Contents none;
    CHistoryFile file;
    std::string error;
    ASSERT_TRUE(file.Open(path, none, error)) << error;
    for (int n = 1; n <= count; n += 3) {
        std::vector<std::string> payloads;
        for (int k = n; k < n + 3 && k <= count; ++k) {
            payloads.push_back(Payload(k));
        }
        ASSERT_TRUE(file.Append(payloads, error)) << error;
    }
}

CHistoryFile::Contents Verified(const std::string& path) {
    CHistoryFile::Contents contents;
    std::string error;
    EXPECT_TRUE(CHistoryFile::Read(path, contents, error)) << error;
    CHistoryFile::Verify(contents);
    return contents;
}

// The offsets and sizes of the records of a history file.
std::vector<std::pair<size_t, size_t>> RecordSpans(const std::string& path) {
    CHistoryFile::Contents contents = Verified(path);
    std::vector<std::pair<size_t, size_t>> spans;
    for (const CHistoryFile::Record& record : contents.records) {
        spans.emplace_back(record.offset, CHistoryFile::kRecordHeaderSize + record.payload.size() +
                                              CHistoryFile::kHashSize);
    }
    return spans;
}

TEST(HistoryChain, IntactHistoryVerifiesAndAppendsAfterReopening) {
    TempDir dir;
    const std::string path = dir / "h.history";
    WriteHistory(path, 10);
    CHistoryFile::Contents contents = Verified(path);
    EXPECT_EQ(contents.records.size(), 10u);
    EXPECT_EQ(contents.brokenAt, 0u);

    CHistoryFile file;
    std::string error;
    ASSERT_TRUE(file.Open(path, contents, error)) << error;
    EXPECT_EQ(file.NextNumber(), 11u);
    ASSERT_TRUE(file.Append({Payload(11)}, error)) << error;
    contents = Verified(path);
    EXPECT_EQ(contents.records.size(), 11u);
    EXPECT_EQ(contents.brokenAt, 0u);
    CHistoryEntry entry;
    ASSERT_TRUE(CHistoryEntry::Decode(contents.records.back().payload, entry));
    EXPECT_EQ(entry.cardNo, "000011");
}

// Each kind of tampering, and the record from which the chain no longer holds.
TEST(HistoryChain, TamperingIsFoundAtTheRecordChanged) {
    struct Case {
        const char* what;
        std::function<std::string(const std::string&,
                                  const std::vector<std::pair<size_t, size_t>>&)>
            tamper;
        uint64_t brokenAt;
    };
    const auto flip = [](size_t record, size_t at) {
        return [record, at](const std::string& bytes, const auto& spans) {
            std::string out = bytes;
            out[spans[record].first + at] ^= 0x01;
            return out;
        };
    };
    const std::vector<Case> cases = {
        {"a byte of a name in record 5", flip(4, CHistoryFile::kRecordHeaderSize + 40), 5},
        {"a byte of the last record's hash", flip(9, CHistoryFile::kRecordHeaderSize + 60 + 20),
         10},
        {"the first record's number", flip(0, 8), 1},
        {"the header",
         [](const std::string& bytes, const auto&) {
             std::string out = bytes;
             out[20] ^= 0x10;  // the creation time
             return out;
         },
         1},
        {"record 4 removed",
         [](const std::string& bytes, const auto& spans) {
             return bytes.substr(0, spans[3].first) + bytes.substr(spans[4].first);
         },
         4},
        {"records 6 and 7 swapped",
         [](const std::string& bytes, const auto& spans) {
             return bytes.substr(0, spans[5].first) +
                    bytes.substr(spans[6].first, spans[6].second) +
                    bytes.substr(spans[5].first, spans[5].second) + bytes.substr(spans[7].first);
         },
         6},
        {"a record's length made longer",
         [](const std::string& bytes, const auto& spans) {
             std::string out = bytes;
             out[spans[2].first + 4] = static_cast<char>(out[spans[2].first + 4] + 7);
             return out;
         },
         3},
        {"bytes inserted between records 8 and 9",
         [](const std::string& bytes, const auto& spans) {
             return bytes.substr(0, spans[8].first) + "junk" + bytes.substr(spans[8].first);
         },
         9},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        const std::string path = dir / "h.history";
        WriteHistory(path, 10);
        const auto spans = RecordSpans(path);
        ASSERT_EQ(spans.size(), 10u);
        WriteFile(path, c.tamper(ReadFile(path), spans));
        EXPECT_EQ(Verified(path).brokenAt, c.brokenAt);
    }
}

TEST(HistoryChain, CutEndIsRemovedAndTheChainGoesOn) {
    TempDir dir;
    const std::string path = dir / "h.history";
    WriteHistory(path, 4);
    const std::string whole = ReadFile(path);
    WriteFile(path, whole + whole.substr(CHistoryFile::kHeaderSize, 30));  // a write cut short
    CHistoryFile::Contents contents = Verified(path);
    EXPECT_EQ(contents.records.size(), 4u);
    EXPECT_EQ(contents.tornBytes, 30u);
    EXPECT_EQ(contents.brokenAt, 0u);
    CHistoryFile file;
    std::string error;
    ASSERT_TRUE(file.Open(path, contents, error)) << error;
    ASSERT_TRUE(file.Append({Payload(5)}, error)) << error;
    contents = Verified(path);
    EXPECT_EQ(contents.records.size(), 5u);
    EXPECT_EQ(contents.tornBytes, 0u);
    EXPECT_EQ(contents.brokenAt, 0u);
}

TEST(HistoryEntryText, FeesAreParsedToFen) {
    const struct {
        const char* text;
        bool ok;
        int64_t fen;
    } cases[] = {{"12", true, 1200},   {"12.5", true, 1250}, {"12.50", true, 1250},
                 {"1.005", true, 101}, {"0.01", true, 1},    {"", false, 0},
                 {"5.", false, 0},     {".5", false, 0},     {"1.2.3", false, 0},
                 {"-5", false, 0},     {"一百", false, 0},   {"99999999999", false, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        int64_t fen = -1;
        EXPECT_EQ(ParseFee(c.text, fen), c.ok);
        if (c.ok) {
            EXPECT_EQ(fen, c.fen);
        }
    }
    EXPECT_EQ(FeeText(1250), "12.50");
    EXPECT_EQ(FeeText(-300), "-3.00");
    EXPECT_EQ(FeeText(7), "0.07");
}

TEST(HistoryEntryText, TimeIsShownAsTheDeskSawIt) {
    CHistoryEntryView view;
    view.time = 1765324800;  // 2025-12-10 00:00:00 UTC
    view.utcOffset = 8 * 3600;
    EXPECT_EQ(view.TimeText(), "2025-12-10 08:00:00");
    EXPECT_EQ(view.LocalDay(), 20251210);
    view.utcOffset = -3600;
    EXPECT_EQ(view.TimeText(), "2025-12-09 23:00:00");
    EXPECT_EQ(view.LocalDay(), 20251209);
}

// The records the store writes, read back.
std::vector<CHistoryEntry> HistoryOf(const std::string& registerPath) {
    CHistoryFile::Contents contents = Verified(registerPath + ".history");
    EXPECT_EQ(contents.brokenAt, 0u);
    std::vector<CHistoryEntry> entries;
    for (const CHistoryFile::Record& record : contents.records) {
        CHistoryEntry entry;
        EXPECT_TRUE(CHistoryEntry::Decode(record.payload, entry));
        entries.push_back(entry);
    }
    return entries;
}

std::unique_ptr<CCard> Card(const std::string& cardNo, const std::string& name, const char* paid) {
    auto card = MakeCard(cardNo, 7);
    card->m_strName = Utf8ToCodePage(name);
    card->m_strPaid = paid;
    return card;
}

TEST(StoreHistory, EachChangeLeavesItsRecords) {
    TempDir dir;
    const std::string path = dir / "cardbook.kcd";
    Restarted desk(path);
    ASSERT_TRUE(desk.opened) << desk.error;
    ASSERT_TRUE(desk.report.historyOpen) << desk.report.historyError;
    EXPECT_EQ(desk.report.historyBrokenAt, 0u);  // a history begun now
    desk.store.SetStamp([] { return HistoryStamp{1765324800, 8 * 3600, "front/op"}; });
    std::string error;
    const auto commit = [&](CCardChange change, CommitMode mode = CommitMode::Refusable) {
        EXPECT_EQ(desk.store.Commit(std::move(change), mode, error), CommitResult::Durable)
            << error;
    };

    struct Expected {
        CardOperation operation;
        const char* cardNo;
        const char* name;
        const char* content;  // a part of it
        int64_t fee;
    };
    {
        CCardChange change(CardOperation::Add, 7);
        change.Put("000001", Card("000001", "张三", "100"));
        commit(std::move(change));
    }
    {
        CCardChange change(CardOperation::Save, 7);
        auto card = Card("000001", "张三", "150");
        card->m_strPhone = "13800000000";
        change.Put("000001", std::move(card));
        commit(std::move(change));
    }
    {
        // Saved without a change: no record.
        CCardChange change(CardOperation::Save, 7);
        auto card = Card("000001", "张三", "150");
        card->m_strPhone = "13800000000";
        change.Put("000001", std::move(card));
        commit(std::move(change));
    }
    {
        CCardChange change(CardOperation::Extend, 7);
        auto card = Card("000001", "张三", "150");
        card->m_strPhone = "13800000000";
        card->m_strValidDate = "20271231";
        change.Put("000001", std::move(card));
        change.SetNote("缴费:80元");
        change.SetFee(8000);
        commit(std::move(change), CommitMode::DeviceDone);
    }
    {
        CCardChange change(CardOperation::Enrol, 9);
        change.SetNote("名单:住户.xlsx");
        change.Put("000002", Card("000002", "李四", "30"));
        change.Put("000003", Card("000003", "王五", ""));
        commit(std::move(change));
    }
    commit(RemoveCard("000002", 9));
    ASSERT_TRUE(desk.store.Record(static_cast<uint8_t>(HistoryOperation::Export),
                                  "文件:/tmp/a.kcd; 卡片2张", error))
        << error;

    const std::vector<Expected> expected = {
        {static_cast<CardOperation>(HistoryOperation::Begun), "", "", "登记中有0张卡片", 0},
        {CardOperation::Add, "000001", "张三", "卡号:000001; 卡类型:免费卡; 有效期:00000000",
         10000},
        {CardOperation::Save, "000001", "张三", "联系电话:(空)→13800000000; 缴费金额:100→150",
         5000},
        {CardOperation::Extend, "000001", "张三", "缴费:80元; 有效期:00000000→20271231", 8000},
        {CardOperation::Enrol, "000002", "李四", "名单:住户.xlsx; 编号:7", 3000},
        {CardOperation::Enrol, "000003", "王五", "名单:住户.xlsx; 编号:7", 0},
        {CardOperation::Delete, "000002", "李四", "姓名:李四", 0},
        {static_cast<CardOperation>(HistoryOperation::Export), "", "", "文件:/tmp/a.kcd", 0},
    };
    const std::vector<CHistoryEntry> entries = HistoryOf(path);
    ASSERT_EQ(entries.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE("record " + std::to_string(i + 1));
        EXPECT_EQ(entries[i].operation, static_cast<uint8_t>(expected[i].operation));
        EXPECT_EQ(entries[i].cardNo, expected[i].cardNo);
        EXPECT_EQ(entries[i].name, expected[i].name);
        EXPECT_NE(entries[i].content.find(expected[i].content), std::string::npos)
            << entries[i].content;
        EXPECT_EQ(entries[i].feeCents, expected[i].fee);
        if (i > 0) {
            EXPECT_EQ(entries[i].desk, "front/op");
            EXPECT_EQ(entries[i].time, 1765324800);
        }
    }
    // The batch's records name the batch's first record.
    EXPECT_EQ(entries[4].batch, 5u);
    EXPECT_EQ(entries[5].batch, 5u);
    EXPECT_EQ(entries[3].batch, 0u);
    // The password is never written, only that it changed.
    auto withPassword = Card("1", "a", "");
    withPassword->m_strPassword = "1234567890";
    EXPECT_EQ(CardDiffText(*Card("1", "a", ""), *withPassword), "密码:已更改");
}

TEST(StoreHistory, ImportIsRecordedAndTheHistoryOutlivesTheJournal) {
    TempDir dir;
    const std::string path = dir / "cardbook.kcd";
    {
        Restarted desk(path);
        std::string error;
        ASSERT_EQ(desk.store.Commit(PutCard("000001", "one", 1), CommitMode::Refusable, error),
                  CommitResult::Durable);
        CCardMap imported;
        imported.SetAt("000050", MakeCard("000050", 50));
        imported.SetAt("000051", MakeCard("000051", 51));
        ASSERT_TRUE(desk.store.ReplaceAll(std::move(imported), 51, error, "/media/old.kcd"))
            << error;
        ASSERT_TRUE(desk.store.WriteRegister(error)) << error;
    }
    Restarted again(path);
    EXPECT_EQ(again.report.historyRecords, 3u);
    EXPECT_EQ(again.report.historyRecovered, 0u);
    const std::vector<CHistoryEntry> entries = HistoryOf(path);
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[2].operation, static_cast<uint8_t>(HistoryOperation::Import));
    EXPECT_EQ(entries[2].content, "文件:/media/old.kcd; 卡片2张; 替换了1张");
}

TEST(StoreHistory, RecordsTheHistoryLackedAreMadeGoodFromTheJournal) {
    TempDir dir;
    const std::string path = dir / "cardbook.kcd";
    std::string journal;
    {
        Restarted desk(path);
        std::string error;
        ASSERT_EQ(desk.store.Commit(PutCard("000001", "one", 1), CommitMode::Refusable, error),
                  CommitResult::Durable);
        ASSERT_EQ(desk.store.Commit(PutCard("000002", "two", 2), CommitMode::Refusable, error),
                  CommitResult::Durable);
    }
    // As after a crash between the journal's write and the history's: the last record is
    // missing from the history, and half of it stands at its end.
    const std::string history = ReadFile(path + ".history");
    const auto spans = RecordSpans(path + ".history");
    ASSERT_EQ(spans.size(), 3u);
    WriteFile(path + ".history", history.substr(0, spans[2].first + 20));
    Restarted again(path);
    EXPECT_EQ(again.report.historyRecovered, 1u);
    const std::vector<CHistoryEntry> entries = HistoryOf(path);
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[2].cardNo, "000002");
    EXPECT_EQ(again.map.GetCount(), 2u);
    // Written again from the journal, byte for byte as the clean run wrote it.
    EXPECT_TRUE(SameBytes(ReadFile(path + ".history"), history));

    // A power cut can leave what was appended since the history's last flush with holes: the
    // records since then are the journal's, and are written again.
    std::string holed = history;
    std::fill(holed.begin() + static_cast<std::ptrdiff_t>(spans[1].first),
              holed.begin() + static_cast<std::ptrdiff_t>(spans[1].first + 40), '\0');
    WriteFile(path + ".history", holed);
    {
        Restarted third(path);
        EXPECT_EQ(third.report.historyBrokenAt, 0u);  // no change by hand: a write cut short
    }
    EXPECT_TRUE(SameBytes(ReadFile(path + ".history"), history));

    // A record changed by hand since the last flush is told, and the journal's own written
    // in its place.
    std::string changed = history;
    changed[spans[2].first + CHistoryFile::kRecordHeaderSize + 30] ^= 0x04;
    WriteFile(path + ".history", changed);
    {
        Restarted fourth(path);
        EXPECT_EQ(fourth.report.historyBrokenAt, 3u);
    }
    EXPECT_TRUE(SameBytes(ReadFile(path + ".history"), history));
}

}  // namespace
