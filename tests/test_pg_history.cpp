// The server's history copied into a history file: whole the first time, only the new records
// afterwards, afresh when the file is not this server's, and a record changed on the server
// found where it is.

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <functional>

#include "ScopedPostgres.h"
#include "TestUtil.h"
#include "server/PgConnection.h"
#include "server/PgHistoryCopy.h"
#include "server/PgSchema.h"
#include "store/CardHistory.h"
#include "store/HistoryEntry.h"
#include "store/HistoryFile.h"

namespace {

std::string Payload(uint64_t number, const std::string& tag) {
    return EventPayload(HistoryOperation::Export, HistoryStamp{1765324800, 8 * 3600, "front/op"},
                        "文件:" + tag + std::to_string(number) + ".kcd");
}

struct FileState {
    ino_t inode = 0;
    off_t size = 0;
};

FileState StateOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return {st.st_ino, st.st_size};
}

class PgHistoryTest : public ::testing::Test {
public:
    void SetUp() override {
        if (!server.ready()) {
            GTEST_SKIP() << server.why();
        }
        ASSERT_TRUE(connection.Connect(server.conninfo(), error)) << error;
        ASSERT_TRUE(UpgradePgSchema(connection, error)) << error;
    }

    // Appends `count` records chained as the desks chain them, their contents named by `tag`.
    void AddRecords(uint64_t count, const std::string& tag) {
        CPgResult last = connection.Exec(
            "SELECT number, hash FROM orvane_history ORDER BY number DESC LIMIT 1", {}, {}, true);
        ASSERT_TRUE(last.Ok()) << last.Error();
        CHistoryFile::Hash previous{};
        uint64_t number = 1;
        if (last.Rows() == 1) {
            number = std::stoull(std::string(
                         connection.Exec("SELECT max(number) FROM orvane_history").Cell(0, 0))) +
                     1;
            std::memcpy(previous.data(), last.Cell(0, 1).data(), previous.size());
        }
        ASSERT_TRUE(connection.Run("BEGIN", error)) << error;
        for (uint64_t i = 0; i < count; ++i, ++number) {
            const std::string payload = Payload(number, tag);
            CHistoryFile::EncodeRecords({payload}, number, previous, previous);
            CPgResult inserted = connection.Exec(
                "INSERT INTO orvane_history (number, payload, hash) VALUES ($1, $2, $3)",
                {std::to_string(number), payload,
                 std::string(reinterpret_cast<const char*>(previous.data()), previous.size())},
                {false, true, true});
            ASSERT_TRUE(inserted.Ok()) << inserted.Error();
        }
        ASSERT_TRUE(connection.Run("COMMIT", error)) << error;
    }

    // The file's payloads, after checking that it is a whole history file numbered 1..n.
    std::vector<std::string> FilePayloads(const std::string& path) {
        CHistoryFile::Contents contents;
        std::vector<std::string> payloads;
        EXPECT_TRUE(CHistoryFile::Read(path, contents, error)) << error;
        CHistoryFile::Verify(contents);
        EXPECT_TRUE(contents.headerValid);
        EXPECT_EQ(contents.brokenAt, 0u);
        EXPECT_EQ(contents.tornBytes, 0u);
        for (const CHistoryFile::Record record : contents.records) {
            EXPECT_EQ(record.number, payloads.size() + 1);
            payloads.emplace_back(record.payload);
        }
        return payloads;
    }

    std::vector<std::string> ServerPayloads() {
        CPgResult rows =
            connection.Exec("SELECT payload FROM orvane_history ORDER BY number", {}, {}, true);
        std::vector<std::string> payloads;
        for (int row = 0; row < rows.Rows(); ++row) {
            payloads.emplace_back(rows.Cell(row, 0));
        }
        return payloads;
    }

    ScopedPostgres server;
    CPgConnection connection;
    std::string error;
    TempDir dir;
};

