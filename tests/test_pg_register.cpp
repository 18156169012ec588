// The server's register as a whole: an import replaces every card in one transaction (or
// changes nothing), a desk that saw a card before it cannot overwrite the imported card, cards
// travel through the binary COPY byte for byte, and a COPY stream that is not whole or not
// well-formed is refused.

#include <gtest/gtest.h>

#include <poll.h>

#include <cstring>
#include <functional>

#include "ScopedPostgres.h"
#include "StoreTestUtil.h"
#include "TestUtil.h"
#include "register/CardFields.h"
#include "server/PgCardStore.h"
#include "server/PgConnection.h"
#include "server/PgRegister.h"
#include "server/PgSchema.h"
#include "store/HistoryEntry.h"

namespace {

const HistoryStamp kStamp{1765324800, 8 * 3600, "front/op"};

// The server's register as a desk loads it, and what else the import touches.
struct Snapshot {
    std::string cards;
    std::unordered_map<std::string, int64_t> versions;
    uint32_t maxNumber = 0;
    std::string history;  // every record's payload
    bool operator==(const Snapshot&) const = default;
};

Snapshot Take(CPgConnection& connection) {
    Snapshot snapshot;
    CCardMap map;
    std::string error;
    EXPECT_TRUE(LoadPgRegister(connection, map, snapshot.maxNumber, snapshot.versions, error))
        << error;
    snapshot.cards = RegisterBytes(map);
    CPgResult history =
        connection.Exec("SELECT payload FROM orvane_history ORDER BY number", {}, {}, true);
    for (int row = 0; row < history.Rows(); ++row) {
        snapshot.history += std::string(history.Cell(row, 0)) + '\n';
    }
    return snapshot;
}

// A map of `count` cards numbered from `first`, each holder named after `holder`.
CCardMap Cards(int first, int count, const std::string& holder) {
    CCardMap map;
    for (int n = first; n < first + count; ++n) {
        auto card = MakeCard(CardNoText(n), n);
        card->m_strName = holder + std::to_string(n);
        map.SetAt(CardNoText(n), std::move(card));
    }
    return map;
}

// The map a desk has after loading the cards of `map` in its order (as the server keeps them).
std::string LoadedInOrder(const CCardMap& map) {
    CCardMap loaded;
    for (const CCardMap::CAssoc& entry : map) {
        loaded.SetAt(entry.key.view(), CopyOfCard(*entry.value));
    }
    return RegisterBytes(loaded);
}

class PgRegisterTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!server.ready()) {
            GTEST_SKIP() << server.why();
        }
        ASSERT_TRUE(connection.Connect(server.conninfo(), error)) << error;
        ASSERT_TRUE(UpgradePgSchema(connection, error)) << error;
    }
    ScopedPostgres server;
    CPgConnection connection;
    std::string error;
};

TEST_F(PgRegisterTest, AnImportReplacesEveryCardInTheMapsOrderAndIsOnRecord) {
    ASSERT_TRUE(PushPgRegister(connection, Cards(1, 50, "old"), 60, "", kStamp, error)) << error;
    CPgConnection listener;
    ASSERT_TRUE(listener.Connect(server.conninfo(), error) &&
                listener.Run("LISTEN orvane_cards", error))
        << error;

    const CCardMap imported = Cards(30, 40, "new");
    ASSERT_TRUE(
        ReplacePgRegister(connection, imported, 45, "/media/usb/cardbook.kcd", kStamp, error))
        << error;
    const Snapshot after = Take(connection);
    EXPECT_EQ(after.cards, LoadedInOrder(imported));
    EXPECT_EQ(after.maxNumber, 60u);  // the counter is never lowered
    const size_t lastRecord = after.history.rfind('\n', after.history.size() - 2);
    CHistoryEntry entry;
    ASSERT_TRUE(
        CHistoryEntry::Decode(std::string_view(after.history)
                                  .substr(lastRecord + 1, after.history.size() - lastRecord - 2),
                              entry));
    EXPECT_EQ(entry.operation, static_cast<uint8_t>(HistoryOperation::Import));
    EXPECT_EQ(entry.content, "文件:/media/usb/cardbook.kcd; 卡片40张; 替换了50张");
    EXPECT_EQ(entry.desk, "front/op");

    // Every desk is told to load the whole register again.
    pollfd fd{listener.Socket(), POLLIN, 0};
    ASSERT_EQ(::poll(&fd, 1, 10000), 1);
    EXPECT_EQ(listener.TakeNotifications(), std::vector<std::string>{"*"});

    ASSERT_TRUE(ReplacePgRegister(connection, Cards(1, 1, "x"), 1, "", kStamp, error)) << error;
    EXPECT_EQ(Take(connection).maxNumber, 60u);
    ASSERT_TRUE(ReplacePgRegister(connection, CCardMap(), 70, "", kStamp, error)) << error;
    EXPECT_EQ(Take(connection).cards, RegisterBytes(CCardMap()));
    EXPECT_EQ(Take(connection).maxNumber, 70u);
}

