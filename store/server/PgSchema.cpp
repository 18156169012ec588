#include "server/PgSchema.h"

namespace {

// An arbitrary number that names the schema's upgrade lock among the server's advisory locks.
constexpr const char* kUpgradeLock = "SELECT pg_advisory_xact_lock(7240193)";

// The statements that take version n-1 to version n.
const char* const kSteps[kPgSchemaVersion] = {
    // 1
    "CREATE TABLE orvane_cards ("
    " card_key bytea PRIMARY KEY,"
    " number integer NOT NULL, status smallint NOT NULL, card_no bytea NOT NULL,"
    " card_type smallint NOT NULL, valid_date bytea NOT NULL, password bytea NOT NULL,"
    " reg_date bytea NOT NULL, name bytea NOT NULL, phone bytea NOT NULL,"
    " house_no bytea NOT NULL, id_no bytea NOT NULL, address bytea NOT NULL,"
    " remark bytea NOT NULL, rights bytea NOT NULL, rights2 bytea NOT NULL,"
    " sex smallint NOT NULL, paid bytea NOT NULL, month_fee bytea NOT NULL,"
    " year_fee bytea NOT NULL,"
    " position bigint NOT NULL,"
    " row_version bigint NOT NULL DEFAULT 1,"
    " changed_by text NOT NULL,"
    " changed_at timestamptz NOT NULL DEFAULT now());"
    "CREATE INDEX orvane_cards_position ON orvane_cards (position);"
    "CREATE TABLE orvane_history ("
    " number bigint PRIMARY KEY,"
    " payload bytea NOT NULL,"
    " hash bytea NOT NULL);"
    "CREATE TABLE orvane_installation ("
    " only_row boolean PRIMARY KEY DEFAULT true CHECK (only_row),"
    " system_password text NOT NULL DEFAULT '',"
    " max_number bigint NOT NULL DEFAULT 0);"
    "INSERT INTO orvane_installation DEFAULT VALUES;",
    // 2: how far each desk's outbox (changes kept while the server was away) was delivered,
    // so that a change is never delivered twice; row versions from one sequence, so that a
    // card removed and registered again never has a version a desk saw of the old one
    "CREATE TABLE orvane_delivered ("
    " outbox bytea PRIMARY KEY,"
    " last_seq bigint NOT NULL);"
    "CREATE SEQUENCE orvane_row_version;"
    "SELECT setval('orvane_row_version',"
    " (SELECT coalesce(max(row_version), 0) + 1 FROM orvane_cards));",
};

}  // namespace

int PgSchemaVersion(CPgConnection& connection, std::string& error) {
    CPgResult exists = connection.Exec("SELECT to_regclass('orvane_schema') IS NOT NULL");
    if (!exists.Ok()) {
        error = exists.Error();
        return -1;
    }
    if (exists.Cell(0, 0) != "t") {
        return 0;
    }
    CPgResult version = connection.Exec("SELECT version FROM orvane_schema");
    if (!version.Ok() || version.Rows() != 1) {
        error = version.Ok() ? "orvane_schema 应当正好有一行" : version.Error();
        return -1;
    }
    return std::stoi(std::string(version.Cell(0, 0)));
}

bool UpgradePgSchema(CPgConnection& connection, std::string& error, int upTo) {
    for (;;) {
        if (!connection.Run("BEGIN", error)) {
            return false;
        }
        std::string ignored;
        const auto fail = [&connection, &ignored]() {
            connection.Run("ROLLBACK", ignored);
            return false;
        };
        if (!connection.Run(kUpgradeLock, error)) {
            return fail();
        }
        // Read under the lock: another desk may have upgraded meanwhile.
        const int version = PgSchemaVersion(connection, error);
        if (version < 0) {
            return fail();
        }
        if (version > kPgSchemaVersion) {
            error = "服务器上的卡片登记是更新的版本(" + std::to_string(version) +
                    "),这个程序只认识到版本" + std::to_string(kPgSchemaVersion) + ",请先升级程序";
            return fail();
        }
        if (version >= upTo) {
            return connection.Run("COMMIT", error);
        }
        std::string step = kSteps[version];
        step += version == 0
                    ? "CREATE TABLE orvane_schema (version integer NOT NULL);"
                      "INSERT INTO orvane_schema VALUES (1);"
                    : "UPDATE orvane_schema SET version = " + std::to_string(version + 1) + ";";
        if (!connection.Run(step, error) || !connection.Run("COMMIT", error)) {
            return fail();
        }
    }
}
