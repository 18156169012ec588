#include "ui/EnrolPreview.h"

#include <QBrush>
#include <QColor>

QString OutcomeText(RowOutcome outcome) {
    switch (outcome) {
        case RowOutcome::New:
            return QStringLiteral("新增");
        case RowOutcome::Changed:
            return QStringLiteral("修改");
        case RowOutcome::Unchanged:
            return QStringLiteral("不变");
        case RowOutcome::HolderChange:
            return QStringLiteral("更换持卡人");
        default:
            return QStringLiteral("拒绝");
    }
}

int CEnrolPreview::rowCount(const QModelIndex& parent) const {
    return parent.isValid() || m_pPlan == nullptr ? 0 : static_cast<int>(m_pPlan->rows.size());
}

int CEnrolPreview::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumns;
}

void CEnrolPreview::Show(const CEnrolPlan* plan, const CSheetRows* rows, const CColumnMap* map) {
    beginResetModel();
    m_pPlan = plan;
    m_pRows = rows;
    m_pMap = map;
    endResetModel();
}

void CEnrolPreview::AllowHolderChange(bool allow) {
    m_bAllowHolderChange = allow;
    if (rowCount() > 0) {
        emit dataChanged(index(0, 0), index(rowCount() - 1, kColumns - 1));
    }
}

QString CEnrolPreview::Text(int r, int column) const {
    if (m_pPlan == nullptr || r < 0 || static_cast<size_t>(r) >= m_pPlan->rows.size()) {
        return QString();
    }
    const CEnrolRow& row = m_pPlan->rows[static_cast<size_t>(r)];
    switch (column) {
        case 0:
            return QString::number(row.line);
        case 1:
            return OutcomeText(row.outcome);
        case 2:
            return row.cardNoGiven || row.cardNo.empty()
                       ? QString::fromStdString(row.cardNo)
                       : QStringLiteral("%1(自动)").arg(QString::fromStdString(row.cardNo));
        case 3: {
            for (size_t c = 0; c < m_pMap->size(); ++c) {
                if ((*m_pMap)[c] == EnrolField::Name) {
                    return QString::fromUtf8(TrimBlanks(m_pRows->Cell(row.line - 1, c)));
                }
            }
            return QString();
        }
        default:
            break;
    }
    if (row.outcome == RowOutcome::Refused) {
        return QString::fromStdString(row.reason);
    }
    QStringList changes;
    for (const CFieldChange& change : row.changes) {
        changes << QStringLiteral("%1: %2 → %3")
                       .arg(QString::fromUtf8(EnrolFieldTitle(change.field)),
                            QString::fromStdString(change.before),
                            QString::fromStdString(change.after));
    }
    QString text = changes.join(QStringLiteral("; "));
    if (row.outcome == RowOutcome::HolderChange && !m_bAllowHolderChange) {
        text.prepend(QStringLiteral("未勾选“允许更换持卡人”,不登记: "));
    }
    return text;
}

QVariant CEnrolPreview::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) {
        return QVariant();
    }
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole) {
        return Text(index.row(), index.column());
    }
    if (role == Qt::BackgroundRole && index.column() == 1 &&
        m_pPlan->rows[static_cast<size_t>(index.row())].outcome == RowOutcome::HolderChange) {
        return QBrush(QColor(255, 236, 179));
    }
    if (role == Qt::ForegroundRole) {
        switch (m_pPlan->rows[static_cast<size_t>(index.row())].outcome) {
            case RowOutcome::Refused:
                return QBrush(QColor(200, 0, 0));
            case RowOutcome::Changed:
                return QBrush(QColor(0, 0, 200));
            case RowOutcome::Unchanged:
                return QBrush(QColor(110, 110, 110));
            case RowOutcome::HolderChange:
                return QBrush(QColor(190, 90, 0));
            default:
                break;
        }
    }
    return QVariant();
}

QVariant CEnrolPreview::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) {
        return QAbstractTableModel::headerData(section, orientation, role);
    }
    const char* const titles[kColumns] = {"行", "结果", "卡号", "姓名", "说明"};
    return section >= 0 && section < kColumns ? QString::fromUtf8(titles[section]) : QVariant();
}
