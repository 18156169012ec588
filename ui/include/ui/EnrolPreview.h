#pragma once

#include <QAbstractTableModel>

#include "enrol/EnrolPlan.h"

// The preview of a batch enrolment: one row for each row of the file that is not blank, with
// its row number, its outcome, the card number (given automatically: marked), the holder's
// name and the difference or the reason.
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
    // The text of a cell, as shown.
    QString Text(int row, int column) const;

private:
    const CEnrolPlan* m_pPlan = nullptr;
    const CSheetRows* m_pRows = nullptr;
    const CColumnMap* m_pMap = nullptr;
};

// The outcome's word: "新增", "修改", "不变", "拒绝".
QString OutcomeText(RowOutcome outcome);
