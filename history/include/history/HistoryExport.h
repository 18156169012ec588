#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

class CHistoryView;

// A table as it is exported: its column titles and its rows, fetched one at a time so that a
// million rows are never held as texts at once. Texts are UTF-8.
struct ExportTable {
    std::vector<std::string> titles;
    // Per column (may be shorter than titles): true where a workbook takes the cells as
    // numbers. CSV has no such difference.
    std::vector<bool> numeric;
    size_t rowCount = 0;
    // Fills `cells` with the titles.size() texts of row `row` (0 <= row < rowCount); the
    // vector is reused from row to row.
    std::function<void(size_t row, std::vector<std::string>& cells)> fillRow;
};

// The byte order mark that starts a CSV file, so that spreadsheet programs read it as UTF-8.
inline constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

// Appends one CSV field: as it is, or in double quotes with its quotes doubled when it holds
// a comma, a double quote, a CR or an LF.
void AppendCsvField(std::string& out, std::string_view field);
// Appends one CSV record: the fields separated by commas, ended by CR LF.
void AppendCsvRow(std::string& out, const std::vector<std::string>& cells);
// The whole CSV text of `table`: the byte order mark, the title row, the rows.
std::string CsvText(const ExportTable& table);
// Writes CsvText(table) to `path`: the file is replaced only by the complete text, flushed to
// disk; on failure it stays as it was and `error` says why (Chinese text).
bool WriteCsvFile(const std::string& path, const ExportTable& table, std::string& error);

// The rows `rows` of `view` (indices into the view, in the order shown) with the columns of
// the history window and two more for a later comparison with the history: 序号 (the record
// number) and 校验值 (the record's SHA-256, lowercase hexadecimal). The view must outlive it.
ExportTable HistoryExportTable(const CHistoryView& view, const std::vector<uint32_t>& rows);

// The titles of the history window's columns: 时间, 工作站, 操作, 卡号, 姓名, 内容.
const std::vector<std::string>& HistoryColumnTitles();

// Lowercase hexadecimal of `size` bytes.
std::string HexText(const uint8_t* data, size_t size);
