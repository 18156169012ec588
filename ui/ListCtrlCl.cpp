#include "ui/ListCtrlCl.h"

#include <QApplication>
#include <QFontDatabase>
#include <QMouseEvent>
#include <QPainter>
#include <QStyledItemDelegate>

#include <algorithm>

#include "app/CodePageText.h"
#include "app/DialogLayout.h"

// ---- the model ----

int CListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int CListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_titles.size());
}

QVariant CListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::AccessibleTextRole)) {
        return QVariant();
    }
    return Text(index.row(), index.column());
}

QVariant CListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 &&
        section < m_titles.size()) {
        return m_titles.at(section);
    }
    return QVariant();
}

void CListModel::AddColumn(const QString& title) {
    const int column = static_cast<int>(m_titles.size());
    beginInsertColumns(QModelIndex(), column, column);
    m_titles.append(title);
    endInsertColumns();
}

void CListModel::InsertRow(int row, const QString& firstText) {
    row = std::clamp(row, 0, static_cast<int>(m_rows.size()));
    beginInsertRows(QModelIndex(), row, row);
    auto cells = std::make_unique<CListRow>();
    cells->AddCell(firstText);
    m_rows.insert(m_rows.begin() + row, Item{{}, std::move(cells)});
    endInsertRows();
}

void CListModel::AppendRows(std::vector<CListRow> rows) {
    if (rows.empty()) {
        return;
    }
    const int first = static_cast<int>(m_rows.size());
    beginInsertRows(QModelIndex(), first, first + static_cast<int>(rows.size()) - 1);
    m_rows.reserve(m_rows.size() + rows.size());
    for (CListRow& row : rows) {
        m_rows.push_back(Item{{}, std::make_unique<CListRow>(std::move(row))});
    }
    endInsertRows();
}

void CListModel::SetRowSource(const CCardMap* cards, RowMaker maker) {
    m_pCards = cards;
    m_maker = std::move(maker);
}

void CListModel::AppendEntries(const std::vector<const CCardMap::CAssoc*>& entries) {
    if (entries.empty()) {
        return;
    }
    const int first = static_cast<int>(m_rows.size());
    beginInsertRows(QModelIndex(), first, first + static_cast<int>(entries.size()) - 1);
    m_rows.reserve(m_rows.size() + entries.size());
    for (const CCardMap::CAssoc* entry : entries) {
        Item item;
        const std::string_view key = entry->key;
        if (key.size() <= kShortKey) {
            std::copy(key.begin(), key.end(), item.key.begin());
        } else {
            item.cells =
                std::make_unique<CListRow>(m_maker ? m_maker(key, *entry->value) : CListRow());
            item.cells->SetKey(std::string(key));
        }
        m_rows.push_back(std::move(item));
    }
    endInsertRows();
}

void CListModel::RemoveRow(int row) {
    beginRemoveRows(QModelIndex(), row, row);
    m_rows.erase(m_rows.begin() + row);
    endRemoveRows();
}

void CListModel::RemoveAllRows() {
    beginResetModel();
    // The old rows go after the views have let go of them, and their memory with them.
    std::vector<Item>().swap(m_rows);
    endResetModel();
}

std::string_view CListModel::Item::ShortKey() const {
    const auto end = std::find(key.begin(), key.end(), '\0');
    return std::string_view(key.data(), static_cast<size_t>(end - key.begin()));
}

CListRow CListModel::MadeRow(const Item& item) const {
    if (item.cells) {
        return *item.cells;
    }
    const std::string_view key = item.ShortKey();
    const CCard* card = m_pCards != nullptr ? m_pCards->Lookup(key) : nullptr;
    if (card == nullptr || !m_maker) {
        CListRow none;
        none.SetKey(std::string(key));
        return none;
    }
    return m_maker(key, *card);
}

CListRow& CListModel::OwnCells(Item& item) {
    if (!item.cells) {
        item.cells = std::make_unique<CListRow>(MadeRow(item));
        item.cells->SetKey(std::string(item.ShortKey()));
    }
    return *item.cells;
}

void CListModel::SetText(int row, int column, const QString& text) {
    OwnCells(m_rows[static_cast<size_t>(row)]).SetCell(column, text);
    const QModelIndex at = index(row, column);
    emit dataChanged(at, at, {Qt::DisplayRole});
}

QString CListModel::Text(int row, int column) const {
    if (row < 0 || row >= rowCount() || column < 0) {
        return QString();
    }
    const Item& item = m_rows[static_cast<size_t>(row)];
    if (item.cells) {
        return item.cells->Cell(column).toString();
    }
    return MadeRow(item).Cell(column).toString();
}

