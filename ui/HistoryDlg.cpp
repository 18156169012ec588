#include "ui/HistoryDlg.h"

#include <QAbstractTableModel>
#include <QComboBox>
#include <QDate>
#include <QDateEdit>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

#include "app/ControlId.h"
#include "app/DialogLayout.h"
#include "app/MessageBox.h"
#include "app/WaitCursor.h"
#include "store/CardStore.h"
#include "store/HistoryEntry.h"
#include "ui/TableExport.h"

using namespace HistoryIds;

namespace {

enum Column { kTime, kDesk, kOperation, kCardNo, kName, kContent, kColumns };

QString Utf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

int32_t DayNumber(const QDate& date) {
    return date.year() * 10000 + date.month() * 100 + date.day();
}

QDate DateOfDay(int32_t day) {
    return QDate(day / 10000, day / 100 % 100, day % 100);
}

}  // namespace

// The list's rows: the shown rows of the view, their texts made as they are painted.
class CHistoryModel : public QAbstractTableModel {
public:
    CHistoryModel(const CHistoryView& view, const std::vector<uint32_t>& shown, QObject* parent)
        : QAbstractTableModel(parent), m_view(view), m_shown(shown) {}

    // The shown rows changed.
    void Reset() {
        beginResetModel();
        endResetModel();
    }

    int rowCount(const QModelIndex& parent) const override {
        return parent.isValid() ? 0 : static_cast<int>(m_shown.size());
    }
    int columnCount(const QModelIndex& parent) const override {
        return parent.isValid() ? 0 : kColumns;
    }

    QVariant data(const QModelIndex& index, int role) const override {
        if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::ToolTipRole)) {
            return {};
        }
        if (role == Qt::ToolTipRole && index.column() != kContent) {
            return {};
        }
        const uint32_t row = m_shown[static_cast<size_t>(index.row())];
        switch (index.column()) {
            case kTime:
                return QString::fromStdString(m_view.TimeText(row));
            case kDesk:
                return Utf8(m_view.Desk(row));
            case kOperation:
                return QString::fromUtf8(HistoryOperationText(m_view.Operation(row)));
            case kCardNo:
                return Utf8(m_view.CardNo(row));
            case kName:
                return Utf8(m_view.Name(row));
            case kContent:
                return QString::fromStdString(m_view.ContentText(row));
            default:
                return {};
        }
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
            section >= kColumns) {
            return {};
        }
        return QString::fromStdString(HistoryColumnTitles()[static_cast<size_t>(section)]);
    }

private:
    const CHistoryView& m_view;
    const std::vector<uint32_t>& m_shown;
};

