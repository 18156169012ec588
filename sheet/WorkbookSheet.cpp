// The spreadsheet export's own workbook writer: takes the connection string and statements
// that an ODBC driver would take and writes the workbook named there, row by row. The export
// is all or nothing: only a Close after every statement succeeded replaces the named file.

#include <cmath>
#include <cstdlib>

#include "sheet/SheetStatements.h"
#include "sheet/SheetTarget.h"
#include "sheet/XlsxWriter.h"

namespace {

// Destroyed without a Close, the workbook is dropped as the writer drops it.
class CWorkbookSheet : public CSheetTarget {
public:
    bool Open(const std::string& connection, std::string& error) override {
        // CREATE_DB holds the whole name between quotes; DBQ is cut at a ';' in the name.
        std::optional<std::string> file = SheetConnectionValue(connection, "CREATE_DB");
        if (file && file->size() >= 2 && file->front() == '"' && file->back() == '"') {
            *file = file->substr(1, file->size() - 2);
        } else {
            file = SheetConnectionValue(connection, "DBQ");
        }
        if (!file || file->empty()) {
            error = "连接字符串中没有文件名";
            return false;
        }
        m_bOpen = m_book.Create(*file, error);
        return m_bOpen;
    }

    bool Execute(const std::string& statement, std::string& error) override {
        if (!m_bOpen) {
            error = "工作簿没有打开";
            return false;
        }
        if (!Write(statement, error)) {
            m_bFailed = true;
            return false;
        }
        return true;
    }

    bool Close(std::string& error) override {
        if (!m_bOpen) {
            return true;
        }
        m_bOpen = false;
        if (m_bFailed) {
            // A workbook that misses a statement is no export: the named file stays as it was.
            m_book.Abandon();
            error = "工作簿没有写完,没有保存";
            return false;
        }
        return m_book.Finish(error);
    }

private:
    bool Write(const std::string& statement, std::string& error) {
        if (const auto table = ParseSheetCreateTable(statement)) {
            if (!m_book.AddSheet(table->first, error)) {
                return false;
            }
            m_columns = table->second;
            for (const SheetColumn& column : m_columns) {
                m_book.Text(column.title);
            }
            return m_book.EndRow(error);
        }
        const auto values = ParseSheetInsert(statement);
        if (!values || !m_book.HasSheet() || values->size() != m_columns.size()) {
            error = "无法执行语句: " + statement;
            return false;
        }
        for (size_t c = 0; c < values->size(); ++c) {
            const std::string& value = (*values)[c].value;
            char* end = nullptr;
            const double number = std::strtod(value.c_str(), &end);
            if (!m_columns[c].text && !value.empty() && end != nullptr && *end == '\0' &&
                std::isfinite(number)) {
                m_book.Number(number);
            } else {
                m_book.Text(value);
            }
        }
        return m_book.EndRow(error);
    }

    CXlsxWriter m_book;
    bool m_bOpen = false;
    bool m_bFailed = false;  // a statement failed: Close keeps nothing
    std::vector<SheetColumn> m_columns;
};

}  // namespace

std::unique_ptr<CSheetTarget> MakeWorkbookSheet() {
    return std::make_unique<CWorkbookSheet>();
}
