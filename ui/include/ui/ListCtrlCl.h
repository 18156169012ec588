#pragma once

#include <QAbstractTableModel>
#include <QColor>
#include <QTableView>

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "register/CardMap.h"
#include "ui/HeaderCtrlCl.h"
#include "ui/ListRow.h"

// The rows behind the card list. A row either shows a register card by its key, its cells
// made from the card each time they are asked for (so that a list of a million cards costs
// a key a row), or holds cells of its own: rows inserted one by one, and rows whose cells the
// window wrote. A row whose key has left the register shows no cells.
class CListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    using QAbstractTableModel::QAbstractTableModel;
    using RowMaker = std::function<CListRow(std::string_view key, const CCard& card)>;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    void AddColumn(const QString& title);
    void InsertRow(int row, const QString& firstText);
    void AppendRows(std::vector<CListRow> rows);
    // The register whose cards the rows of AppendEntries show, and what makes their cells.
    // The register must outlive the list.
    void SetRowSource(const CCardMap* cards, RowMaker maker);
    // Rows that show the cards of these entries, in this order.
    void AppendEntries(const std::vector<const CCardMap::CAssoc*>& entries);
    void RemoveRow(int row);
    void RemoveAllRows();
    // Writing a cell or the key of a card's row gives the row cells of its own first.
    void SetText(int row, int column, const QString& text);
    QString Text(int row, int column) const;
    // All cells of a row at once.
    CListRow Row(int row) const;
    void SetKey(int row, std::string key);
    std::string_view Key(int row) const;

private:
    // A card's row has its key (up to kShortKey bytes, NUL-padded) and no cells; a row of its
    // own has cells, with the key in them. A card under a longer key gets cells of its own
    // when it is listed.
    static constexpr size_t kShortKey = 8;
    struct Item {
        std::array<char, kShortKey> key{};
        std::unique_ptr<CListRow> cells;
        std::string_view ShortKey() const;
    };
    CListRow MadeRow(const Item& item) const;
    CListRow& OwnCells(Item& item);

    QStringList m_titles;
    std::vector<Item> m_rows;
    const CCardMap* m_pCards = nullptr;
    RowMaker m_maker;
};

struct ColorEntry {
    int nRow = 0;
    int nCol = 0;
    QColor clr;
};

// The card list: a table of cell texts painted with background and text colours by column or
// cell (the first entry for a column or cell wins), a fixed row height and the "宋体" face.
// Columns cannot be resized by the operator.
class CListCtrlCl : public QTableView {
    Q_OBJECT
public:
    explicit CListCtrlCl(QWidget* parent = nullptr);

    CHeaderCtrlCl m_ctlHeader;
    int m_nRowHeight = 0;
    std::vector<ColorEntry> m_lstColumnBack;
    std::vector<ColorEntry> m_lstCellBack;
    std::vector<ColorEntry> m_lstColumnFore;
    std::vector<ColorEntry> m_lstCellFore;
    QColor m_clrText = QColor(0, 0, 0);
    int m_nFontHeight = 12;
    int m_nFontWidth = 0;

    // format: 0 left, 2 centre, 1 right (anything else centres); returns the column index,
    // or -1 beyond CListRow::kMaxCells columns.
    int InsertColumn(int column, const QString& title, int format, int width, int subItem = -1);
    void SetColumnBackColor(int column, const QColor& color);
    void SetColumnForeColor(int column, const QColor& color);
    void SetCellBackColor(int row, int column, const QColor& color);
    void SetCellForeColor(int row, int column, const QColor& color);
    bool SetForeColor(const QColor& color);
    void SetBkColor(const QColor& color);
    QColor GetBkColor() const { return m_clrBack; }
    void SetTextFont(int height, int width);
    void SetRowHeight(int height);
    void SetHeaderGradient(int red, int green, int blue, int step);
    void SetHeaderHeightScale(float factor);
    void SetHeaderFont(int height, int width);
    void SetHeaderForeColor(const QColor& color);

    bool FindColumnBackColor(int column, QColor& color) const;
    bool FindCellBackColor(int column, int row, QColor& color) const;
    bool FindColumnForeColor(int column, QColor& color) const;
    bool FindCellForeColor(int column, int row, QColor& color) const;
    // What a cell is painted with.
    QColor CellBackground(int row, int column, bool selected) const;
    QColor CellForeground(int row, int column) const;

    // The list operations of the windows.
    int InsertItem(int row, const QString& text);
    // Appends whole rows of cell texts at once.
    void AppendRows(std::vector<CListRow> rows);
    // Appends rows that show register cards (the fill of a large list), their cells made
    // from the card when they are shown.
    void AppendEntries(const std::vector<const CCardMap::CAssoc*>& entries);
    void SetRowSource(const CCardMap* cards, CListModel::RowMaker maker);
    // All cells of a row; none beyond the rows.
    CListRow GetRow(int row) const;
    bool SetItemText(int row, int column, const QString& text);
    QString GetItemText(int row, int column) const;
    // The key that a row carries (the register key of its card); empty without one.
    bool SetItemKey(int row, std::string key);
    std::string GetItemKey(int row) const;
    // The same, valid until the row or its card changes.
    std::string_view ItemKey(int row) const;
    bool DeleteItem(int row);
    void DeleteAllItems();
    int GetItemCount() const;
    int GetSelectionMark() const;
    // Moves the selection mark (the current row) without changing which rows are selected.
    void SetSelectionMark(int row);
    CListModel* Model() const { return m_pModel; }

signals:
    // A left click in the list, on a row or beside the rows.
    void Clicked();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    CListModel* m_pModel;
    QColor m_clrBack = QColor(255, 255, 255);
};