// A desk that saw a card before the import holds a row version that the imported card must
// never have again, even when the card was removed meanwhile and its version is no longer on
// the server.
TEST_F(PgRegisterTest, ADeskThatSawACardBeforeTheImportCannotOverwriteIt) {
    CCardMap frontMap;
    uint32_t frontMax = 0;
    CPgCardStore front(frontMap, frontMax);
    ASSERT_TRUE(front.Open(server.conninfo(), error)) << error;
    const auto commit = [this](CPgCardStore& store, CCardChange change) {
        return store.Commit(std::move(change), CommitMode::Refusable, error);
    };
    ASSERT_EQ(commit(front, PutCard("000001", "张三", 1)), CommitResult::Durable) << error;
    ASSERT_EQ(commit(front, PutCard("000002", "李四", 2)), CommitResult::Durable) << error;
    ASSERT_EQ(commit(front, PutCard("000002", "李四", 2, CardOperation::Save)),
              CommitResult::Durable)
        << error;

    CCardMap staleMap;
    uint32_t staleMax = 0;
    CPgCardStore stale(staleMap, staleMax);
    ASSERT_TRUE(stale.Open(server.conninfo(), error)) << error;
    const int64_t seen = stale.RowVersion("000002");
    ASSERT_EQ(commit(front, RemoveCard("000002", 2)), CommitResult::Durable) << error;

    ASSERT_TRUE(ReplacePgRegister(connection, Cards(1, 3, "导入"), 3, "", kStamp, error)) << error;
    const Snapshot imported = Take(connection);
    for (const auto& [key, version] : imported.versions) {
        EXPECT_GT(version, seen) << key;
    }
    // The stale desk has not heard of the import: its saves do not go through.
    EXPECT_NE(commit(stale, PutCard("000001", "王五", 1, CardOperation::Save)),
              CommitResult::Durable);
    EXPECT_NE(commit(stale, RemoveCard("000002", 2)), CommitResult::Durable);
    EXPECT_EQ(Take(connection).cards, imported.cards);
}

// Whatever fails inside the import, the server's register, counter and history stay as they
// were.
TEST_F(PgRegisterTest, AnImportThatFailsChangesNothing) {
    const struct {
        const char* what;
        const char* setUp;  // makes a statement of the import fail
        const char* cleanUp;
    } kCases[] = {
        {"a card in the middle refused",
         "ALTER TABLE orvane_cards ADD CONSTRAINT no_refused CHECK (name <> '\\x726566'::bytea)",
         "ALTER TABLE orvane_cards DROP CONSTRAINT no_refused"},
        {"the history record refused",
         "CREATE FUNCTION refuse() RETURNS trigger LANGUAGE plpgsql AS "
         "$$BEGIN RAISE EXCEPTION 'refused'; END$$;"
         "CREATE TRIGGER refuse BEFORE INSERT ON orvane_history EXECUTE FUNCTION refuse()",
         "DROP TRIGGER refuse ON orvane_history; DROP FUNCTION refuse()"},
        {"the counter refused",
         "ALTER TABLE orvane_installation ADD CONSTRAINT low CHECK (max_number < 100)",
         "ALTER TABLE orvane_installation DROP CONSTRAINT low"},
    };
    ASSERT_TRUE(PushPgRegister(connection, Cards(1, 20, "old"), 20, "", kStamp, error)) << error;
    CCardMap imported = Cards(500, 3000, "new");
    imported.SetAt("001700", MakeCard("001700", 1700));
    imported.Lookup("001700")->m_strName = "ref";
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        const Snapshot before = Take(connection);
        ASSERT_TRUE(connection.Run(c.setUp, error)) << error;
        EXPECT_FALSE(ReplacePgRegister(connection, imported, 3600, "", kStamp, error));
        EXPECT_FALSE(error.empty());
        EXPECT_TRUE(Take(connection) == before);
        ASSERT_TRUE(connection.Run(c.cleanUp, error)) << error;
    }
    // A push into a register that holds cards is refused the same way.
    const Snapshot before = Take(connection);
    EXPECT_FALSE(PushPgRegister(connection, imported, 3600, "", kStamp, error));
    EXPECT_EQ(error, "服务器上的卡片登记已有20张卡片,只能载入到没有卡片的登记中");
    EXPECT_TRUE(Take(connection) == before);
    // With the cause gone, the same import goes through.
    ASSERT_TRUE(ReplacePgRegister(connection, imported, 3600, "", kStamp, error)) << error;
    EXPECT_EQ(Take(connection).cards, LoadedInOrder(imported));
}

