// The spreadsheet export through the ODBC driver manager. Where the driver has transactions,
// the whole export is one, committed when it is closed; every failure up to the last release
// of a handle comes to the operator as text.

#include <sql.h>
#include <sqlext.h>

#include <string>

#include "sheet/SheetTarget.h"

namespace {

// What the driver manager or driver said about the last call on `handle`, one line a record:
// "[SQLSTATE] message".
std::string Diagnostics(SQLSMALLINT type, SQLHANDLE handle) {
    std::string text;
    for (SQLSMALLINT record = 1; handle != SQL_NULL_HANDLE; ++record) {
        SQLCHAR state[SQL_SQLSTATE_SIZE + 1] = {};
        SQLINTEGER native = 0;
        SQLCHAR message[SQL_MAX_MESSAGE_LENGTH] = {};
        SQLSMALLINT length = 0;
        if (!SQL_SUCCEEDED(SQLGetDiagRec(type, handle, record, state, &native, message,
                                         sizeof message, &length))) {
            break;
        }
        if (!text.empty()) {
            text += '\n';
        }
        text += '[' + std::string(reinterpret_cast<const char*>(state)) + "] " +
                reinterpret_cast<const char*>(message);
    }
    return text;
}

// The text of a failed call: the function, its result and the diagnostics of `handle`.
std::string Failure(const char* call, SQLRETURN result, SQLSMALLINT type, SQLHANDLE handle) {
    std::string text = std::string(call) + " 返回 " + std::to_string(result);
    const std::string diagnostics = Diagnostics(type, handle);
    if (!diagnostics.empty()) {
        text += ": " + diagnostics;
    }
    return text;
}

class COdbcSheet : public CSheetTarget {
public:
    ~COdbcSheet() override {
        // Dropped without a Close (a cancelled export): nothing of it is committed.
        std::string ignored;
        End(SQL_ROLLBACK, ignored);
    }

    bool Open(const std::string& connection, std::string& error) override {
        SQLRETURN r = SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &m_env);
        if (!SQL_SUCCEEDED(r)) {
            m_env = SQL_NULL_HENV;
            error = "无法使用ODBC: " + Failure("SQLAllocHandle", r, SQL_HANDLE_ENV, m_env);
            return false;
        }
        r = SQLSetEnvAttr(m_env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3),
                          0);
        if (!SQL_SUCCEEDED(r)) {
            error = "无法使用ODBC: " + Failure("SQLSetEnvAttr", r, SQL_HANDLE_ENV, m_env);
            return false;
        }
        r = SQLAllocHandle(SQL_HANDLE_DBC, m_env, &m_dbc);
        if (!SQL_SUCCEEDED(r)) {
            m_dbc = SQL_NULL_HDBC;
            error = "无法使用ODBC: " + Failure("SQLAllocHandle", r, SQL_HANDLE_ENV, m_env);
            return false;
        }
        std::string text = connection;
        SQLSMALLINT length = 0;
        r = SQLDriverConnect(m_dbc, nullptr, reinterpret_cast<SQLCHAR*>(text.data()), SQL_NTS,
                             nullptr, 0, &length, SQL_DRIVER_NOPROMPT);
        if (!SQL_SUCCEEDED(r)) {
            error = "无法连接: " + Failure("SQLDriverConnect", r, SQL_HANDLE_DBC, m_dbc);
            return false;
        }
        m_bConnected = true;
        // One transaction for the whole export where the driver has them.
        SQLUSMALLINT capable = SQL_TC_NONE;
        if (SQL_SUCCEEDED(SQLGetInfo(m_dbc, SQL_TXN_CAPABLE, &capable, sizeof capable, nullptr)) &&
            capable != SQL_TC_NONE) {
            SQLSetConnectAttr(m_dbc, SQL_ATTR_AUTOCOMMIT,
                              reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), SQL_IS_UINTEGER);
        }
        return true;
    }

    bool Execute(const std::string& statement, std::string& error) override {
        if (!m_bConnected) {
            error = "没有连接";
            return false;
        }
        SQLHSTMT handle = SQL_NULL_HSTMT;
        SQLRETURN r = SQLAllocHandle(SQL_HANDLE_STMT, m_dbc, &handle);
        if (!SQL_SUCCEEDED(r)) {
            error = Failure("SQLAllocHandle", r, SQL_HANDLE_DBC, m_dbc);
            return false;
        }
        std::string text = statement;
        r = SQLExecDirect(handle, reinterpret_cast<SQLCHAR*>(text.data()),
                          static_cast<SQLINTEGER>(text.size()));
        const bool done = SQL_SUCCEEDED(r) || r == SQL_NO_DATA;
        if (!done) {
            error = Failure("SQLExecDirect", r, SQL_HANDLE_STMT, handle);
        }
        SQLFreeHandle(SQL_HANDLE_STMT, handle);
        return done;
    }

    bool Close(std::string& error) override { return End(SQL_COMMIT, error); }

private:
    // Ends the transaction with `completion` (rolled back when a commit fails), disconnects
    // and frees the handles; every failure is added to `error`, one a line.
    bool End(SQLSMALLINT completion, std::string& error) {
        std::string failures;
        const auto fail = [&failures](const std::string& what) {
            failures += (failures.empty() ? "" : "\n") + what;
        };
        if (m_bConnected) {
            SQLRETURN r = SQLEndTran(SQL_HANDLE_DBC, m_dbc, completion);
            if (!SQL_SUCCEEDED(r)) {
                fail("无法提交: " + Failure("SQLEndTran", r, SQL_HANDLE_DBC, m_dbc));
                if (completion == SQL_COMMIT) {
                    SQLEndTran(SQL_HANDLE_DBC, m_dbc, SQL_ROLLBACK);  // so that it disconnects
                }
            }
            r = SQLDisconnect(m_dbc);
            if (!SQL_SUCCEEDED(r)) {
                fail("无法断开连接: " + Failure("SQLDisconnect", r, SQL_HANDLE_DBC, m_dbc));
            }
            m_bConnected = false;
        }
        if (m_dbc != SQL_NULL_HDBC) {
            const SQLRETURN r = SQLFreeHandle(SQL_HANDLE_DBC, m_dbc);
            if (!SQL_SUCCEEDED(r)) {
                fail(Failure("SQLFreeHandle", r, SQL_HANDLE_DBC, m_dbc));
            }
            m_dbc = SQL_NULL_HDBC;
        }
        if (m_env != SQL_NULL_HENV) {
            const SQLRETURN r = SQLFreeHandle(SQL_HANDLE_ENV, m_env);
            if (!SQL_SUCCEEDED(r)) {
                fail(Failure("SQLFreeHandle", r, SQL_HANDLE_ENV, m_env));
            }
            m_env = SQL_NULL_HENV;
        }
        if (failures.empty()) {
            return true;
        }
        error = failures;
        return false;
    }

    SQLHENV m_env = SQL_NULL_HENV;
    SQLHDBC m_dbc = SQL_NULL_HDBC;
    bool m_bConnected = false;
};

}  // namespace

std::unique_ptr<CSheetTarget> MakeOdbcSheet() {
    return std::make_unique<COdbcSheet>();
}
