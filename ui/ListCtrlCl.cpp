#include "ui/ListCtrlCl.h"

#include <QApplication>
#include <QBrush>
#include <QMouseEvent>
#include <QPainter>
#include <QStyledItemDelegate>

#include <algorithm>
#include <unordered_set>

#include "app/CodePageText.h"
#include "app/DialogLayout.h"

namespace {

bool FindColumn(const std::vector<ColorEntry>& entries, int column, QColor& color) {
    for (const ColorEntry& e : entries) {
        if (e.nCol == column) {
            color = e.clr;
            return true;
        }
    }
    return false;
}

// The keys of a notice, looked up by a set when there are many.
class CKeySet {
public:
    explicit CKeySet(const std::vector<std::string>& keys) : m_keys(keys) {
        if (keys.size() > kLinear) {
            m_set.reserve(keys.size());
            for (const std::string& key : keys) {
                m_set.insert(key);
            }
        }
    }
    bool Contains(std::string_view key) const {
        if (m_keys.size() > kLinear) {
            return m_set.count(key) != 0;
        }
        return std::find(m_keys.begin(), m_keys.end(), key) != m_keys.end();
    }

private:
    static constexpr size_t kLinear = 8;
    const std::vector<std::string>& m_keys;
    std::unordered_set<std::string_view> m_set;
};

}  // namespace

// ---- the model ----

int CListModel::rowCount(const QModelIndex& parent) const {
    if (parent.isValid()) {
        return 0;
    }
    return static_cast<int>(m_filter ? m_shown.size() : m_rows.size());
}

int CListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_titles.size());
}

QVariant CListModel::data(const QModelIndex& index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid)) {
        return QVariant();
    }
    const int row = index.row();
    const int column = index.column();
    switch (role) {
        case Qt::DisplayRole:
        case Qt::AccessibleTextRole:
            return Text(row, column);
        case Qt::BackgroundRole: {
            QColor color = m_clrBack;
            FindColumnBackColor(column, color);
            return QBrush(color);
        }
        case Qt::ForegroundRole: {
            QColor color = m_clrText;
            FindColumnForeColor(column, color);
            return QBrush(color);
        }
        default:
            return QVariant();
    }
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

void CListModel::SetRowSource(const CCardMap* cards, RowMaker maker, Lister lister) {
    m_pCards = cards;
    m_maker = std::move(maker);
    m_lister = std::move(lister);
}

void CListModel::Watch(CCardStore& store) {
    m_subscription = store.Listen([this](const CCardNotice& notice) { CardsChanged(notice); });
}

std::string_view CListModel::Item::Key() const {
    if (longKey) {
        return *longKey;
    }
    const auto end = std::find(shortKey.begin(), shortKey.end(), '\0');
    return std::string_view(shortKey.data(), static_cast<size_t>(end - shortKey.begin()));
}

CListModel::Item CListModel::Item::Of(std::string_view key) {
    Item item;
    if (key.size() <= kShortKey && key.find('\0') == std::string_view::npos) {
        std::copy(key.begin(), key.end(), item.shortKey.begin());
    } else {
        item.longKey = std::make_unique<std::string>(key);
    }
    return item;
}

const CCard* CListModel::CardOfItem(const Item& item) const {
    return m_pCards != nullptr ? m_pCards->Lookup(item.Key()) : nullptr;
}

bool CListModel::Accepts(const Item& item) const {
    const CCard* card = CardOfItem(item);
    return card != nullptr && m_filter(*card);
}

void CListModel::AppendEntries(const std::vector<const CCardMap::CAssoc*>& entries) {
    std::vector<Item> items;
    items.reserve(entries.size());
    for (const CCardMap::CAssoc* entry : entries) {
        items.push_back(Item::Of(entry->key.view()));
    }
    const size_t first = m_rows.size();
    std::vector<uint32_t> shown;
    if (m_filter) {
        for (size_t i = 0; i < items.size(); ++i) {
            if (Accepts(items[i])) {
                shown.push_back(static_cast<uint32_t>(first + i));
            }
        }
    }
    const size_t added = m_filter ? shown.size() : items.size();
    if (added == 0) {
        std::move(items.begin(), items.end(), std::back_inserter(m_rows));
        return;
    }
    const int top = rowCount();
    beginInsertRows(QModelIndex(), top, top + static_cast<int>(added) - 1);
    m_rows.reserve(m_rows.size() + items.size());
    std::move(items.begin(), items.end(), std::back_inserter(m_rows));
    m_shown.insert(m_shown.end(), shown.begin(), shown.end());
    endInsertRows();
}