// The change lock: while another desk's change holds it the import waits (here until the lock
// time-out, and then changes nothing).
TEST_F(PgRegisterTest, AnImportTakesItsTurnWithTheDesksChanges) {
    CPgConnection desk;
    ASSERT_TRUE(desk.Connect(server.conninfo(), error)) << error;
    ASSERT_TRUE(desk.Run("BEGIN", error) &&
                desk.Run("SELECT pg_advisory_xact_lock(7240194)", error))
        << error;
    ASSERT_TRUE(connection.Run("SET lock_timeout = '100ms'", error)) << error;
    const Snapshot before = Take(connection);
    EXPECT_FALSE(ReplacePgRegister(connection, Cards(1, 5, "new"), 5, "", kStamp, error));
    EXPECT_TRUE(Take(connection) == before);
    ASSERT_TRUE(desk.Run("COMMIT", error)) << error;
    EXPECT_TRUE(ReplacePgRegister(connection, Cards(1, 5, "new"), 5, "", kStamp, error)) << error;
}

TEST_F(PgRegisterTest, EveryByteOfEveryTextComesBackAsItWent) {
    CCardMap map;
    for (int n = 1; n <= 300; ++n) {
        auto card = std::make_unique<CCard>();
        int offset = n;
        // Each text a run of byte values from its own start, through 0 and 255; some empty.
        CCard::VisitFields(*card, [&](const char*, auto& field) {
            using Field = std::decay_t<decltype(field)>;
            if constexpr (std::is_same_v<Field, CCardText>) {
                std::string bytes;
                for (int i = 0; i < (offset * 7) % 300; ++i) {
                    bytes += static_cast<char>((offset + i) % 256);
                }
                field = bytes;
            } else {
                field = static_cast<Field>(offset * 37);
            }
            ++offset;
        });
        card->m_nNumber = n % 2 == 0 ? -n : n * 1000;
        std::string key = CardNoText(n);
        key[0] = static_cast<char>(0x80 + n % 128);  // keys that are no card number as well
        map.SetAt(key, std::move(card));
    }
    ASSERT_TRUE(PushPgRegister(connection, map, 999999, "", kStamp, error)) << error;
    CCardMap loaded;
    loaded.SetAt("999999", MakeCard("999999"));  // replaced by the load
    uint32_t maxNumber = 0;
    std::unordered_map<std::string, int64_t> versions;
    ASSERT_TRUE(LoadPgRegister(connection, loaded, maxNumber, versions, error)) << error;
    EXPECT_EQ(RegisterBytes(loaded), LoadedInOrder(map));
    EXPECT_EQ(maxNumber, 999999u);
    EXPECT_EQ(versions.size(), 300u);
    for (const CCardMap::CAssoc& entry : map) {
        const CCard* card = loaded.Lookup(entry.key.view());
        ASSERT_NE(card, nullptr);
        EXPECT_EQ(card->m_strRemark.view(), entry.value->m_strRemark.view());
        EXPECT_EQ(card->m_strRemark.c_str()[card->m_strRemark.size()], '\0');
    }
}

// `value` as `size` big-endian bytes.
std::string Be(uint64_t value, int size) {
    std::string bytes;
    for (int shift = 8 * (size - 1); shift >= 0; shift -= 8) {
        bytes += static_cast<char>((value >> shift) & 0xFF);
    }
    return bytes;
}

