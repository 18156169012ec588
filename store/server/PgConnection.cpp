#include "server/PgConnection.h"

#include <libpq-fe.h>

CPgResult::CPgResult(pg_result* result) : m_result(result) {}

void CPgResult::Free::operator()(pg_result* result) const {
    PQclear(result);
}

bool CPgResult::Ok() const {
    if (!m_result) {
        return false;
    }
    const ExecStatusType status = PQresultStatus(m_result.get());
    return status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
}

int CPgResult::Rows() const {
    return m_result ? PQntuples(m_result.get()) : 0;
}

std::string_view CPgResult::Cell(int row, int column) const {
    if (!m_result || row >= PQntuples(m_result.get()) || column >= PQnfields(m_result.get())) {
        return {};
    }
    return {PQgetvalue(m_result.get(), row, column),
            static_cast<size_t>(PQgetlength(m_result.get(), row, column))};
}

bool CPgResult::IsNull(int row, int column) const {
    return !m_result || PQgetisnull(m_result.get(), row, column) != 0;
}

std::string CPgResult::Error() const {
    if (!m_result) {
        return "语句没有送到服务器";
    }
    std::string error = PQresultErrorMessage(m_result.get());
    while (!error.empty() && (error.back() == '\n' || error.back() == ' ')) {
        error.pop_back();
    }
    return error;
}

std::string CPgResult::State() const {
    const char* state = m_result ? PQresultErrorField(m_result.get(), PG_DIAG_SQLSTATE) : nullptr;
    return state != nullptr ? state : "";
}

namespace {

constexpr const char* kConnectTimeoutSeconds = "5";

}  // namespace

CPgConnection::~CPgConnection() {
    Close();
}

bool CPgConnection::Connect(const std::string& conninfo, std::string& error) {
    Close();
    m_bNeedsPassword = false;
    // A server that does not answer is given up after a few seconds (unless the connection
    // string says otherwise), so that the program never hangs on it; the string's own
    // keywords come after the default and override it.
    const char* const keywords[] = {"connect_timeout", "dbname", nullptr};
    const char* const values[] = {kConnectTimeoutSeconds, conninfo.c_str(), nullptr};
    m_pConn = PQconnectdbParams(keywords, values, 1);
    if (m_pConn == nullptr) {
        error = "无法连接服务器:内存不足";
        return false;
    }
    if (PQstatus(m_pConn) != CONNECTION_OK) {
        m_bNeedsPassword = PQconnectionNeedsPassword(m_pConn) != 0;
        error = PQerrorMessage(m_pConn);
        while (!error.empty() && (error.back() == '\n' || error.back() == ' ')) {
            error.pop_back();
        }
        Close();
        return false;
    }
    // The server's notices (a connection ended by its administrator, a restart) are libpq's
    // to print on the terminal otherwise; the program says what matters in its own words.
    PQsetNoticeProcessor(
        m_pConn, [](void*, const char*) {}, nullptr);
    // The register's texts are bytes of its code page: they travel as bytea, and the
    // connection's own texts (names of desks, messages) as UTF-8.
    PQsetClientEncoding(m_pConn, "UTF8");
    return true;
}

void CPgConnection::Close() {
    if (m_pConn != nullptr) {
        PQfinish(m_pConn);
        m_pConn = nullptr;
    }
}

bool CPgConnection::IsOpen() const {
    return m_pConn != nullptr && PQstatus(m_pConn) == CONNECTION_OK;
}

CPgResult CPgConnection::Exec(const std::string& sql, const std::vector<std::string>& params,
                              const std::vector<bool>& binary, bool binaryResult) {
    if (m_pConn == nullptr) {
        return CPgResult();
    }
    std::vector<const char*> values;
    std::vector<int> lengths;
    std::vector<int> formats;
    for (size_t i = 0; i < params.size(); ++i) {
        values.push_back(params[i].data());
        lengths.push_back(static_cast<int>(params[i].size()));
        formats.push_back(i < binary.size() && binary[i] ? 1 : 0);
    }
    return CPgResult(PQexecParams(m_pConn, sql.c_str(), static_cast<int>(params.size()), nullptr,
                                  values.data(), lengths.data(), formats.data(),
                                  binaryResult ? 1 : 0));
}

bool CPgConnection::Run(const std::string& sql, std::string& error) {
    if (m_pConn == nullptr) {
        error = "没有连接服务器";
        return false;
    }
    CPgResult result(PQexec(m_pConn, sql.c_str()));
    if (!result.Ok()) {
        error = result.Error();
        return false;
    }
    return true;
}

bool CPgConnection::Broken() const {
    return m_pConn == nullptr || PQstatus(m_pConn) == CONNECTION_BAD;
}

int CPgConnection::Socket() const {
    return m_pConn != nullptr ? PQsocket(m_pConn) : -1;
}

std::vector<std::string> CPgConnection::TakeNotifications() {
    std::vector<std::string> payloads;
    if (m_pConn == nullptr || PQconsumeInput(m_pConn) == 0) {
        return payloads;
    }
    const int self = PQbackendPID(m_pConn);
    while (PGnotify* notify = PQnotifies(m_pConn)) {
        if (notify->be_pid != self) {
            payloads.emplace_back(notify->extra != nullptr ? notify->extra : "");
        }
        PQfreemem(notify);
    }
    return payloads;
}