CListRow CListModel::Row(int row) const {
    if (row < 0 || row >= rowCount()) {
        return CListRow();
    }
    return MadeRow(m_rows[static_cast<size_t>(row)]);
}

void CListModel::SetKey(int row, std::string key) {
    OwnCells(m_rows[static_cast<size_t>(row)]).SetKey(std::move(key));
}

std::string_view CListModel::Key(int row) const {
    const Item& item = m_rows[static_cast<size_t>(row)];
    return item.cells ? std::string_view(item.cells->Key()) : item.ShortKey();
}

// ---- painting ----

namespace {

// At most 255 bytes of a cell's text are drawn.
QString DrawnText(const QString& text) {
    if (text.size() * 4 <= 255) {
        return text;
    }
    return FromCodePage(ToCodePage(text, 255));
}

class CCellDelegate : public QStyledItemDelegate {
public:
    explicit CCellDelegate(CListCtrlCl* list) : QStyledItemDelegate(list), m_pList(list) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        const int row = index.row();
        const int column = index.column();
        const bool selected = option.state & QStyle::State_Selected;
        painter->save();
        painter->fillRect(option.rect, m_pList->CellBackground(row, column, selected));
        const QString& align = m_pList->m_ctlHeader.m_strAlign;
        const Qt::Alignment horizontal =
            CHeaderCtrlCl::AlignmentOf(column < align.size() ? align.at(column) : QChar());
        // Centred with the metrics of the ordinary GUI font, drawn in the cell font.
        QRect text = option.rect;
        const int guiHeight = QFontMetrics(QApplication::font()).height();
        text.translate(0, (option.rect.height() - guiHeight) / 2);
        painter->setPen(m_pList->CellForeground(row, column));
        painter->setFont(SongFont(m_pList->m_nFontHeight, m_pList->m_nFontWidth));
        painter->drawText(text, static_cast<int>(horizontal | Qt::AlignTop),
                          DrawnText(index.data().toString()));
        painter->restore();
    }

private:
    CListCtrlCl* m_pList;
};

bool FindColumn(const std::vector<ColorEntry>& entries, int column, QColor& color) {
    for (const ColorEntry& e : entries) {
        if (e.nCol == column) {
            color = e.clr;
            return true;
        }
    }
    return false;
}

bool FindCell(const std::vector<ColorEntry>& entries, int column, int row, QColor& color) {
    for (const ColorEntry& e : entries) {
        if (e.nCol == column && e.nRow == row) {
            color = e.clr;
            return true;
        }
    }
    return false;
}

}  // namespace

// ---- the list ----

CListCtrlCl::CListCtrlCl(QWidget* parent) : QTableView(parent), m_pModel(new CListModel(this)) {
    setModel(m_pModel);
    setHorizontalHeader(&m_ctlHeader);
    m_ctlHeader.setModel(m_pModel);
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    setItemDelegate(new CCellDelegate(this));
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setShowGrid(true);
    setWordWrap(false);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
}

int CListCtrlCl::InsertColumn(int, const QString& title, int format, int width, int) {
    if (m_pModel->columnCount() >= CListRow::kMaxCells) {
        return -1;
    }
    const QChar code = format == 0   ? QLatin1Char('0')
                       : format == 1 ? QLatin1Char('2')
                                     : QLatin1Char('1');
    m_ctlHeader.m_astrTitle.append(title);
    m_ctlHeader.m_strAlign.append(code);
    m_pModel->AddColumn(title);
    const int column = m_pModel->columnCount() - 1;
    setColumnWidth(column, width);
    return column;
}

void CListCtrlCl::SetColumnBackColor(int column, const QColor& color) {
    m_lstColumnBack.push_back({0, column, color});
}

void CListCtrlCl::SetColumnForeColor(int column, const QColor& color) {
    m_lstColumnFore.push_back({0, column, color});
}

void CListCtrlCl::SetCellBackColor(int row, int column, const QColor& color) {
    m_lstCellBack.push_back({row, column, color});
}

void CListCtrlCl::SetCellForeColor(int row, int column, const QColor& color) {
    m_lstCellFore.push_back({row, column, color});
}

bool CListCtrlCl::SetForeColor(const QColor& color) {
    m_clrText = color;
    return true;
}

void CListCtrlCl::SetBkColor(const QColor& color) {
    m_clrBack = color;
    QPalette p = palette();
    p.setColor(QPalette::Base, color);
    setPalette(p);
}

void CListCtrlCl::SetTextFont(int height, int width) {
    m_nFontHeight = height;
    m_nFontWidth = width;
}

