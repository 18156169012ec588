#include "ui/ListRow.h"

void CListRow::EndCell() {
    if (m_nCells < kMaxCells) {
        m_ends[static_cast<size_t>(m_nCells++)] = static_cast<int32_t>(m_text.size());
    }
}

void CListRow::AddCell(QStringView cell) {
    if (m_nCells < kMaxCells) {
        m_text.append(cell);
        EndCell();
    }
}

QStringView CListRow::Cell(int cell) const {
    if (cell < 0 || cell >= m_nCells) {
        return QStringView();
    }
    const int32_t begin = cell == 0 ? 0 : m_ends[static_cast<size_t>(cell - 1)];
    return QStringView(m_text).mid(begin, m_ends[static_cast<size_t>(cell)] - begin);
}
