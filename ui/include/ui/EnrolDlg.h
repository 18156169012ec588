#pragma once

#include <QDialog>

#include "app/CardDesk.h"
#include "enrol/EnrolPlan.h"
#include "enrol/SheetRows.h"
#include "ui/EnrolPreview.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;
class QTableWidget;

// "批量登记": the operator chooses a resident list (CSV or .xlsx), maps its columns to the
// card's fields, chooses the doors new cards open, sees what each row would do and confirms;
// then every accepted row goes into the register at once, after the register has been written
// to disk with its backup. A card goes to another holder only with "允许更换持卡人" ticked.
// Of a wide list the first CSheetRows::kMaxColumns columns are read.
class CEnrolDlg : public QDialog {
    Q_OBJECT
public:
    explicit CEnrolDlg(CCardDesk desk, QWidget* parent = nullptr);
    // Gives the memory of the list and its plan back to the system.
    ~CEnrolDlg() override;

    // "选择文件…": the file dialog, then LoadFile.
    void OnChooseFile();
    // Reads the list and previews it, the columns mapped by its header row where it has one;
    // false when it could not be read (the operator has been told).
    bool LoadFile(const QString& path);
    // "确认登记".
    void OnConfirm();
    // "保存拒绝的行…".
    void OnSaveRefused();

    const CEnrolPlan& Plan() const { return m_plan; }
    const CColumnMap& ColumnMap() const { return m_map; }
    QWidget* Control(int id) const;

private:
    void FillColumns();
    void OnFieldChosen(int column, int choice);
    void OnHeaderToggled();
    // Works the plan out anew and shows it.
    void UpdatePlan();
    void UpdateControls();
    size_t FirstRow() const;
    bool AllowHolderChange() const;

    CCardDesk m_desk;
    CSheetRows m_rows;
    CColumnMap m_map;
    CEnrolPlan m_plan;
    bool m_bHeader = false;
    bool m_bEnrolled = false;  // the plan has gone into the register
    bool m_bFilling = false;   // the column choosers are being filled

    QLineEdit* m_pFile = nullptr;
    QCheckBox* m_pHeader = nullptr;
    QTableWidget* m_pColumns = nullptr;
    QTableView* m_pPreview = nullptr;
    QLabel* m_pSummary = nullptr;
    QPushButton* m_pConfirm = nullptr;
    QPushButton* m_pSaveRefused = nullptr;
    QCheckBox* m_pAllowHolder = nullptr;
    QCheckBox* m_pDoors[17] = {};  // m_pDoors[1] ... m_pDoors[16]
    CEnrolPreview m_preview;
};
