#pragma once

#include <QDialog>

#include <memory>
#include <string>

#include "history/FeeSummary.h"
#include "store/HistoryFile.h"

class QDateEdit;
class QLabel;
class QRadioButton;
class QTableView;
class QTableWidget;

// The control ids of "收费汇总"; each control's object name carries its id (app/ControlId.h).
namespace FeeSummaryIds {

inline constexpr int IDC_FEE_FROM = 1601;          // "从" picker
inline constexpr int IDC_FEE_TO = 1602;            // "到" picker
inline constexpr int IDC_FEE_BY_DAY = 1603;        // "按日"
inline constexpr int IDC_FEE_BY_MONTH = 1604;      // "按月"
inline constexpr int IDC_FEE_SUMMARIZE = 1605;     // "统计"
inline constexpr int IDC_FEE_LINES = 1606;         // the sums per period
inline constexpr int IDC_FEE_TOTAL = 1607;         // "合计:N笔,M元"
inline constexpr int IDC_FEE_PAYMENTS = 1608;      // the payments of the selected period
inline constexpr int IDC_FEE_EXPORT_CSV = 1609;    // "导出CSV…"
inline constexpr int IDC_FEE_EXPORT_EXCEL = 1610;  // "导出EXCEL…"
inline constexpr int IDC_FEE_CLOSE = 2;            // "关闭"

}  // namespace FeeSummaryIds

class CFeePaymentsModel;

// "收费汇总": the fees received, from the register's history, summed per day or per month over
// a range of days; a period's payments below its line.
class CFeeSummaryDlg : public QDialog {
    Q_OBJECT
public:
    // `historyPath`: the history file ("<register>.history"); read at every "统计".
    explicit CFeeSummaryDlg(std::string historyPath, QWidget* parent = nullptr);
    ~CFeeSummaryDlg() override;

    // "统计": reads the history and sums the chosen range.
    void OnSummarize();
    // Shows the payments of line `line` of the summary.
    void ShowPayments(int line);
    // "导出CSV…", "导出EXCEL…": the summary with the grand total as its last row.
    void OnExportCsv();
    void OnExportExcel();

    const CFeeSummary& Summary() const { return m_summary; }
    QWidget* Control(int id) const;

private:
    std::string m_strHistoryPath;
    CHistoryFile::Contents m_contents;
    CFeeSummary m_summary;

    QDateEdit* m_pFrom = nullptr;
    QDateEdit* m_pTo = nullptr;
    QRadioButton* m_pByDay = nullptr;
    QRadioButton* m_pByMonth = nullptr;
    QTableWidget* m_pLines = nullptr;
    QLabel* m_pTotal = nullptr;
    QTableView* m_pPayments = nullptr;
    std::unique_ptr<CFeePaymentsModel> m_pPaymentsModel;
};