void CListModel::RemoveRow(int row) {
    if (row < 0 || row >= rowCount()) {
        return;
    }
    RemoveListed({ListedOf(row)});
}

void CListModel::RemoveAllRows() {
    beginResetModel();
    // The old rows go after the views have let go of them, and their memory with them.
    std::vector<Item>().swap(m_rows);
    std::vector<uint32_t>().swap(m_shown);
    endResetModel();
}

void CListModel::RemoveListed(const std::vector<size_t>& listed) {
    if (listed.empty()) {
        return;
    }
    // The rows shown that go, ascending.
    std::vector<int> rows;
    if (m_filter) {
        std::vector<char> gone(m_rows.size());
        for (const size_t i : listed) {
            gone[i] = 1;
        }
        for (size_t r = 0; r < m_shown.size(); ++r) {
            if (gone[m_shown[r]]) {
                rows.push_back(static_cast<int>(r));
            }
        }
    } else {
        rows.assign(listed.begin(), listed.end());
    }
    // Taken out of what is shown a run of rows at a time, from the bottom; many scattered
    // rows at once.
    constexpr size_t kRuns = 64;
    size_t runs = rows.empty() ? 0 : 1;
    for (size_t i = 1; i < rows.size(); ++i) {
        runs += rows[i] != rows[i - 1] + 1 ? 1 : 0;
    }
    const auto eraseShown = [this](int first, int last) {
        if (m_filter) {
            m_shown.erase(m_shown.begin() + first, m_shown.begin() + last + 1);
        } else {
            m_rows.erase(m_rows.begin() + first, m_rows.begin() + last + 1);
        }
    };
    if (runs > kRuns) {
        beginResetModel();
    }
    for (size_t end = rows.size(); end > 0;) {
        size_t begin = end - 1;
        while (begin > 0 && rows[begin - 1] == rows[begin] - 1) {
            --begin;
        }
        if (runs <= kRuns) {
            beginRemoveRows(QModelIndex(), rows[begin], rows[end - 1]);
        }
        eraseShown(rows[begin], rows[end - 1]);
        if (runs <= kRuns) {
            endRemoveRows();
        }
        end = begin;
    }
    if (m_filter) {
        // The listed rows go as well; the rows shown keep pointing at theirs.
        std::vector<uint32_t> moved(m_rows.size());
        std::vector<char> gone(m_rows.size());
        for (const size_t i : listed) {
            gone[i] = 1;
        }
        size_t kept = 0;
        for (size_t i = 0; i < m_rows.size(); ++i) {
            if (!gone[i]) {
                moved[i] = static_cast<uint32_t>(kept);
                m_rows[kept++] = std::move(m_rows[i]);
            }
        }
        m_rows.resize(kept);
        for (uint32_t& s : m_shown) {
            s = moved[s];
        }
    }
    if (runs > kRuns) {
        endResetModel();
    }
}

void CListModel::InsertAtTop(const std::vector<std::string>& keys) {
    if (keys.empty()) {
        return;
    }
    const size_t count = keys.size();
    beginInsertRows(QModelIndex(), 0, static_cast<int>(count) - 1);
    std::vector<Item> items;
    items.reserve(count);
    for (const std::string& key : keys) {
        items.push_back(Item::Of(key));
    }
    m_rows.insert(m_rows.begin(), std::make_move_iterator(items.begin()),
                  std::make_move_iterator(items.end()));
    if (m_filter) {
        for (uint32_t& s : m_shown) {
            s += static_cast<uint32_t>(count);
        }
        std::vector<uint32_t> top(count);
        for (size_t i = 0; i < count; ++i) {
            top[i] = static_cast<uint32_t>(i);
        }
        m_shown.insert(m_shown.begin(), top.begin(), top.end());
    }
    endInsertRows();
}