CHistoryDlg::CHistoryDlg(const std::string& historyPath, const QString& cardNo, QWidget* parent)
    : QDialog(parent) {
    SetUpResizableDialog(this, QStringLiteral("操作记录"), 560, 330);

    {
        WaitCursor wait;
        std::string error;
        if (!m_view.Load(historyPath, error)) {
            m_strReadError = QString::fromStdString(error);
        }
    }

    const auto labelFor = [this](QWidget* control, const char* text) {
        auto* label = new QLabel(QString::fromUtf8(text), this);
        label->setBuddy(control);
        control->setAccessibleName(label->text());
        return label;
    };
    const auto button = [this](int id, const char* text) { return AddButton(this, id, text); };
    const auto picker = [this](int id) {
        auto* edit = new QDateEdit(this);
        edit->setCalendarPopup(true);
        edit->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
        SetControlId(edit, id);
        return edit;
    };
    m_pFrom = picker(IDC_HISTORY_FROM);
    m_pTo = picker(IDC_HISTORY_TO);
    const QDate today = QDate::currentDate();
    m_pFrom->setDate(m_view.Count() > 0 ? DateOfDay(m_view.FirstDay()) : today);
    m_pTo->setDate(m_view.Count() > 0 ? DateOfDay(m_view.LastDay()) : today);
    m_pCardNo = new QLineEdit(cardNo, this);
    SetControlId(m_pCardNo, IDC_HISTORY_CARDNO);
    m_pName = new QLineEdit(this);
    SetControlId(m_pName, IDC_HISTORY_NAME);
    m_pOperation = new QComboBox(this);
    SetControlId(m_pOperation, IDC_HISTORY_OPERATION);
    m_pOperation->addItem(QStringLiteral("全部"), -1);
    for (int i = 0; i < g_historyOperationCount; ++i) {
        m_pOperation->addItem(QString::fromUtf8(g_historyOperations[i].text),
                              static_cast<int>(g_historyOperations[i].operation));
    }
    auto* query = button(IDC_HISTORY_QUERY, "查询");

    m_pModel = new CHistoryModel(m_view, m_shown, this);
    m_pList = new QTableView(this);
    SetControlId(m_pList, IDC_HISTORY_LIST);
    m_pList->setAccessibleName(QStringLiteral("操作记录"));
    m_pList->setModel(m_pModel);
    m_pList->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_pList->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_pList->setWordWrap(false);
    // Fixed row heights and column widths: the view never measures a million rows.
    m_pList->verticalHeader()->hide();
    m_pList->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_pList->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    const auto width = [this](const char* sample) {
        return fontMetrics().horizontalAdvance(QString::fromUtf8(sample)) + 16;
    };
    m_pList->setColumnWidth(kTime, width("2026-12-10 09:05:00"));
    m_pList->setColumnWidth(kDesk, width("workstation/operator"));
    m_pList->setColumnWidth(kOperation, width("新增相同信息卡"));
    m_pList->setColumnWidth(kCardNo, width("0000000"));
    m_pList->setColumnWidth(kName, width("欧阳某某某"));
    m_pList->horizontalHeader()->setStretchLastSection(true);

    m_pCount = new QLabel(this);
    SetControlId(m_pCount, IDC_HISTORY_COUNT);
    m_pExportCsv = button(IDC_HISTORY_EXPORT_CSV, "导出CSV…");
    m_pExportExcel = button(IDC_HISTORY_EXPORT_EXCEL, "导出EXCEL…");
    auto* close = button(IDC_HISTORY_CLOSE, "关闭");

    auto* filters = new QHBoxLayout;
    filters->addWidget(labelFor(m_pFrom, "从"));
    filters->addWidget(m_pFrom);
    filters->addWidget(labelFor(m_pTo, "到"));
    filters->addWidget(m_pTo);
    filters->addWidget(labelFor(m_pCardNo, "卡号:"));
    filters->addWidget(m_pCardNo, 1);
    filters->addWidget(labelFor(m_pName, "姓名:"));
    filters->addWidget(m_pName, 1);
    filters->addWidget(labelFor(m_pOperation, "操作:"));
    filters->addWidget(m_pOperation);
    filters->addWidget(query);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(m_pCount, 1);
    bottom->addWidget(m_pExportCsv);
    bottom->addWidget(m_pExportExcel);
    bottom->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(filters);
    layout->addWidget(m_pList, 1);
    layout->addLayout(bottom);

    connect(query, &QPushButton::clicked, this, &CHistoryDlg::OnQuery);
    connect(m_pExportCsv, &QPushButton::clicked, this, &CHistoryDlg::OnExportCsv);
    connect(m_pExportExcel, &QPushButton::clicked, this, &CHistoryDlg::OnExportExcel);
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    // Enter in any field of the filter row runs the query.
    KeepEnterForTheDefault(this);
    query->setDefault(true);

    OnQuery();
}

CHistoryDlg::~CHistoryDlg() = default;

QWidget* CHistoryDlg::Control(int id) const {
    return FindControl(this, id);
}

HistoryFilter CHistoryDlg::FilterOfControls() const {
    HistoryFilter filter;
    filter.fromDay = DayNumber(m_pFrom->date());
    filter.toDay = DayNumber(m_pTo->date());
    filter.cardNo = m_pCardNo->text().trimmed().toStdString();
    filter.name = m_pName->text().trimmed().toStdString();
    filter.operation = m_pOperation->currentData().toInt();
    return filter;
}

void CHistoryDlg::OnQuery() {
    {
        WaitCursor wait;
        m_shown = m_view.Filter(FilterOfControls());
        m_pModel->Reset();
    }
    UpdateCount();
}

void CHistoryDlg::UpdateCount() {
    if (!m_strReadError.isEmpty()) {
        m_pCount->setText(m_strReadError);
    } else if (!m_view.Exists()) {
        m_pCount->setText(QStringLiteral("还没有操作记录。"));
    } else {
        m_pCount->setText(QStringLiteral("共%1条记录").arg(m_shown.size()));
    }
    m_pExportCsv->setEnabled(!m_shown.empty());
    m_pExportExcel->setEnabled(!m_shown.empty());
}

void CHistoryDlg::OnExportCsv() {
    ExportTableAsked(this, TableFileFormat::Csv, HistoryExportTable(m_view, m_shown), "操作记录",
                     QStringLiteral("已导出%1条记录到 %2").arg(m_shown.size()));
}

void CHistoryDlg::OnExportExcel() {
    ExportTableAsked(this, TableFileFormat::Xlsx, HistoryExportTable(m_view, m_shown), "操作记录",
                     QStringLiteral("已导出%1条记录到 %2").arg(m_shown.size()));
}

std::string HistoryToShow(QWidget* parent, CCardStore& store) {
    std::string warning;
    std::string path;
    {
        WaitCursor wait;
        path = store.ReadableHistory(warning);
    }
    if (!warning.empty()) {
        Msg::Show(parent, QString::fromStdString(warning));
    }
    return path;
}
