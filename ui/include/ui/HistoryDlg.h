#pragma once

#include <QDialog>
#include <QString>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "history/HistoryExport.h"
#include "history/HistoryView.h"

class CCardStore;

class CHistoryModel;
class QComboBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;

// The control ids of "操作记录"; each control's object name carries its id (app/ControlId.h).
namespace HistoryIds {

inline constexpr int IDC_HISTORY_FROM = 1501;          // "从" date picker
inline constexpr int IDC_HISTORY_TO = 1502;            // "到" date picker
inline constexpr int IDC_HISTORY_CARDNO = 1503;        // "卡号:"
inline constexpr int IDC_HISTORY_NAME = 1504;          // "姓名:"
inline constexpr int IDC_HISTORY_OPERATION = 1505;     // "操作:"
inline constexpr int IDC_HISTORY_QUERY = 1506;         // "查询"
inline constexpr int IDC_HISTORY_COUNT = 1507;         // "共N条记录"
inline constexpr int IDC_HISTORY_LIST = 1508;          // the records
inline constexpr int IDC_HISTORY_EXPORT_CSV = 1509;    // "导出CSV…"
inline constexpr int IDC_HISTORY_EXPORT_EXCEL = 1510;  // "导出EXCEL…"
inline constexpr int IDC_HISTORY_CLOSE = 2;            // "关闭"

}  // namespace HistoryIds

// The file the history windows read: the store's history brought up to date (a server's is
// copied first, under a wait cursor); what is amiss with it is told over `parent`.
std::string HistoryToShow(QWidget* parent, CCardStore& store);

// "操作记录": the history of the register's changes, newest first, filtered by a range of
// days, a part of the card number or of the name and an operation; what it shows can be
// exported as CSV or as a workbook, with each record's number and hash for a later check.
// The history is read once when the window opens; the list reads it row by row as it paints.
class CHistoryDlg : public QDialog {
    Q_OBJECT
public:
    // `historyPath`: the history file (it need not exist). A `cardNo` starts the card-number
    // filter with it.
    explicit CHistoryDlg(const std::string& historyPath, const QString& cardNo = QString(),
                         QWidget* parent = nullptr);
    ~CHistoryDlg() override;

    // "查询" (and Enter): shows the records that match the filter row.
    void OnQuery();
    // "导出CSV…" and "导出EXCEL…": what the list shows, in its order.
    void OnExportCsv();
    void OnExportExcel();

    const CHistoryView& View() const { return m_view; }
    // The rows of View() that the list shows, top to bottom.
    const std::vector<uint32_t>& Shown() const { return m_shown; }
    QWidget* Control(int id) const;

private:
    HistoryFilter FilterOfControls() const;
    void UpdateCount();

    CHistoryView m_view;
    std::vector<uint32_t> m_shown;
    QString m_strReadError;  // why an existing history could not be read

    QDateEdit* m_pFrom = nullptr;
    QDateEdit* m_pTo = nullptr;
    QLineEdit* m_pCardNo = nullptr;
    QLineEdit* m_pName = nullptr;
    QComboBox* m_pOperation = nullptr;
    QLabel* m_pCount = nullptr;
    QTableView* m_pList = nullptr;
    QPushButton* m_pExportCsv = nullptr;
    QPushButton* m_pExportExcel = nullptr;
    CHistoryModel* m_pModel = nullptr;
};
