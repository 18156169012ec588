#include "ui/FeeSummaryDlg.h"

#include <QAbstractTableModel>
#include <QDate>
#include <QDateEdit>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <QTableWidget>
#include <QVBoxLayout>

#include "app/ControlId.h"
#include "app/DialogLayout.h"
#include "app/MessageBox.h"
#include "app/WaitCursor.h"
#include "ui/TableExport.h"

using namespace FeeSummaryIds;

namespace {

int32_t DayOf(const QDate& date) {
    return date.year() * 10000 + date.month() * 100 + date.day();
}

QTableWidgetItem* Cell(const QString& text, bool number) {
    auto* item = new QTableWidgetItem(text);
    if (number) {
        item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    }
    return item;
}

}  // namespace

// The payments of one period, their texts made as the view asks for them.
class CFeePaymentsModel : public QAbstractTableModel {
public:
    void Show(std::vector<CFeePayment> payments) {
        beginResetModel();
        m_payments = std::move(payments);
        endResetModel();
    }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override {
        return parent.isValid() ? 0 : static_cast<int>(m_payments.size());
    }
    int columnCount(const QModelIndex& parent = QModelIndex()) const override {
        return parent.isValid() ? 0 : 5;
    }
    QVariant data(const QModelIndex& index, int role) const override {
        if (!index.isValid()) {
            return QVariant();
        }
        if (role == Qt::TextAlignmentRole) {
            return index.column() == 4 ? QVariant(Qt::AlignRight | Qt::AlignVCenter) : QVariant();
        }
        if (role != Qt::DisplayRole) {
            return QVariant();
        }
        const CHistoryEntryView& entry = m_payments[static_cast<size_t>(index.row())].entry;
        switch (index.column()) {
            case 0:
                return QString::fromStdString(entry.TimeText());
            case 1:
                return QString::fromUtf8(entry.cardNo.data(),
                                         static_cast<qsizetype>(entry.cardNo.size()));
            case 2:
                return QString::fromUtf8(entry.name.data(),
                                         static_cast<qsizetype>(entry.name.size()));
            case 3:
                return QString::fromUtf8(HistoryOperationText(entry.operation));
            default:
                return QString::fromStdString(FeeText(entry.feeCents));
        }
    }
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        static const char* const kTitles[] = {"时间", "卡号", "姓名", "操作", "金额(元)"};
        if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
            section >= 5) {
            return QAbstractTableModel::headerData(section, orientation, role);
        }
        return QString::fromUtf8(kTitles[section]);
    }

private:
    std::vector<CFeePayment> m_payments;
};

CFeeSummaryDlg::CFeeSummaryDlg(std::string historyPath, QWidget* parent)
    : QDialog(parent),
      m_strHistoryPath(std::move(historyPath)),
      m_pPaymentsModel(std::make_unique<CFeePaymentsModel>()) {
    SetUpResizableDialog(this, QStringLiteral("收费汇总"), 400, 320);

    const auto button = [this](int id, const char* text) { return AddButton(this, id, text); };
    const auto picker = [this](int id, const QDate& date) {
        auto* edit = new QDateEdit(date, this);
        edit->setCalendarPopup(true);
        edit->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
        SetControlId(edit, id);
        return edit;
    };
    const QDate today = QDate::currentDate();
    m_pFrom = picker(IDC_FEE_FROM, QDate(today.year(), today.month(), 1));
    m_pTo = picker(IDC_FEE_TO, today);
    auto* fromLabel = new QLabel(QStringLiteral("从"), this);
    fromLabel->setBuddy(m_pFrom);
    m_pFrom->setAccessibleName(QStringLiteral("从"));
    auto* toLabel = new QLabel(QStringLiteral("到"), this);
    toLabel->setBuddy(m_pTo);
    m_pTo->setAccessibleName(QStringLiteral("到"));
    m_pByDay = new QRadioButton(QStringLiteral("按日"), this);
    SetControlId(m_pByDay, IDC_FEE_BY_DAY);
    m_pByDay->setChecked(true);
    m_pByMonth = new QRadioButton(QStringLiteral("按月"), this);
    SetControlId(m_pByMonth, IDC_FEE_BY_MONTH);
    auto* summarize = button(IDC_FEE_SUMMARIZE, "统计");
    summarize->setDefault(true);  // Enter in a picker sums

    m_pLines = new QTableWidget(0, 4, this);
    SetControlId(m_pLines, IDC_FEE_LINES);
    m_pLines->setAccessibleName(QStringLiteral("收费汇总"));
    m_pLines->verticalHeader()->hide();
    m_pLines->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    m_pLines->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    m_pLines->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_pLines->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_pLines->setSelectionMode(QAbstractItemView::SingleSelection);
    m_pLines->setWordWrap(false);

    m_pTotal = new QLabel(this);
    SetControlId(m_pTotal, IDC_FEE_TOTAL);

    m_pPayments = new QTableView(this);
    SetControlId(m_pPayments, IDC_FEE_PAYMENTS);
    m_pPayments->setAccessibleName(QStringLiteral("收费明细"));
    m_pPayments->setModel(m_pPaymentsModel.get());
    m_pPayments->verticalHeader()->hide();
    m_pPayments->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    m_pPayments->horizontalHeader()->setStretchLastSection(true);
    m_pPayments->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_pPayments->setWordWrap(false);
    m_pPayments->setColumnWidth(0, fontMetrics().horizontalAdvance("0000-00-00 00:00:00") + 12);

    auto* exportCsv = button(IDC_FEE_EXPORT_CSV, "导出CSV…");
    auto* exportExcel = button(IDC_FEE_EXPORT_EXCEL, "导出EXCEL…");
    auto* close = button(IDC_FEE_CLOSE, "关闭");

    auto* top = new QHBoxLayout;
    top->addWidget(fromLabel);
    top->addWidget(m_pFrom);
    top->addWidget(toLabel);
    top->addWidget(m_pTo);
    top->addSpacing(12);
    top->addWidget(m_pByDay);
    top->addWidget(m_pByMonth);
    top->addStretch(1);
    top->addWidget(summarize);
    auto* bottom = new QHBoxLayout;
    bottom->addStretch(1);
    bottom->addWidget(exportCsv);
    bottom->addWidget(exportExcel);
    bottom->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(m_pLines, 3);
    layout->addWidget(m_pTotal);
    layout->addWidget(m_pPayments, 2);
    layout->addLayout(bottom);

    connect(summarize, &QPushButton::clicked, this, &CFeeSummaryDlg::OnSummarize);
    connect(m_pLines->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) { ShowPayments(current.row()); });
    connect(m_pLines, &QTableWidget::cellDoubleClicked, this,
            [this](int row, int) { ShowPayments(row); });
    connect(exportCsv, &QPushButton::clicked, this, &CFeeSummaryDlg::OnExportCsv);
    connect(exportExcel, &QPushButton::clicked, this, &CFeeSummaryDlg::OnExportExcel);
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    KeepEnterForTheDefault(this);

    OnSummarize();
}

