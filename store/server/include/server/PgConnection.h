#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct pg_conn;
struct pg_result;

// One result of a statement; empty when the statement could not be sent.
class CPgResult {
public:
    CPgResult() = default;
    explicit CPgResult(pg_result* result);

    bool Ok() const;  // the statement ran (with rows or without)
    int Rows() const;
    // The cell as text (or as the bytes of a binary result); empty for NULL.
    std::string_view Cell(int row, int column) const;
    bool IsNull(int row, int column) const;
    // The server's words on why it failed, or the SQLSTATE code ("23505" for a key taken).
    std::string Error() const;
    std::string State() const;

private:
    struct Free {
        void operator()(pg_result* result) const;
    };
    std::unique_ptr<pg_result, Free> m_result;
};

// A connection to a PostgreSQL server through libpq. Parameters travel apart from the
// statement's text, so no value is ever spliced into SQL.
class CPgConnection {
public:
    CPgConnection() = default;
    ~CPgConnection();
    CPgConnection(const CPgConnection&) = delete;
    CPgConnection& operator=(const CPgConnection&) = delete;

    // Connects with a libpq connection string; false with `error` (the server's or libpq's
    // words) when it cannot.
    bool Connect(const std::string& conninfo, std::string& error);
    void Close();
    bool IsOpen() const;
    // The last Connect failed because the server asked for a password and none was given.
    bool NeedsPassword() const { return m_bNeedsPassword; }
    // The connection was made and is lost now (the server went away or restarted).
    bool Broken() const;

    // Runs `sql`, with text parameters $1, $2, ... (binary where `binary` says so, for the
    // register's bytes); results in text, or in binary with `binaryResult`.
    CPgResult Exec(const std::string& sql, const std::vector<std::string>& params = {},
                   const std::vector<bool>& binary = {}, bool binaryResult = false);
    // Runs statements that take no parameters; false with `error` at the first that fails.
    bool Run(const std::string& sql, std::string& error);

    // Notifications (LISTEN/NOTIFY): the socket to wait on for them (-1 without a
    // connection), and those that have arrived, each a channel's payload, leaving out the
    // ones this connection sent itself.
    int Socket() const;
    std::vector<std::string> TakeNotifications();

    pg_conn* Raw() const { return m_pConn; }

private:
    pg_conn* m_pConn = nullptr;
    bool m_bNeedsPassword = false;
};