TEST_F(PgHistoryTest, TheFirstCopyTakesEveryRecordAndTheNextOnlyTheNewOnes) {
    const std::string path = dir / "history";
    uint64_t brokenAt = 99;
    // No history yet: an empty file the windows can open.
    ASSERT_TRUE(CopyPgHistory(connection, path, brokenAt, error)) << error;
    EXPECT_EQ(brokenAt, 0u);
    EXPECT_TRUE(FilePayloads(path).empty());

    AddRecords(25000, "a");
    ASSERT_TRUE(CopyPgHistory(connection, path, brokenAt, error)) << error;
    EXPECT_EQ(brokenAt, 0u);
    EXPECT_EQ(FilePayloads(path), ServerPayloads());
    CHistoryEntry entry;
    ASSERT_TRUE(CHistoryEntry::Decode(FilePayloads(path)[24999], entry));
    EXPECT_EQ(entry.content, "文件:a25000.kcd");

    const FileState first = StateOf(path);
    const std::string before = ReadFile(path);
    AddRecords(700, "b");
    ASSERT_TRUE(CopyPgHistory(connection, path, brokenAt, error)) << error;
    EXPECT_EQ(brokenAt, 0u);
    const FileState second = StateOf(path);
    EXPECT_EQ(second.inode, first.inode);
    EXPECT_GT(second.size, first.size);
    EXPECT_EQ(ReadFile(path).substr(0, before.size()), before);  // appended, not rewritten
    EXPECT_EQ(FilePayloads(path), ServerPayloads());

    // Nothing new: nothing written.
    ASSERT_TRUE(CopyPgHistory(connection, path, brokenAt, error)) << error;
    EXPECT_EQ(StateOf(path).size, second.size);
    EXPECT_EQ(StateOf(path).inode, first.inode);

    uint64_t count = 0;
    ASSERT_TRUE(VerifyPgHistory(connection, brokenAt, count, error)) << error;
    EXPECT_EQ(brokenAt, 0u);
    EXPECT_EQ(count, 25700u);
}

// A file that is not a copy of this server's history is replaced by a new copy.
TEST_F(PgHistoryTest, AFileThatIsNotThisServersHistoryStartsAfresh) {
    const struct {
        const char* what;
        std::function<void(PgHistoryTest&, const std::string&)> change;
    } kCases[] = {
        {"another server, as many records",
         [](PgHistoryTest& t, const std::string&) {
             ASSERT_TRUE(t.connection.Run("TRUNCATE orvane_history", t.error));
             t.AddRecords(3000, "other");
         }},
        {"another server, the same last record",
         [](PgHistoryTest& t, const std::string&) {
             const std::string last = t.ServerPayloads().back();
             ASSERT_TRUE(t.connection.Run("TRUNCATE orvane_history", t.error));
             t.AddRecords(2999, "other");
             // Its record 3000 has the same content, after other records.
             CHistoryFile::Hash previous{};
             CPgResult hash = t.connection.Exec(
                 "SELECT hash FROM orvane_history WHERE number = 2999", {}, {}, true);
             std::memcpy(previous.data(), hash.Cell(0, 0).data(), previous.size());
             CHistoryFile::EncodeRecords({last}, 3000, previous, previous);
             ASSERT_TRUE(
                 t.connection
                     .Exec("INSERT INTO orvane_history VALUES (3000, $1, $2)",
                           {last, std::string(reinterpret_cast<const char*>(previous.data()),
                                              previous.size())},
                           {true, true})
                     .Ok());
         }},
        {"another server, fewer records",
         [](PgHistoryTest& t, const std::string&) {
             ASSERT_TRUE(t.connection.Run("DELETE FROM orvane_history WHERE number > 10", t.error));
         }},
        {"the file changed",
         [](PgHistoryTest&, const std::string& path) {
             std::string bytes = ReadFile(path);
             bytes[bytes.size() / 2] ^= 1;
             WriteFile(path, bytes);
         }},
        {"no history file", [](PgHistoryTest&, const std::string& path) { WriteFile(path, "x"); }},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(connection.Run("TRUNCATE orvane_history", error)) << error;
        AddRecords(3000, "a");
        const std::string path = dir / "history";
        ::unlink(path.c_str());
        uint64_t brokenAt = 0;
        ASSERT_TRUE(CopyPgHistory(connection, path, brokenAt, error)) << error;
        c.change(*this, path);
        const FileState before = StateOf(path);
        ASSERT_TRUE(CopyPgHistory(connection, path, brokenAt, error)) << error;
        EXPECT_EQ(brokenAt, 0u);
        EXPECT_NE(StateOf(path).inode, before.inode);
        EXPECT_EQ(FilePayloads(path), ServerPayloads());
    }
    EXPECT_EQ(ListDir(dir.path()), std::vector<std::string>{"history"});  // no file left over
}

