#include "ui/ExpiringDlg.h"

#include <QAbstractTableModel>
#include <QBrush>
#include <QDate>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTableView>
#include <QVBoxLayout>

#include "app/ControlId.h"
#include "app/DialogLayout.h"
#include "app/WaitCursor.h"
#include "ui/TableExport.h"

using namespace ExpiringIds;

// The cards of the list in the order the header shows, their texts made as the view asks for
// them.
class CExpiringModel : public QAbstractTableModel {
public:
    void Show(CExpiringList list) {
        beginResetModel();
        m_list = std::move(list);
        m_order.clear();
        endResetModel();
    }
    const CExpiringList& List() const { return m_list; }
    const std::vector<uint32_t>& Order() const { return m_order; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override {
        return parent.isValid() ? 0 : static_cast<int>(m_order.size());
    }
    int columnCount(const QModelIndex& parent = QModelIndex()) const override {
        return parent.isValid() ? 0 : kExpiringColumnCount;
    }
    QVariant data(const QModelIndex& index, int role) const override {
        if (!index.isValid()) {
            return QVariant();
        }
        const CExpiringCard& card = m_list.cards[m_order[static_cast<size_t>(index.row())]];
        const auto column = static_cast<ExpiringColumn>(index.column());
        switch (role) {
            case Qt::DisplayRole:
                return QString::fromStdString(ExpiringCellText(card, column));
            case Qt::ForegroundRole:
                return card.daysLeft < 0 ? QVariant(QBrush(Qt::red)) : QVariant();
            case Qt::TextAlignmentRole:
                return column == ExpiringColumn::DaysLeft
                           ? QVariant(Qt::AlignRight | Qt::AlignVCenter)
                           : QVariant();
            default:
                return QVariant();
        }
    }
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
            section >= kExpiringColumnCount) {
            return QAbstractTableModel::headerData(section, orientation, role);
        }
        return QString::fromStdString(ExpiringColumnTitles()[static_cast<size_t>(section)]);
    }
    void sort(int column, Qt::SortOrder order) override {
        if (column < 0 || column >= kExpiringColumnCount) {
            return;
        }
        WaitCursor wait;
        beginResetModel();
        m_order = ExpiringOrder(m_list.cards, static_cast<ExpiringColumn>(column),
                                order == Qt::DescendingOrder);
        endResetModel();
    }

private:
    CExpiringList m_list;  // in validity order
    std::vector<uint32_t> m_order;
};

CExpiringDlg::CExpiringDlg(const CCardMap& cards, QWidget* parent)
    : QDialog(parent), m_cards(cards), m_pModel(std::make_unique<CExpiringModel>()) {
    SetUpResizableDialog(this, QStringLiteral("即将到期"), 420, 300);

    const auto button = [this](int id, const char* text) { return AddButton(this, id, text); };
    m_pDays = new QSpinBox(this);
    m_pDays->setRange(1, 3650);
    m_pDays->setValue(30);
    SetControlId(m_pDays, IDC_EXPIRING_DAYS);
    auto* daysLabel = new QLabel(QStringLiteral("天数:"), this);
    daysLabel->setBuddy(m_pDays);
    m_pDays->setAccessibleName(QStringLiteral("天数:"));
    auto* query = button(IDC_EXPIRING_QUERY, "查询");
    query->setDefault(true);  // Enter in the number of days lists

    m_pList = new QTableView(this);
    SetControlId(m_pList, IDC_EXPIRING_LIST);
    m_pList->setAccessibleName(QStringLiteral("即将到期的卡"));
    m_pList->setModel(m_pModel.get());
    m_pList->verticalHeader()->hide();
    m_pList->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    m_pList->horizontalHeader()->setStretchLastSection(true);
    m_pList->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_pList->setWordWrap(false);
    m_pList->setColumnWidth(2, fontMetrics().horizontalAdvance(QStringLiteral("00栋00单元0000")));
    // Sorted by validity until the operator clicks another header.
    m_pList->horizontalHeader()->setSortIndicator(static_cast<int>(ExpiringColumn::Validity),
                                                  Qt::AscendingOrder);
    m_pList->setSortingEnabled(true);

    m_pCount = new QLabel(this);
    SetControlId(m_pCount, IDC_EXPIRING_COUNT);
    m_pSkipped = new QLabel(this);
    SetControlId(m_pSkipped, IDC_EXPIRING_SKIPPED);
    auto* exportCsv = button(IDC_EXPIRING_EXPORT_CSV, "导出CSV…");
    auto* exportExcel = button(IDC_EXPIRING_EXPORT_EXCEL, "导出EXCEL…");
    auto* close = button(IDC_EXPIRING_CLOSE, "关闭");

    auto* top = new QHBoxLayout;
    top->addWidget(daysLabel);
    top->addWidget(m_pDays);
    top->addWidget(query);
    top->addStretch(1);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(m_pCount);
    bottom->addWidget(m_pSkipped, 1);
    bottom->addWidget(exportCsv);
    bottom->addWidget(exportExcel);
    bottom->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(m_pList, 1);
    layout->addLayout(bottom);

    connect(query, &QPushButton::clicked, this, &CExpiringDlg::OnQuery);
    connect(exportCsv, &QPushButton::clicked, this, &CExpiringDlg::OnExportCsv);
    connect(exportExcel, &QPushButton::clicked, this, &CExpiringDlg::OnExportExcel);
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    KeepEnterForTheDefault(this);

    OnQuery();
}

CExpiringDlg::~CExpiringDlg() = default;

QWidget* CExpiringDlg::Control(int id) const {
    return FindControl(this, id);
}

const CExpiringList& CExpiringDlg::List() const {
    return m_pModel->List();
}

void CExpiringDlg::OnQuery() {
    m_pDays->interpretText();  // a number typed and not yet confirmed counts
    const QDate today = QDate::currentDate();
    {
        WaitCursor wait;
        m_pModel->Show(FindExpiringCards(
            m_cards, today.year() * 10000 + today.month() * 100 + today.day(), m_pDays->value()));
        // In the order the header shows.
        const QHeaderView* header = m_pList->horizontalHeader();
        m_pModel->sort(header->sortIndicatorSection(), header->sortIndicatorOrder());
    }
    const CExpiringList& list = m_pModel->List();
    m_pCount->setText(QStringLiteral("共%1张卡").arg(list.cards.size()));
    m_pSkipped->setText(
        list.skipped == 0
            ? QString()
            : QStringLiteral("(另有%1张卡的有效期不是日期,没有列出)").arg(list.skipped));
}

void CExpiringDlg::OnExportCsv() {
    const CExpiringList& list = m_pModel->List();
    ExportTableAsked(this, TableFileFormat::Csv, ExpiringExportTable(list.cards, m_pModel->Order()),
                     "即将到期", QStringLiteral("已导出%1张卡到 %2").arg(list.cards.size()));
}

void CExpiringDlg::OnExportExcel() {
    const CExpiringList& list = m_pModel->List();
    ExportTableAsked(this, TableFileFormat::Xlsx,
                     ExpiringExportTable(list.cards, m_pModel->Order()), "即将到期",
                     QStringLiteral("已导出%1张卡到 %2").arg(list.cards.size()));
}