// A binary COPY row of a card: its key, row version, then the 19 fields (integers in their
// columns' widths: 4, 2, 2 and 2 bytes).
std::string CopyRow(const std::string& key) {
    std::string row = Be(21, 2);
    const auto field = [&row](std::string_view bytes) {
        row += Be(bytes.size(), 4) + std::string(bytes);
    };
    field(key);
    field(Be(7, 8));
    field(Be(7, 4));
    field(Be(1, 2));
    for (int i = 0; i < 17; ++i) {
        field(i == 1 || i == 13 ? Be(1, 2) : key);  // card_type and sex among the texts
    }
    return row;
}

bool Read(const std::string& stream, CCardMap& map, std::string& error) {
    std::unordered_map<std::string, int64_t> versions;
    CBulkMemory bytes(std::max<size_t>(stream.size(), 1));
    std::memcpy(bytes.data(), stream.data(), stream.size());
    const bool read = ReadPgCardCopy(std::move(bytes), stream.size(), map, versions, error);
    EXPECT_EQ(read ? map.GetCount() : 0u, versions.size());
    return read;
}

TEST(PgCardCopy, AStreamThatIsNotWholeOrNotWellFormedIsRefused) {
    const std::string row = CopyRow("000001");
    const auto header = [](uint32_t flags, uint32_t extension) {
        return std::string("PGCOPY\n\377\r\n\0", 11) + Be(flags, 4) + Be(extension, 4);
    };
    const std::string end("\xFF\xFF", 2);
    // The row with the 4 bytes at `at` (a field's length) set to `length`.
    const auto withLength = [&row](size_t at, uint32_t length) {
        return std::string(row).replace(at, 4, Be(length, 4));
    };
    const size_t versionAt = 2 + 4 + 6;  // after the count and the key
    const struct {
        const char* what;
        std::string stream;
    } kCases[] = {
        {"nothing", ""},
        {"another signature", "PGCOPY\n\377\r\n\1" + header(0, 0).substr(11) + end},
        {"flags set", header(0x10000, 0) + row + end},
        {"an extension past the end", header(0, 100) + row + end},
        {"no end", header(0, 0) + row},
        {"half an end", header(0, 0) + row + "\xFF"},
        {"bytes after the end", header(0, 0) + row + end + "x"},
        {"20 columns", header(0, 0) + Be(20, 2) + row.substr(2) + end},
        {"a NULL", header(0, 0) + withLength(2, 0xFFFFFFFF) + end},
        {"a length past the end", header(0, 0) + withLength(2, 0x7FFFFFF0) + end},
        {"a version of 4 bytes", header(0, 0) + withLength(versionAt, 4) + end},
    };
    for (const auto& c : kCases) {
        CCardMap map;
        std::string error;
        EXPECT_FALSE(Read(c.stream, map, error)) << c.what;
        EXPECT_FALSE(error.empty()) << c.what;
        EXPECT_EQ(map.GetCount(), 0u) << c.what;
    }
    // Cut anywhere, or with any one byte changed, a stream is refused or read whole; never
    // read past its end (the sanitizers watch).
    const std::string whole = header(0, 4) + "abcd" + row + CopyRow("000002") + end;
    CCardMap map;
    std::string error;
    ASSERT_TRUE(Read(whole, map, error)) << error;
    ASSERT_NE(map.Lookup("000002"), nullptr);
    EXPECT_EQ(map.Lookup("000002")->m_nCardType, 1);
    EXPECT_EQ(map.Lookup("000002")->m_strYearFee.view(), "000002");
    for (size_t size = 0; size < whole.size(); ++size) {
        CCardMap map;
        std::string error;
        EXPECT_FALSE(Read(whole.substr(0, size), map, error)) << size;
    }
    for (size_t at = 0; at < whole.size(); ++at) {
        for (const char value : {'\0', '\x01', '\x7F', '\x80', '\xFF'}) {
            std::string changed = whole;
            changed[at] = value;
            CCardMap map;
            std::string error;
            if (Read(changed, map, error)) {
                EXPECT_TRUE(map.GetCount() == 1 || map.GetCount() == 2) << at;
            }
        }
    }
}

}  // namespace
