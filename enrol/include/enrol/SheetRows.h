#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

// One row of a resident list as texts, column by column; a missing cell is an empty one.
using CSheetRow = std::vector<std::string>;

// The cells of a resident list, row by row from the file's first row, as UTF-8 texts. Only the
// first kMaxColumns columns are kept, and of those only the cells that are not empty: all texts
// stand in one buffer, and a row costs 8 bytes and 16 for each cell it has, however far apart
// its cells stand.
class CSheetRows {
public:
    static constexpr size_t kMaxColumns = 64;

    CSheetRows() = default;
    CSheetRows(std::initializer_list<CSheetRow> rows);

    size_t size() const { return m_rowEnd.size(); }
    bool empty() const { return m_rowEnd.empty(); }
    // The cell at `row` and `column`, empty where the row has none.
    std::string_view Cell(size_t row, size_t column) const;
    // The row's cells up to its last that is not empty.
    CSheetRow operator[](size_t row) const;
    CSheetRow front() const { return (*this)[0]; }
    CSheetRow back() const { return (*this)[size() - 1]; }
    // Calls f(column, text) for each cell of the row that is not empty, columns ascending.
    template <class F>
    void ForEachCell(size_t row, F&& f) const {
        for (size_t i = RowBegin(row); i < m_rowEnd[row]; ++i) {
            f(static_cast<size_t>(m_cells[i].column), Text(m_cells[i]));
        }
    }
    // The columns up to the last that has a cell, of those kept.
    size_t Width() const { return m_width; }
    // The columns up to the last that has a cell in the file, kept or not.
    size_t FileWidth() const { return m_fileWidth; }

    // Adds an empty row at the end.
    void AddRow();
    // Adds a cell to the last row, columns ascending: an empty text, or a column from
    // kMaxColumns on, is not kept (the latter counts in FileWidth when not empty).
    void AddCell(size_t column, std::string_view text);
    void clear();

    bool operator==(const CSheetRows& other) const;

private:
    struct CellAt {
        uint64_t at;  // in m_text
        uint32_t size;
        uint32_t column;
    };
    size_t RowBegin(size_t row) const { return row == 0 ? 0 : m_rowEnd[row - 1]; }
    std::string_view Text(const CellAt& cell) const {
        return std::string_view(m_text).substr(cell.at, cell.size);
    }

    std::string m_text;
    std::vector<CellAt> m_cells;
    std::vector<size_t> m_rowEnd;  // row r's cells: [m_rowEnd[r - 1], m_rowEnd[r])
    size_t m_width = 0;
    size_t m_fileWidth = 0;
};

// Told how far a long reading or working out has come: `done` of `total` (units of the
// caller's choice).
using CProgress = std::function<void(size_t done, size_t total)>;

// Reads a resident list from a file's bytes: a workbook (.xlsx, the first sheet) when the
// bytes are a zip archive, otherwise CSV text. False with `error` (UTF-8, for the operator)
// when the file cannot be read as either.
bool ReadResidentList(std::string_view bytes, CSheetRows& rows, std::string& error,
                      const CProgress& progress = nullptr);
