#pragma once

#include <QString>
#include <QStringView>

#include <array>
#include <cstdint>

// One list row's cell texts kept in one string with the end of each cell, so that a list of
// many rows takes one allocation a row instead of one a cell. At most kMaxCells cells.
class CListRow {
public:
    static constexpr int kMaxCells = 16;

    CListRow() = default;
    // Room for `length` characters of cell text, so that the row is built in one allocation.
    explicit CListRow(qsizetype length) { m_text.reserve(length); }

    // Building: append the cell's characters to Text(), then end the cell.
    QString& Text() { return m_text; }
    void EndCell();
    void AddCell(QStringView cell);

    int CellCount() const { return m_nCells; }
    // The cell's text; empty beyond the last cell.
    QStringView Cell(int cell) const;

private:
    QString m_text;
    std::array<int32_t, kMaxCells> m_ends{};
    int m_nCells = 0;
};
