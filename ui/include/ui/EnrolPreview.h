#pragma once

#include <QAbstractTableModel>

#include "enrol/EnrolPlan.h"

// The preview of a batch enrolment: one row for each row of the file that is not blank, with
// its row number, its outcome, the card number (given automatically: marked), the holder's
// name and the difference or the reason. Nothing is copied: a row's texts are made when shown.
class CEnrolPreview : public QAbstractTableModel {
    Q_OBJECT
public:
    using QAbstractTableModel::QAbstractTableModel;

    static constexpr int kColumns = 5;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // Shows `plan` of `rows` under `map`; all three must outlive the model's use of them.
    void Show(const CEnrolPlan* plan, const CSheetRows* rows, const CColumnMap* map);
    // Whether the changes of holder go into the register ("允许更换持卡人").
    void AllowHolderChange(bool allow);
    // The text of a cell, as shown.
    QString Text(int row, int column) const;

private:
    const CEnrolPlan* m_pPlan = nullptr;
    const CSheetRows* m_pRows = nullptr;
    const CColumnMap* m_pMap = nullptr;
    bool m_bAllowHolderChange = false;
};

// The outcome's word: "新增", "修改", "不变", "拒绝", "更换持卡人".
QString OutcomeText(RowOutcome outcome);