// A record changed or removed on the server is found at its number, by the copy and by the
// check of the whole chain; the file keeps the numbers the server has.
TEST_F(PgHistoryTest, ARecordChangedOnTheServerIsFoundWhereItIs) {
    const struct {
        const char* what;
        const char* statement;
        uint64_t brokenAt;
        size_t copied;  // records the file holds after the copy
        uint64_t count;
    } kCases[] = {
        {"a payload changed", "UPDATE orvane_history SET payload = '\\x00' WHERE number = 1234",
         1234, 2000, 2000},
        {"a hash changed", "UPDATE orvane_history SET hash = sha256(hash) WHERE number = 1", 1,
         2000, 2000},
        {"the last payload changed",
         "UPDATE orvane_history SET payload = payload || '\\x00' WHERE number = 2000", 2000, 2000,
         2000},
        {"a record removed", "DELETE FROM orvane_history WHERE number = 1500", 1500, 1499, 1999},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(connection.Run("TRUNCATE orvane_history", error)) << error;
        AddRecords(2000, "a");
        ASSERT_TRUE(connection.Run(c.statement, error)) << error;
        const std::string path = dir / "history";
        ::unlink(path.c_str());
        uint64_t brokenAt = 0;
        ASSERT_TRUE(CopyPgHistory(connection, path, brokenAt, error)) << error;
        EXPECT_EQ(brokenAt, c.brokenAt);
        const std::vector<std::string> payloads = FilePayloads(path);
        EXPECT_EQ(payloads.size(), c.copied);
        std::vector<std::string> server = ServerPayloads();
        server.resize(c.copied);
        EXPECT_EQ(payloads, server);
        uint64_t count = 0;
        ASSERT_TRUE(VerifyPgHistory(connection, brokenAt, count, error)) << error;
        EXPECT_EQ(brokenAt, c.brokenAt);
        EXPECT_EQ(count, c.count);
    }
    // Changed after it was copied: the copy that follows starts afresh and tells.
    ASSERT_TRUE(connection.Run("TRUNCATE orvane_history", error)) << error;
    AddRecords(100, "a");
    const std::string path = dir / "history";
    uint64_t brokenAt = 0;
    ASSERT_TRUE(CopyPgHistory(connection, path, brokenAt, error)) << error;
    ASSERT_TRUE(
        connection.Run("UPDATE orvane_history SET payload = '\\x01' WHERE number = 100", error))
        << error;
    ASSERT_TRUE(CopyPgHistory(connection, path, brokenAt, error)) << error;
    EXPECT_EQ(brokenAt, 100u);
    EXPECT_EQ(FilePayloads(path), ServerPayloads());
}

TEST_F(PgHistoryTest, WithoutTheServerTheFileStaysAsItWas) {
    AddRecords(50, "a");
    const std::string path = dir / "history";
    uint64_t brokenAt = 0;
    ASSERT_TRUE(CopyPgHistory(connection, path, brokenAt, error)) << error;
    const std::string before = ReadFile(path);
    AddRecords(50, "b");
    CPgConnection closed;
    EXPECT_FALSE(CopyPgHistory(closed, path, brokenAt, error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(ReadFile(path), before);
    WriteFile(path, "not a history file");
    EXPECT_FALSE(CopyPgHistory(closed, path, brokenAt, error));
    EXPECT_EQ(ReadFile(path), "not a history file");
    EXPECT_EQ(ListDir(dir.path()), std::vector<std::string>{"history"});
}

}  // namespace
