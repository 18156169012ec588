// libpq connection strings as the program stores and shows them: checked by libpq's parser,
// stored without the password, given a password for connecting, summed up for the operator;
// and a server that asks for a password, told apart from one that refuses it.

#include <gtest/gtest.h>

#include <fstream>
#include <map>

#include "ScopedPostgres.h"
#include "server/PgConnection.h"
#include "server/PgConninfo.h"

namespace {

using Values = std::map<std::string, std::string>;

// What libpq reads from `conninfo`, keyword by keyword (the test fails when it does not parse).
Values Parsed(const std::string& conninfo) {
    std::vector<std::pair<std::string, std::string>> values;
    std::string error;
    EXPECT_TRUE(ParsePgConninfo(conninfo, values, error)) << conninfo << ": " << error;
    return Values(values.begin(), values.end());
}

TEST(PgConninfo, CheckUsesLibpqsOwnWords) {
    const struct {
        const char* conninfo;
        bool ok;
        const char* error;  // a part of libpq's message
    } cases[] = {
        {"host=/tmp/x dbname=postgres user=orvane", true, ""},
        {"postgresql://orvane:pw@db.example:5433/register?sslmode=require", true, ""},
        {"host=a colour=blue", false, "colour"},
        {"host='unterminated", false, "quoted"},
        {"postgresql://[::1", false, "IPv6"},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_EQ(CheckPgConninfo(c.conninfo, error), c.ok) << c.conninfo;
        EXPECT_NE(error.find(c.error), std::string::npos) << c.conninfo << ": " << error;
        if (!c.ok) {
            EXPECT_NE(error.back(), '\n');
        }
    }
}

TEST(PgConninfo, WithoutPasswordKeepsEverythingElse) {
    const struct {
        std::string conninfo;
        std::string expected;
    } cases[] = {
        {"user=orvane password=secret dbname=postgres host=/tmp/x",
         "host=/tmp/x dbname=postgres user=orvane"},
        {"host=/tmp/x port=5432 dbname=postgres user=orvane",
         "host=/tmp/x port=5432 dbname=postgres user=orvane"},
        {"postgresql://orvane:pw@db.example/register",
         "host=db.example dbname=register user=orvane"},
        {"postgresql://orvane:p%40w@h1:5432,h2:5433/reg?application_name=%E5%89%8D%E5%8F%B0%201",
         "host=h1,h2 port=5432,5433 dbname=reg user=orvane application_name='前台 1'"},
        {"host = a  password = 'x y'  application_name = 'it\\'s \\\\ here'",
         "host=a application_name='it\\'s \\\\ here'"},
        {"password=only", ""},
        {"host=a options=''", "host=a options=''"},
        {"host=a password=", "host=a"},
        {"host=a colour=blue password=x", ""},
    };
    for (const auto& c : cases) {
        const std::string stripped = PgConninfoWithoutPassword(c.conninfo);
        EXPECT_EQ(stripped, c.expected) << c.conninfo;
        if (c.expected.empty() && c.conninfo.find("colour") != std::string::npos) {
            continue;  // does not parse
        }
        Values expected = Parsed(c.conninfo);
        expected.erase("password");
        EXPECT_EQ(Parsed(stripped), expected) << c.conninfo;
    }
}

TEST(PgConninfo, WithPasswordQuotesItForLibpq) {
    const std::string passwords[] = {"secret", "p w", "it's",   "back\\slash",
                                     "\\'",    "",    "=;#'\"", "密码 1"};
    const std::string conninfos[] = {"host=/tmp/x dbname=postgres user=orvane",
                                     "host=a password=old", "postgresql://u:old@h/db"};
    for (const std::string& conninfo : conninfos) {
        for (const std::string& password : passwords) {
            const std::string with = PgConninfoWithPassword(conninfo, password);
            Values expected = Parsed(conninfo);
            expected["password"] = password;
            EXPECT_EQ(Parsed(with), expected) << with;
            Values without = Parsed(PgConninfoWithoutPassword(with));
            expected.erase("password");
            EXPECT_EQ(without, expected) << with;
        }
    }
    EXPECT_EQ(PgConninfoWithPassword("host=a", "x y"), "host=a password='x y'");
    // Not parsed: left for connecting to report why.
    EXPECT_EQ(PgConninfoWithPassword("host='a", "pw"), "host='a");
}

TEST(PgConninfo, SummaryNamesWhereItLeads) {
    const std::pair<const char*, const char*> cases[] = {
        {"user=orvane dbname=postgres host=/tmp/x password=pw sslmode=disable",
         "host=/tmp/x dbname=postgres user=orvane"},
        {"postgresql://orvane:pw@db.example:5433/register?connect_timeout=5",
         "host=db.example port=5433 dbname=register user=orvane"},
        {"host='/tmp/with space'", "host='/tmp/with space'"},
        {"", ""},
        {"host=a colour=blue", ""},
    };
    for (const auto& [conninfo, summary] : cases) {
        EXPECT_EQ(PgConninfoSummary(conninfo), summary) << conninfo;
    }
}

// A role that logs in with a password only; `server` trusts everyone else.
class PgPasswordTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!server.ready()) {
            GTEST_SKIP() << server.why();
        }
        std::string error;
        CPgConnection admin;
        ASSERT_TRUE(admin.Connect(server.conninfo(), error)) << error;
        ASSERT_TRUE(admin.Run("CREATE ROLE desk LOGIN PASSWORD 'p w''s \\x'", error)) << error;
        // The server's folder is the socket's: host=DIR.
        const std::string dir = Parsed(server.conninfo())["host"];
        const std::string hba = dir + "/data/pg_hba.conf";
        std::ifstream in(hba);
        const std::string rest((std::istreambuf_iterator<char>(in)), {});
        std::ofstream(hba) << "local all desk scram-sha-256\n" << rest;
        ASSERT_TRUE(admin.Run("SELECT pg_reload_conf()", error)) << error;
        // No password file of the machine's takes part.
        deskConninfo = "host=" + dir + " dbname=postgres user=desk passfile=" + dir + "/none";
    }

    ScopedPostgres server;
    std::string deskConninfo;
};

TEST_F(PgPasswordTest, AMissingPasswordIsToldApartFromAWrongOne) {
    CPgConnection desk;
    std::string error;
    EXPECT_FALSE(desk.Connect(deskConninfo, error));
    EXPECT_TRUE(desk.NeedsPassword()) << error;

    EXPECT_FALSE(desk.Connect(PgConninfoWithPassword(deskConninfo, "wrong"), error));
    EXPECT_FALSE(desk.NeedsPassword()) << error;

    ASSERT_TRUE(desk.Connect(PgConninfoWithPassword(deskConninfo, "p w's \\x"), error)) << error;
    EXPECT_FALSE(desk.NeedsPassword());
    EXPECT_EQ(desk.Exec("SELECT current_user").Cell(0, 0), "desk");

    // A failure without a password being asked for.
    EXPECT_FALSE(desk.Connect(server.conninfo() + " dbname=nosuch", error));
    EXPECT_FALSE(desk.NeedsPassword()) << error;
}

}  // namespace
