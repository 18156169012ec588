#pragma once

#include <QAbstractTableModel>
#include <QColor>
#include <QTableView>

#include <string>
#include <vector>

#include "ui/HeaderCtrlCl.h"
#include "ui/ListRow.h"

// The rows of cell texts behind the card list.
class CListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    using QAbstractTableModel::QAbstractTableModel;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    void AddColumn(const QString& title);
    void InsertRow(int row, const QString& firstText);
    void AppendRows(std::vector<CListRow> rows);
    void RemoveRow(int row);
    void RemoveAllRows();
    void SetText(int row, int column, const QString& text);
    QString Text(int row, int column) const;
    void SetKey(int row, std::string key);
    const std::string& Key(int row) const;

private:
    QStringList m_titles;
    std::vector<CListRow> m_rows;
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
    // Appends whole rows of cell texts at once (the fill of a large list).
    void AppendRows(std::vector<CListRow> rows);
    bool SetItemText(int row, int column, const QString& text);
    QString GetItemText(int row, int column) const;
    // The key that a row carries (the register key of its card); empty without one.
    bool SetItemKey(int row, std::string key);
    std::string GetItemKey(int row) const;
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
