// The spreadsheet export through the ODBC driver manager (Qt SQL's ODBC driver).

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

#include "sheet/SheetTarget.h"

namespace {

class COdbcSheet : public CSheetTarget {
public:
    ~COdbcSheet() override { Release(); }

    bool Open(const std::string& connection, std::string& error) override {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QODBC"), kName);
        db.setDatabaseName(QString::fromStdString(connection));
        m_bAdded = true;
        if (!db.open()) {
            error = db.lastError().text().toStdString();
            return false;
        }
        return true;
    }

    bool Execute(const std::string& statement, std::string& error) override {
        QSqlQuery query(QSqlDatabase::database(kName, false));
        if (!query.exec(QString::fromStdString(statement))) {
            error = query.lastError().text().toStdString();
            return false;
        }
        return true;
    }

    bool Close(std::string&) override {
        Release();
        return true;
    }

private:
    static inline const QString kName = QStringLiteral("orvane-sheet");

    void Release() {
        if (m_bAdded) {
            QSqlDatabase::database(kName, false).close();
            QSqlDatabase::removeDatabase(kName);
            m_bAdded = false;
        }
    }

    bool m_bAdded = false;
};

}  // namespace

std::unique_ptr<CSheetTarget> MakeOdbcSheet() {
    return std::make_unique<COdbcSheet>();
}
