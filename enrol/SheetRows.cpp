#include "enrol/SheetRows.h"

#include <algorithm>

#include "enrol/CsvFile.h"
#include "enrol/XlsxFile.h"

CSheetRows::CSheetRows(std::initializer_list<CSheetRow> rows) {
    for (const CSheetRow& row : rows) {
        AddRow();
        for (size_t c = 0; c < row.size(); ++c) {
            AddCell(c, row[c]);
        }
    }
}

std::string_view CSheetRows::Cell(size_t row, size_t column) const {
    const auto begin = m_cells.begin() + static_cast<std::ptrdiff_t>(RowBegin(row));
    const auto end = m_cells.begin() + static_cast<std::ptrdiff_t>(m_rowEnd[row]);
    const auto cell = std::lower_bound(begin, end, column,
                                       [](const CellAt& c, size_t col) { return c.column < col; });
    return cell != end && cell->column == column ? Text(*cell) : std::string_view();
}

CSheetRow CSheetRows::operator[](size_t row) const {
    CSheetRow cells;
    ForEachCell(row, [&cells](size_t column, std::string_view text) {
        cells.resize(column + 1);
        cells[column] = text;
    });
    return cells;
}

void CSheetRows::AddRow() {
    m_rowEnd.push_back(m_cells.size());
}

void CSheetRows::AddCell(size_t column, std::string_view text) {
    if (text.empty()) {
        return;
    }
    m_fileWidth = std::max(m_fileWidth, column + 1);
    if (column >= kMaxColumns) {
        return;
    }
    m_cells.push_back(
        CellAt{m_text.size(), static_cast<uint32_t>(text.size()), static_cast<uint32_t>(column)});
    m_text += text;
    m_rowEnd.back() = m_cells.size();
    m_width = std::max(m_width, column + 1);
}

void CSheetRows::clear() {
    *this = CSheetRows();
}

bool CSheetRows::operator==(const CSheetRows& other) const {
    if (size() != other.size()) {
        return false;
    }
    for (size_t r = 0; r < size(); ++r) {
        if ((*this)[r] != other[r]) {
            return false;
        }
    }
    return true;
}

bool ReadResidentList(std::string_view bytes, CSheetRows& rows, std::string& error,
                      const CProgress& progress) {
    constexpr std::string_view kZipMagic = "PK\x03\x04";
    if (bytes.substr(0, kZipMagic.size()) == kZipMagic) {
        return ReadXlsx(bytes, rows, error, progress);
    }
    return ReadCsv(bytes, rows, error, progress);
}
