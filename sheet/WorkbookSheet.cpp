// The spreadsheet export's own workbook writer: takes the connection string and statements
// that an ODBC driver would take and writes the workbook named there (libxlsxwriter).

#include <xlsxwriter.h>

#include <cstdlib>

#include "sheet/SheetStatements.h"
#include "sheet/SheetTarget.h"

namespace {

class CWorkbookSheet : public CSheetTarget {
public:
    ~CWorkbookSheet() override {
        std::string ignored;
        Close(ignored);
    }

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
        // Rows go to a temporary file as they come, their texts written inline: a list of a
        // million rows needs neither the whole sheet in memory nor a table of shared strings.
        lxw_workbook_options options{};
        options.constant_memory = LXW_TRUE;
        m_pWorkbook = workbook_new_opt(file->c_str(), &options);
        if (m_pWorkbook == nullptr) {
            error = "无法创建工作簿 " + *file;
            return false;
        }
        m_strFile = *file;
        return true;
    }

    bool Execute(const std::string& statement, std::string& error) override {
        if (m_pWorkbook == nullptr) {
            error = "工作簿没有打开";
            return false;
        }
        if (const auto table = ParseSheetCreateTable(statement)) {
            if (m_pSheet != nullptr) {
                error = "工作簿中已有表格";
                return false;
            }
            m_pSheet = workbook_add_worksheet(m_pWorkbook, table->first.c_str());
            if (m_pSheet == nullptr) {
                error = "无法创建表格 " + table->first;
                return false;
            }
            m_columns = table->second;
            for (size_t c = 0; c < m_columns.size(); ++c) {
                worksheet_write_string(m_pSheet, 0, static_cast<lxw_col_t>(c),
                                       m_columns[c].title.c_str(), nullptr);
            }
            m_nRow = 1;
            return true;
        }
        const auto values = ParseSheetInsert(statement);
        if (!values || m_pSheet == nullptr || values->size() != m_columns.size()) {
            error = "无法执行语句: " + statement;
            return false;
        }
        for (size_t c = 0; c < values->size(); ++c) {
            const SheetValue& v = (*values)[c];
            const auto column = static_cast<lxw_col_t>(c);
            char* end = nullptr;
            const double number = std::strtod(v.value.c_str(), &end);
            if (!m_columns[c].text && !v.value.empty() && end != nullptr && *end == '\0') {
                worksheet_write_number(m_pSheet, m_nRow, column, number, nullptr);
            } else if (!v.value.empty()) {
                worksheet_write_string(m_pSheet, m_nRow, column, v.value.c_str(), nullptr);
            }
        }
        ++m_nRow;
        return true;
    }

    bool Close(std::string& error) override {
        if (m_pWorkbook == nullptr) {
            return true;
        }
        const lxw_error result = workbook_close(m_pWorkbook);
        m_pWorkbook = nullptr;
        m_pSheet = nullptr;
        if (result != LXW_NO_ERROR) {
            error = "无法写入工作簿 " + m_strFile + ": " + lxw_strerror(result);
            return false;
        }
        return true;
    }

private:
    lxw_workbook* m_pWorkbook = nullptr;
    lxw_worksheet* m_pSheet = nullptr;
    std::vector<SheetColumn> m_columns;
    lxw_row_t m_nRow = 0;
    std::string m_strFile;
};

}  // namespace

std::unique_ptr<CSheetTarget> MakeWorkbookSheet() {
    return std::make_unique<CWorkbookSheet>();
}
