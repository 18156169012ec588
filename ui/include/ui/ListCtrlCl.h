#pragma once

#include <QAbstractTableModel>
#include <QColor>
#include <QTableView>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "register/CardMap.h"
#include "store/CardStore.h"
#include "ui/HeaderCtrlCl.h"
#include "ui/ListRow.h"

struct ColorEntry {
    int nCol = 0;
    QColor clr;
};

// The rows behind the card list. Each row shows a register card by its key: its cells and
// colours are made from the card each time they are asked for, so a list of a million cards
// costs a key a row and always shows the register as it is. Told by the card store of every
// change, it refreshes the rows of changed cards, removes those of removed cards, puts cards
// new to the register at the top and lists the register anew when it was replaced.
//
// The rows as listed (by the window's fill, a query) can be narrowed by a filter; the rows
// then shown are those of the listed rows that the filter accepts, and cards that are new to
// the register are shown at the top whether or not it accepts them.
class CListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    using RowMaker = std::function<CListRow(const CCard& card)>;
    // The rows of the whole register, in the order that a fresh list has.
    using Lister = std::function<std::vector<const CCardMap::CAssoc*>()>;
    using Filter = std::function<bool(const CCard& card)>;
    // Asks for the memory that a filter will read of a card (__builtin_prefetch), so that the
    // cards of many rows come from memory at once.
    using Prefetch = std::function<void(const CCard& card)>;

    using QAbstractTableModel::QAbstractTableModel;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    // The cell text (display and accessible text) and its colours (background and text).
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    void AddColumn(const QString& title);
    // The register whose cards the rows show, what makes their cells and how the whole
    // register is listed. The register must outlive the list.
    void SetRowSource(const CCardMap* cards, RowMaker maker, Lister lister);
    // Follows the store's changes from now on, for as long as the model exists.
    void Watch(CCardStore& store);
    void CardsChanged(const CCardNotice& notice);

    // Rows for these entries after the listed rows, in this order.
    void AppendEntries(const std::vector<const CCardMap::CAssoc*>& entries);
    void RemoveRow(int row);
    void RemoveAllRows();

    // Shows only the listed rows whose card `keep` accepts; none: every listed row again.
    // `narrowing`: `keep` accepts no card that the filter in force refuses, so only the rows
    // shown now need to be tried.
    void SetFilter(Filter keep, bool narrowing, Prefetch prefetch = nullptr);

    QString Text(int row, int column) const;
    // All cells of a row; none for a row whose card has left the register.
    CListRow Row(int row) const;
    std::string_view Key(int row) const;
    // The first row that carries `key`, or -1.
    int RowOf(std::string_view key) const;
    const CCard* CardOf(int row) const;

    // Colours: the first entry for a column counts; a column's over the list's.
    std::vector<ColorEntry> m_lstColumnBack;
    std::vector<ColorEntry> m_lstColumnFore;
    QColor m_clrText = QColor(0, 0, 0);
    QColor m_clrBack = QColor(255, 255, 255);
    bool FindColumnBackColor(int column, QColor& color) const;
    bool FindColumnForeColor(int column, QColor& color) const;

private:
    // A key of up to kShortKey bytes is kept in the row itself (NUL-padded), a longer one
    // apart.
    static constexpr size_t kShortKey = 8;
    struct Item {
        std::array<char, kShortKey> shortKey{};
        std::unique_ptr<std::string> longKey;
        std::string_view Key() const;
        static Item Of(std::string_view key);
    };

    size_t ListedOf(int row) const {
        return m_filter ? m_shown[static_cast<size_t>(row)] : static_cast<size_t>(row);
    }
    const CCard* CardOfItem(const Item& item) const;
    bool Accepts(const Item& item) const;
    // The listed rows indexOf(0) ... indexOf(count - 1) whose card the filter accepts.
    template <class IndexOf>
    std::vector<uint32_t> Accepted(size_t count, IndexOf indexOf, const Prefetch& prefetch) const;
    // The listed rows `listed`, ascending, taken out of the list and out of the rows shown.
    void RemoveListed(const std::vector<size_t>& listed);
    void InsertAtTop(const std::vector<std::string>& keys);
    void ListWholeRegister();

    QStringList m_titles;
    std::vector<Item> m_rows;  // as listed
    // While a filter is in force: the rows shown, as indices into m_rows.
    std::vector<uint32_t> m_shown;
    Filter m_filter;
    const CCardMap* m_pCards = nullptr;
    RowMaker m_maker;
    Lister m_lister;
    CCardSubscription m_subscription;
};

// The card list: a table of cell texts painted with background and text colours by column (the
// first entry for a column wins), a fixed row height and the "宋体" face.
// Columns cannot be resized by the operator; one row at a time is selected.
class CListCtrlCl : public QTableView {
    Q_OBJECT
public:
    explicit CListCtrlCl(QWidget* parent = nullptr);

    CHeaderCtrlCl m_ctlHeader;
    int m_nFontHeight = 12;
    int m_nFontWidth = 0;

    // format: 0 left, 2 centre, 1 right (anything else centres); returns the column index,
    // or -1 beyond CListRow::kMaxCells columns.
    int InsertColumn(int column, const QString& title, int format, int width, int subItem = -1);
    void SetColumnBackColor(int column, const QColor& color);
    void SetColumnForeColor(int column, const QColor& color);
    bool SetForeColor(const QColor& color);
    void SetBkColor(const QColor& color);
    void SetTextFont(int height, int width);
    void SetRowHeight(int height);
    void SetHeaderGradient(int red, int green, int blue, int step);
    void SetHeaderHeightScale(float factor);
    void SetHeaderFont(int height, int width);
    void SetHeaderForeColor(const QColor& color);

    // The list operations of the windows (CListModel says what the rows are).
    void SetRowSource(const CCardMap* cards, CListModel::RowMaker maker, CListModel::Lister lister);
    void Watch(CCardStore& store) { m_pModel->Watch(store); }
    void AppendEntries(const std::vector<const CCardMap::CAssoc*>& entries);
    // All cells of a row; none beyond the rows.
    CListRow GetRow(int row) const;
    QString GetItemText(int row, int column) const;
    // The register key of a row's card, valid until the rows change; empty beyond the rows.
    std::string_view ItemKey(int row) const;
    bool DeleteItem(int row);
    void DeleteAllItems();
    int GetItemCount() const;
    // The current row (the last one clicked or marked), or -1.
    int GetSelectionMark() const;
    // Makes the row current and the one selected row, scrolled into view; -1: no row.
    void MarkRow(int row);
    CListModel* Model() const { return m_pModel; }

signals:
    // A left click in the list, on a row or beside the rows.
    void Clicked();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    CListModel* m_pModel;
};