void CListCtrlCl::SetRowHeight(int height) {
    m_nRowHeight = height;
    if (height > 0) {
        verticalHeader()->setMinimumSectionSize(1);
        verticalHeader()->setDefaultSectionSize(height);
    }
}

void CListCtrlCl::SetHeaderGradient(int red, int green, int blue, int step) {
    m_ctlHeader.m_nRed = red;
    m_ctlHeader.m_nGreen = green;
    m_ctlHeader.m_nBlue = blue;
    m_ctlHeader.m_nGradientStep = step;
}

void CListCtrlCl::SetHeaderHeightScale(float factor) {
    m_ctlHeader.m_fHeightScale = factor;
    m_ctlHeader.updateGeometry();
}

void CListCtrlCl::SetHeaderFont(int height, int width) {
    m_ctlHeader.m_nFontHeight = height;
    m_ctlHeader.m_nFontWidth = width;
}

void CListCtrlCl::SetHeaderForeColor(const QColor& color) {
    m_ctlHeader.m_clrText = color;
}

bool CListCtrlCl::FindColumnBackColor(int column, QColor& color) const {
    return FindColumn(m_lstColumnBack, column, color);
}

bool CListCtrlCl::FindCellBackColor(int column, int row, QColor& color) const {
    return FindCell(m_lstCellBack, column, row, color);
}

bool CListCtrlCl::FindColumnForeColor(int column, QColor& color) const {
    return FindColumn(m_lstColumnFore, column, color);
}

bool CListCtrlCl::FindCellForeColor(int column, int row, QColor& color) const {
    return FindCell(m_lstCellFore, column, row, color);
}

QColor CListCtrlCl::CellBackground(int row, int column, bool selected) const {
    if (selected) {
        return palette().color(QPalette::Active, QPalette::Highlight);
    }
    QColor color = m_clrBack;
    FindColumnBackColor(column, color);
    FindCellBackColor(column, row, color);
    return color;
}

QColor CListCtrlCl::CellForeground(int row, int column) const {
    QColor color = m_clrText;
    FindColumnForeColor(column, color);
    FindCellForeColor(column, row, color);
    return color;
}

int CListCtrlCl::InsertItem(int row, const QString& text) {
    row = std::clamp(row, 0, m_pModel->rowCount());
    m_pModel->InsertRow(row, text);
    return row;
}

void CListCtrlCl::AppendRows(std::vector<CListRow> rows) {
    m_pModel->AppendRows(std::move(rows));
}

void CListCtrlCl::AppendEntries(const std::vector<const CCardMap::CAssoc*>& entries) {
    m_pModel->AppendEntries(entries);
}

void CListCtrlCl::SetRowSource(const CCardMap* cards, CListModel::RowMaker maker) {
    m_pModel->SetRowSource(cards, std::move(maker));
}

CListRow CListCtrlCl::GetRow(int row) const {
    return m_pModel->Row(row);
}

bool CListCtrlCl::SetItemText(int row, int column, const QString& text) {
    if (row < 0 || row >= m_pModel->rowCount() || column < 0 || column >= m_pModel->columnCount()) {
        return false;
    }
    m_pModel->SetText(row, column, text);
    return true;
}

QString CListCtrlCl::GetItemText(int row, int column) const {
    return m_pModel->Text(row, column);
}

bool CListCtrlCl::SetItemKey(int row, std::string key) {
    if (row < 0 || row >= m_pModel->rowCount()) {
        return false;
    }
    m_pModel->SetKey(row, std::move(key));
    return true;
}

std::string CListCtrlCl::GetItemKey(int row) const {
    return std::string(ItemKey(row));
}

std::string_view CListCtrlCl::ItemKey(int row) const {
    if (row < 0 || row >= m_pModel->rowCount()) {
        return std::string_view();
    }
    return m_pModel->Key(row);
}

bool CListCtrlCl::DeleteItem(int row) {
    if (row < 0 || row >= m_pModel->rowCount()) {
        return false;
    }
    m_pModel->RemoveRow(row);
    return true;
}

void CListCtrlCl::DeleteAllItems() {
    m_pModel->RemoveAllRows();
}

int CListCtrlCl::GetItemCount() const {
    return m_pModel->rowCount();
}

int CListCtrlCl::GetSelectionMark() const {
    const QModelIndex current = currentIndex();
    return current.isValid() ? current.row() : -1;
}

void CListCtrlCl::SetSelectionMark(int row) {
    selectionModel()->setCurrentIndex(m_pModel->index(row, 0), QItemSelectionModel::NoUpdate);
}

void CListCtrlCl::mouseReleaseEvent(QMouseEvent* event) {
    QTableView::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton) {
        emit Clicked();
    }
}