CFeeSummaryDlg::~CFeeSummaryDlg() = default;

QWidget* CFeeSummaryDlg::Control(int id) const {
    return FindControl(this, id);
}

void CFeeSummaryDlg::OnSummarize() {
    const int32_t from = DayOf(m_pFrom->date());
    const int32_t to = DayOf(m_pTo->date());
    if (from > to) {
        Msg::Show(this, QStringLiteral("开始日期不能晚于结束日期。"));
        return;
    }
    const FeePeriod period = m_pByMonth->isChecked() ? FeePeriod::Month : FeePeriod::Day;
    // The payments and the summary point into the mapping that the new reading replaces.
    m_pPaymentsModel->Show({});
    m_summary = CFeeSummary();
    {
        WaitCursor wait;
        CHistoryFile::Contents contents;
        std::string error;
        if (!CHistoryFile::Read(m_strHistoryPath, contents, error)) {
            m_contents = CHistoryFile::Contents();
            Msg::ShowDetails(this, QStringLiteral("操作记录无法读取,不能统计收费。"),
                             QString::fromStdString(error));
        } else {
            m_contents = std::move(contents);
        }
        m_summary = SummarizeFees(m_contents.records, from, to, period);
    }

    const QSignalBlocker quiet(m_pLines->selectionModel());
    m_pLines->setRowCount(0);  // no line current: a click on any line shows its payments
    m_pLines->setRowCount(static_cast<int>(m_summary.lines.size()));
    m_pLines->setHorizontalHeaderLabels(
        {period == FeePeriod::Day ? QStringLiteral("日期") : QStringLiteral("月份"),
         QStringLiteral("卡数"), QStringLiteral("笔数"), QStringLiteral("金额(元)")});
    for (int row = 0; row < static_cast<int>(m_summary.lines.size()); ++row) {
        const CFeeLine& line = m_summary.lines[static_cast<size_t>(row)];
        m_pLines->setItem(row, 0,
                          Cell(QString::fromStdString(FeePeriodText(line.period, period)), false));
        m_pLines->setItem(row, 1, Cell(QString::number(line.cards), true));
        m_pLines->setItem(row, 2, Cell(QString::number(line.payments), true));
        m_pLines->setItem(row, 3, Cell(QString::fromStdString(FeeText(line.totalCents)), true));
    }
    QString total = QStringLiteral("合计:%1笔,%2元")
                        .arg(m_summary.totalPayments)
                        .arg(QString::fromStdString(FeeText(m_summary.totalCents)));
    if (m_summary.unreadable > 0) {
        total += QStringLiteral("(%1条记录无法读取,没有计入)").arg(m_summary.unreadable);
    }
    m_pTotal->setText(total);
}

void CFeeSummaryDlg::ShowPayments(int line) {
    if (line < 0 || static_cast<size_t>(line) >= m_summary.lines.size()) {
        m_pPaymentsModel->Show({});
        return;
    }
    m_pPaymentsModel->Show(LinePayments(m_summary, static_cast<size_t>(line), m_contents.records));
    m_pPayments->scrollToTop();
}

void CFeeSummaryDlg::OnExportCsv() {
    ExportTableAsked(this, TableFileFormat::Csv, FeeSummaryExportTable(m_summary), "收费汇总",
                     QStringLiteral("已导出%1行到 %2").arg(m_summary.lines.size() + 1));
}

void CFeeSummaryDlg::OnExportExcel() {
    ExportTableAsked(this, TableFileFormat::Xlsx, FeeSummaryExportTable(m_summary), "收费汇总",
                     QStringLiteral("已导出%1行到 %2").arg(m_summary.lines.size() + 1));
}