void CListModel::ListWholeRegister() {
    beginResetModel();
    std::vector<Item>().swap(m_rows);
    std::vector<uint32_t>().swap(m_shown);
    if (m_lister) {
        const std::vector<const CCardMap::CAssoc*> entries = m_lister();
        m_rows.reserve(entries.size());
        for (const CCardMap::CAssoc* entry : entries) {
            m_rows.push_back(Item::Of(entry->key.view()));
        }
    }
    if (m_filter) {
        for (size_t i = 0; i < m_rows.size(); ++i) {
            if (Accepts(m_rows[i])) {
                m_shown.push_back(static_cast<uint32_t>(i));
            }
        }
    }
    endResetModel();
}

void CListModel::CardsChanged(const CCardNotice& notice) {
    if (notice.keys.empty()) {
        ListWholeRegister();
        return;
    }
    const CKeySet touched(notice.keys);
    // Rows of cards that have left the register go; cards new to it that have no row yet
    // come at the top; the rows of the others show their cards anew.
    std::vector<size_t> gone;
    std::unordered_set<std::string> listed;
    for (size_t i = 0; i < m_rows.size(); ++i) {
        const std::string_view key = m_rows[i].Key();
        if (touched.Contains(key)) {
            listed.emplace(key);
            if (CardOfItem(m_rows[i]) == nullptr) {
                gone.push_back(i);
            }
        }
    }
    RemoveListed(gone);
    std::vector<std::string> added;
    for (const std::string& key : notice.added) {
        if (listed.count(key) == 0 && m_pCards != nullptr && m_pCards->Lookup(key) != nullptr) {
            added.push_back(key);
        }
    }
    InsertAtTop(added);
    int first = -1;
    int last = -1;
    const int rows = rowCount();
    for (int r = 0; r < rows; ++r) {
        if (touched.Contains(m_rows[ListedOf(r)].Key())) {
            first = first < 0 ? r : first;
            last = r;
        }
    }
    if (first >= 0 && columnCount() > 0) {
        emit dataChanged(index(first, 0), index(last, columnCount() - 1));
    }
}

template <class IndexOf>
std::vector<uint32_t> CListModel::Accepted(size_t count, IndexOf indexOf,
                                           const Prefetch& prefetch) const {
    // A batch of rows at a time: their cards are looked up, then fetched, then tried, so that
    // the memory of a batch is asked for at once rather than card after card (the cards of a
    // register built over time lie all over the heap).
    constexpr size_t kBatch = 32;
    std::array<const CCard*, kBatch> cards{};
    std::vector<uint32_t> accepted;
    for (size_t start = 0; start < count; start += kBatch) {
        const size_t n = std::min(kBatch, count - start);
        for (size_t j = 0; j < n; ++j) {
            cards[j] = CardOfItem(m_rows[indexOf(start + j)]);
            if (cards[j] != nullptr) {
                for (size_t at = 0; at < sizeof(CCard); at += 64) {
                    __builtin_prefetch(reinterpret_cast<const char*>(cards[j]) + at);
                }
            }
        }
        if (prefetch) {
            for (size_t j = 0; j < n; ++j) {
                if (cards[j] != nullptr) {
                    prefetch(*cards[j]);
                }
            }
        }
        for (size_t j = 0; j < n; ++j) {
            if (cards[j] != nullptr && m_filter(*cards[j])) {
                accepted.push_back(static_cast<uint32_t>(indexOf(start + j)));
            }
        }
    }
    return accepted;
}

void CListModel::SetFilter(Filter keep, bool narrowing, Prefetch prefetch) {
    beginResetModel();
    if (!keep) {
        m_filter = nullptr;
        std::vector<uint32_t>().swap(m_shown);
    } else {
        const bool fromShown = narrowing && m_filter;
        m_filter = std::move(keep);
        std::vector<uint32_t> shown =
            fromShown ? Accepted(
                            m_shown.size(), [this](size_t k) { return m_shown[k]; }, prefetch)
                      : Accepted(
                            m_rows.size(), [](size_t k) { return k; }, prefetch);
        m_shown.swap(shown);
    }
    endResetModel();
}

const CCard* CListModel::CardOf(int row) const {
    if (row < 0 || row >= rowCount()) {
        return nullptr;
    }
    return CardOfItem(m_rows[ListedOf(row)]);
}

CListRow CListModel::Row(int row) const {
    const CCard* card = CardOf(row);
    return card != nullptr && m_maker ? m_maker(*card) : CListRow();
}

