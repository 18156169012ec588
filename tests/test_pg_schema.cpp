// The register's tables on a real PostgreSQL server: created from nothing, left alone when
// current, created once when two desks start at once, refused when newer than the program.

#include <gtest/gtest.h>

#include <thread>

#include "ScopedPostgres.h"
#include "server/PgConnection.h"
#include "server/PgSchema.h"

namespace {

class PgSchemaTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!server.ready()) {
            GTEST_SKIP() << server.why();
        }
        std::string error;
        ASSERT_TRUE(desk.Connect(server.conninfo(), error)) << error;
    }

    // The names of the server's tables, sorted.
    std::string Tables() {
        CPgResult result = desk.Exec(
            "SELECT string_agg(tablename, ',' ORDER BY tablename) FROM pg_tables "
            "WHERE schemaname = 'public'");
        EXPECT_TRUE(result.Ok()) << result.Error();
        return std::string(result.Cell(0, 0));
    }

    ScopedPostgres server;
    CPgConnection desk;
};

TEST_F(PgSchemaTest, CreatedFromNothingAndLeftAloneWhenCurrent) {
    std::string error;
    EXPECT_EQ(PgSchemaVersion(desk, error), 0) << error;
    ASSERT_TRUE(UpgradePgSchema(desk, error)) << error;
    EXPECT_EQ(PgSchemaVersion(desk, error), kPgSchemaVersion) << error;
    EXPECT_EQ(Tables(),
              "orvane_cards,orvane_delivered,orvane_history,orvane_installation,orvane_schema");
    CPgResult installation =
        desk.Exec("SELECT system_password, max_number FROM orvane_installation");
    ASSERT_EQ(installation.Rows(), 1);
    EXPECT_EQ(installation.Cell(0, 0), "");
    EXPECT_EQ(installation.Cell(0, 1), "0");

    // Current: nothing changes, the installation keeps its values.
    ASSERT_TRUE(desk.Exec("UPDATE orvane_installation SET max_number = 42").Ok());
    ASSERT_TRUE(UpgradePgSchema(desk, error)) << error;
    EXPECT_EQ(desk.Exec("SELECT max_number FROM orvane_installation").Cell(0, 0), "42");
    EXPECT_EQ(desk.Exec("SELECT count(*) FROM orvane_schema").Cell(0, 0), "1");
}

// A register made by the previous version, in use, is brought up to date with its cards,
// history and counter as they were.
TEST_F(PgSchemaTest, APreviousVersionIsUpgradedWithItsContentsKept) {
    std::string error;
    ASSERT_TRUE(UpgradePgSchema(desk, error, kPgSchemaVersion - 1)) << error;
    EXPECT_EQ(PgSchemaVersion(desk, error), kPgSchemaVersion - 1);
    EXPECT_EQ(Tables(), "orvane_cards,orvane_history,orvane_installation,orvane_schema");
    ASSERT_TRUE(
        desk.Run("INSERT INTO orvane_history VALUES (1, 'x', 'h');"
                 "UPDATE orvane_installation SET max_number = 7, system_password = 'pw'",
                 error))
        << error;

    ASSERT_TRUE(UpgradePgSchema(desk, error)) << error;
    EXPECT_EQ(PgSchemaVersion(desk, error), kPgSchemaVersion);
    EXPECT_EQ(Tables(),
              "orvane_cards,orvane_delivered,orvane_history,orvane_installation,orvane_schema");
    EXPECT_EQ(desk.Exec("SELECT count(*) FROM orvane_history").Cell(0, 0), "1");
    CPgResult installation =
        desk.Exec("SELECT max_number, system_password FROM orvane_installation");
    EXPECT_EQ(installation.Cell(0, 0), "7");
    EXPECT_EQ(installation.Cell(0, 1), "pw");
    EXPECT_EQ(desk.Exec("SELECT count(*) FROM orvane_schema").Cell(0, 0), "1");
}

TEST_F(PgSchemaTest, TwoDesksStartingAtOnceCreateItOnce) {
    std::string errors[4];
    bool upgraded[4] = {};
    std::vector<std::thread> desks;
    for (int i = 0; i < 4; ++i) {
        desks.emplace_back([&, i] {
            CPgConnection connection;
            upgraded[i] = connection.Connect(server.conninfo(), errors[i]) &&
                          UpgradePgSchema(connection, errors[i]);
        });
    }
    for (std::thread& t : desks) {
        t.join();
    }
    for (int i = 0; i < 4; ++i) {
        EXPECT_TRUE(upgraded[i]) << errors[i];
    }
    EXPECT_EQ(desk.Exec("SELECT count(*) FROM orvane_installation").Cell(0, 0), "1");
    EXPECT_EQ(desk.Exec("SELECT version FROM orvane_schema").Cell(0, 0),
              std::to_string(kPgSchemaVersion));
}

TEST_F(PgSchemaTest, NewerRegisterIsRefusedAndLeftAsItIs) {
    std::string error;
    ASSERT_TRUE(UpgradePgSchema(desk, error)) << error;
    ASSERT_TRUE(desk.Exec("UPDATE orvane_schema SET version = 99").Ok());
    EXPECT_FALSE(UpgradePgSchema(desk, error));
    EXPECT_NE(error.find("服务器上的卡片登记是更新的版本(99)"), std::string::npos) << error;
    EXPECT_EQ(PgSchemaVersion(desk, error), 99);
}

TEST_F(PgSchemaTest, ParametersTravelApartFromTheStatement) {
    std::string error;
    ASSERT_TRUE(UpgradePgSchema(desk, error)) << error;
    // A password that would end the statement if it were spliced into it.
    const std::string hostile = "1'; DROP TABLE orvane_cards; --";
    ASSERT_TRUE(desk.Exec("UPDATE orvane_installation SET system_password = $1", {hostile}).Ok());
    EXPECT_EQ(desk.Exec("SELECT system_password FROM orvane_installation").Cell(0, 0), hostile);
    EXPECT_EQ(Tables(),
              "orvane_cards,orvane_delivered,orvane_history,orvane_installation,orvane_schema");
    // Register bytes (GB18030, a NUL among them) as bytea, back byte for byte.
    const std::string bytes("\xD5\xC5\x00\xC8\xFD", 5);
    CPgResult echoed = desk.Exec("SELECT $1::bytea", {bytes}, {true}, true);
    ASSERT_TRUE(echoed.Ok()) << echoed.Error();
    EXPECT_EQ(echoed.Cell(0, 0), bytes);
}

TEST(PgConnection, AServerThatIsNotThereIsSaidSo) {
    TempDir empty;
    CPgConnection desk;
    std::string error;
    EXPECT_FALSE(desk.Connect("host=" + empty.path() + " dbname=postgres user=orvane", error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(desk.IsOpen());
    EXPECT_FALSE(desk.Exec("SELECT 1").Ok());
}

}  // namespace
