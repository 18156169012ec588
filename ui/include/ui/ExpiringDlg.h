#pragma once

#include <QDialog>

#include <memory>

#include "history/ExpiringCards.h"
#include "register/CardMap.h"

class QLabel;
class QSpinBox;
class QTableView;

// The control ids of "即将到期"; each control's object name carries its id (app/ControlId.h).
namespace ExpiringIds {

inline constexpr int IDC_EXPIRING_DAYS = 1701;          // "天数:"
inline constexpr int IDC_EXPIRING_QUERY = 1702;         // "查询"
inline constexpr int IDC_EXPIRING_LIST = 1703;          // the cards
inline constexpr int IDC_EXPIRING_COUNT = 1704;         // "共N张卡"
inline constexpr int IDC_EXPIRING_SKIPPED = 1705;       // cards whose validity is no date
inline constexpr int IDC_EXPIRING_EXPORT_CSV = 1706;    // "导出CSV…"
inline constexpr int IDC_EXPIRING_EXPORT_EXCEL = 1707;  // "导出EXCEL…"
inline constexpr int IDC_EXPIRING_CLOSE = 2;            // "关闭"

}  // namespace ExpiringIds

class CExpiringModel;

// "即将到期": the cards whose validity ends within the chosen number of days or has ended,
// sortable by any column, the expired ones in red.
class CExpiringDlg : public QDialog {
    Q_OBJECT
public:
    explicit CExpiringDlg(const CCardMap& cards, QWidget* parent = nullptr);
    ~CExpiringDlg() override;

    // "查询": lists the cards for the number of days chosen, counted from today.
    void OnQuery();
    // "导出CSV…", "导出EXCEL…": the cards in the order shown.
    void OnExportCsv();
    void OnExportExcel();

    const CExpiringList& List() const;
    QWidget* Control(int id) const;

private:
    const CCardMap& m_cards;
    std::unique_ptr<CExpiringModel> m_pModel;
    QSpinBox* m_pDays = nullptr;
    QTableView* m_pList = nullptr;
    QLabel* m_pCount = nullptr;
    QLabel* m_pSkipped = nullptr;
};