QString CListModel::Text(int row, int column) const {
    return column < 0 ? QString() : Row(row).Cell(column).toString();
}

std::string_view CListModel::Key(int row) const {
    if (row < 0 || row >= rowCount()) {
        return std::string_view();
    }
    return m_rows[ListedOf(row)].Key();
}

int CListModel::RowOf(std::string_view key) const {
    const int rows = rowCount();
    for (int r = 0; r < rows; ++r) {
        if (m_rows[ListedOf(r)].Key() == key) {
            return r;
        }
    }
    return -1;
}

bool CListModel::FindColumnBackColor(int column, QColor& color) const {
    return FindColumn(m_lstColumnBack, column, color);
}

bool CListModel::FindColumnForeColor(int column, QColor& color) const {
    return FindColumn(m_lstColumnFore, column, color);
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

// Paints a cell in the colours that the model gives it (a selected row on the highlight
// colour), its text in the list's cell font, centred with the metrics of the ordinary GUI
// font.
class CCellDelegate : public QStyledItemDelegate {
public:
    explicit CCellDelegate(CListCtrlCl* list) : QStyledItemDelegate(list), m_pList(list) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        const bool selected = option.state & QStyle::State_Selected;
        painter->save();
        painter->fillRect(option.rect,
                          selected ? m_pList->palette().color(QPalette::Active, QPalette::Highlight)
                                   : index.data(Qt::BackgroundRole).value<QBrush>().color());
        const QString& align = m_pList->m_ctlHeader.m_strAlign;
        const int column = index.column();
        const Qt::Alignment horizontal =
            CHeaderCtrlCl::AlignmentOf(column < align.size() ? align.at(column) : QChar());
        QRect text = option.rect;
        const int guiHeight = QFontMetrics(QApplication::font()).height();
        text.translate(0, (option.rect.height() - guiHeight) / 2);
        painter->setPen(index.data(Qt::ForegroundRole).value<QBrush>().color());
        painter->setFont(SongFont(m_pList->m_nFontHeight, m_pList->m_nFontWidth));
        painter->drawText(text, static_cast<int>(horizontal | Qt::AlignTop),
                          DrawnText(index.data().toString()));
        painter->restore();
    }

private:
    CListCtrlCl* m_pList;
};

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
    setSelectionMode(QAbstractItemView::SingleSelection);
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
    m_pModel->m_lstColumnBack.push_back({column, color});
}

void CListCtrlCl::SetColumnForeColor(int column, const QColor& color) {
    m_pModel->m_lstColumnFore.push_back({column, color});
}

bool CListCtrlCl::SetForeColor(const QColor& color) {
    m_pModel->m_clrText = color;
    return true;
}

void CListCtrlCl::SetBkColor(const QColor& color) {
    m_pModel->m_clrBack = color;
    QPalette p = palette();
    p.setColor(QPalette::Base, color);
    setPalette(p);
}

void CListCtrlCl::SetTextFont(int height, int width) {
    m_nFontHeight = height;
    m_nFontWidth = width;
}

void CListCtrlCl::SetRowHeight(int height) {
    // 0 or less keeps the list's own row height.
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

void CListCtrlCl::SetRowSource(const CCardMap* cards, CListModel::RowMaker maker,
                               CListModel::Lister lister) {
    m_pModel->SetRowSource(cards, std::move(maker), std::move(lister));
}

void CListCtrlCl::AppendEntries(const std::vector<const CCardMap::CAssoc*>& entries) {
    m_pModel->AppendEntries(entries);
}

CListRow CListCtrlCl::GetRow(int row) const {
    return m_pModel->Row(row);
}

QString CListCtrlCl::GetItemText(int row, int column) const {
    return m_pModel->Text(row, column);
}

std::string_view CListCtrlCl::ItemKey(int row) const {
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

void CListCtrlCl::MarkRow(int row) {
    if (row < 0 || row >= m_pModel->rowCount()) {
        selectionModel()->clear();
        return;
    }
    // The column at the left edge, so that marking a row does not scroll sideways.
    const QModelIndex at = m_pModel->index(row, std::max(0, columnAt(0)));
    selectionModel()->setCurrentIndex(
        at, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    scrollTo(at);
}

void CListCtrlCl::mouseReleaseEvent(QMouseEvent* event) {
    QTableView::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton) {
        emit Clicked();
    }
}
