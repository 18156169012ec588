#include "ui/EnrolDlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDate>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QTableView>
#include <QTableWidget>
#include <QVBoxLayout>

#include <malloc.h>
#include <unistd.h>

#include <memory>

#include "app/CommitChange.h"
#include "app/ControlId.h"
#include "app/DialogLayout.h"
#include "app/FileDialog.h"
#include "app/MessageBox.h"
#include "app/WaitCursor.h"
#include "base/PosixIo.h"
#include "base/SafeFile.h"
#include "enrol/EnrolFields.h"
#include "register/CardFields.h"
#include "ui/EnrolIds.h"

using namespace EnrolIds;

namespace {

// The choices of a column's field chooser, in this order.
constexpr EnrolField kChoices[] = {
    EnrolField::None,     EnrolField::CardNo,    EnrolField::Name,    EnrolField::Phone,
    EnrolField::HouseNo,  EnrolField::IdNo,      EnrolField::Address, EnrolField::Remark,
    EnrolField::CardType, EnrolField::ValidDate, EnrolField::RegDate, EnrolField::Paid,
    EnrolField::MonthFee, EnrolField::YearFee,   EnrolField::Rights,  EnrolField::Number,
    EnrolField::Status,
};

QString ChoiceText(EnrolField field) {
    const QString title = QString::fromUtf8(EnrolFieldTitle(field));
    return IsTakenField(field) || field == EnrolField::None
               ? title
               : QStringLiteral("%1(不导入)").arg(title);
}

// The progress of reading or working out a long list: a window-modal progress dialog, made at
// the first step the work reports (a short list reports none), which keeps the windows painted
// and the list's window from taking input until the work is done.
class CWorkProgress {
public:
    CWorkProgress(QWidget* parent, QString label) : m_pParent(parent), m_label(std::move(label)) {}

    CProgress Steps() {
        return [this](size_t done, size_t total) {
            if (!m_dialog) {
                m_dialog =
                    std::make_unique<QProgressDialog>(m_label, QString(), 0, kSteps, m_pParent);
                m_dialog->setWindowTitle(QStringLiteral("批量登记"));
                m_dialog->setWindowModality(Qt::WindowModal);
                m_dialog->setMinimumDuration(0);
            }
            m_dialog->setValue(
                total == 0 ? 0 : static_cast<int>(std::min(done, total) * kSteps / total));
        };
    }

private:
    static constexpr int kSteps = 1000;
    QWidget* m_pParent;
    QString m_label;
    std::unique_ptr<QProgressDialog> m_dialog;
};

}  // namespace

CEnrolDlg::CEnrolDlg(CCardDesk desk, QWidget* parent) : QDialog(parent), m_desk(desk) {
    SetUpResizableDialog(this, QStringLiteral("批量登记"), 520, 330);

    const auto button = [this](int id, const char* text) { return AddButton(this, id, text); };
    auto* fileLabel = new QLabel(QStringLiteral("名单文件:"), this);
    m_pFile = new QLineEdit(this);
    m_pFile->setReadOnly(true);
    fileLabel->setBuddy(m_pFile);
    SetControlId(m_pFile, IDC_ENROL_FILE);
    auto* choose = button(IDC_ENROL_CHOOSE, "选择文件…");
    m_pHeader = new QCheckBox(QStringLiteral("第一行是标题"), this);
    SetControlId(m_pHeader, IDC_ENROL_HEADER);
    m_pHeader->setEnabled(false);

    m_pColumns = new QTableWidget(0, 3, this);
    SetControlId(m_pColumns, IDC_ENROL_COLUMNS);
    m_pColumns->setHorizontalHeaderLabels(
        {QStringLiteral("列"), QStringLiteral("第一行"), QStringLiteral("登记为")});
    m_pColumns->setAccessibleName(QStringLiteral("列对应"));
    m_pColumns->verticalHeader()->hide();
    m_pColumns->horizontalHeader()->setStretchLastSection(true);
    m_pColumns->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_pColumns->setSelectionMode(QAbstractItemView::NoSelection);

    m_pPreview = new QTableView(this);
    SetControlId(m_pPreview, IDC_ENROL_PREVIEW);
    m_pPreview->setAccessibleName(QStringLiteral("预览"));
    m_pPreview->setModel(&m_preview);
    m_pPreview->verticalHeader()->hide();
    m_pPreview->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    m_pPreview->horizontalHeader()->setStretchLastSection(true);
    m_pPreview->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_pPreview->setWordWrap(false);

    m_pAllowHolder = new QCheckBox(QStringLiteral("允许更换持卡人"), this);
    SetControlId(m_pAllowHolder, IDC_ENROL_ALLOW_HOLDER);
    auto* doors = new QGroupBox(QStringLiteral("新卡的门禁权限(名单中的“门禁权限”列优先)"), this);
    auto* doorGrid = new QGridLayout(doors);
    for (int port = 1; port <= 16; ++port) {
        auto* door = new QCheckBox(QStringLiteral("%1号口").arg(port), doors);
        door->setChecked(true);
        SetControlId(door, IdcEnrolDoor(port));
        doorGrid->addWidget(door, (port - 1) / 8, (port - 1) % 8);
        m_pDoors[port] = door;
    }

    m_pSummary = new QLabel(this);
    SetControlId(m_pSummary, IDC_ENROL_SUMMARY);
    m_pSummary->setWordWrap(true);  // a long summary takes a second line, not the buttons' room
    m_pConfirm = button(IDC_ENROL_CONFIRM, "确认登记");
    m_pSaveRefused = button(IDC_ENROL_SAVE_REFUSED, "保存拒绝的行…");
    auto* close = button(IDC_ENROL_CLOSE, "关闭");

    auto* top = new QHBoxLayout;
    top->addWidget(fileLabel);
    top->addWidget(m_pFile, 1);
    top->addWidget(choose);
    auto* middle = new QHBoxLayout;
    auto* columnsBox = new QVBoxLayout;
    columnsBox->addWidget(m_pHeader);
    columnsBox->addWidget(m_pColumns, 1);
    middle->addLayout(columnsBox, 2);
    middle->addWidget(m_pPreview, 5);
    auto* options = new QHBoxLayout;
    options->addWidget(doors, 1);
    options->addWidget(m_pAllowHolder, 0, Qt::AlignBottom);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(m_pSummary, 1);
    bottom->addWidget(m_pSaveRefused);
    bottom->addWidget(m_pConfirm);
    bottom->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(middle, 1);
    layout->addLayout(options);
    layout->addLayout(bottom);

    connect(choose, &QPushButton::clicked, this, &CEnrolDlg::OnChooseFile);
    connect(m_pHeader, &QCheckBox::toggled, this, &CEnrolDlg::OnHeaderToggled);
    connect(m_pAllowHolder, &QCheckBox::toggled, this, [this](bool allow) {
        m_preview.AllowHolderChange(allow);
        UpdateControls();
    });
    connect(m_pConfirm, &QPushButton::clicked, this, &CEnrolDlg::OnConfirm);
    connect(m_pSaveRefused, &QPushButton::clicked, this, &CEnrolDlg::OnSaveRefused);
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    KeepEnterForTheDefault(this);
    UpdateControls();
}

CEnrolDlg::~CEnrolDlg() {
    // A long list's cells and plan are many small blocks: freed, they would stay with the
    // process until it ends.
    m_preview.Show(nullptr, nullptr, nullptr);
    m_plan = CEnrolPlan();
    m_rows.clear();
    m_map = CColumnMap();
    ::malloc_trim(0);
}

QWidget* CEnrolDlg::Control(int id) const {
    return FindControl(this, id);
}

size_t CEnrolDlg::FirstRow() const {
    return m_bHeader ? 1 : 0;
}

bool CEnrolDlg::AllowHolderChange() const {
    return m_pAllowHolder->isChecked();
}

void CEnrolDlg::OnChooseFile() {
    const QString chosen =
        FileDlg::Open(nullptr, QStringLiteral("选择住户名单"),
                      {{QStringLiteral("名单(*.csv *.xlsx)"), QStringLiteral("*.csv *.xlsx")},
                       {QStringLiteral("All Files"), QStringLiteral("*.*")}});
    if (!chosen.isEmpty()) {
        LoadFile(chosen);
    }
}

bool CEnrolDlg::LoadFile(const QString& path) {
    CSheetRows rows;
    std::string error;
    {
        WaitCursor wait;
        CWorkProgress progress(this, QStringLiteral("正在读取住户名单…"));
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            error = file.errorString().toStdString();
        } else {
            const QByteArray bytes = file.readAll();
            ReadResidentList(std::string_view(bytes.constData(), static_cast<size_t>(bytes.size())),
                             rows, error, progress.Steps());
        }
    }
    if (!error.empty()) {
        Msg::Show(
            this,
            QStringLiteral("名单文件无法读取:\n%1\n\n%2").arg(path, QString::fromStdString(error)));
        return false;
    }
    m_preview.Show(nullptr, nullptr, nullptr);
    m_plan = CEnrolPlan();
    m_rows = std::move(rows);
    m_bEnrolled = false;
    m_pFile->setText(path);
    m_bHeader = !m_rows.empty() && IsHeaderRow(m_rows.front());
    m_map = m_bHeader ? MapHeader(m_rows.front()) : CColumnMap();
    m_map.resize(m_rows.Width(), EnrolField::None);
    FillColumns();
    UpdatePlan();
    return true;
}

void CEnrolDlg::FillColumns() {
    m_bFilling = true;
    m_pHeader->setChecked(m_bHeader);
    m_pColumns->setRowCount(static_cast<int>(m_map.size()));
    for (int c = 0; c < static_cast<int>(m_map.size()); ++c) {
        // Spreadsheet column letters: A ... Z, AA ...
        QString letters;
        for (int n = c + 1; n > 0; n = (n - 1) / 26) {
            letters.prepend(QChar('A' + (n - 1) % 26));
        }
        m_pColumns->setItem(c, 0, new QTableWidgetItem(letters));
        const QString sample =
            m_rows.empty() ? QString()
                           : QString::fromUtf8(m_rows.Cell(0, static_cast<size_t>(c))).simplified();
        m_pColumns->setItem(c, 1, new QTableWidgetItem(sample));
        auto* chooser = new QComboBox;
        for (const EnrolField field : kChoices) {
            chooser->addItem(ChoiceText(field), static_cast<int>(field));
        }
        chooser->setCurrentIndex(
            chooser->findData(static_cast<int>(m_map[static_cast<size_t>(c)])));
        chooser->setAccessibleName(QStringLiteral("%1列登记为").arg(letters));
        SetControlId(chooser, IdcEnrolField(c));
        connect(chooser, &QComboBox::currentIndexChanged, this,
                [this, c](int choice) { OnFieldChosen(c, choice); });
        m_pColumns->setCellWidget(c, 2, chooser);
    }
    m_pColumns->resizeColumnsToContents();
    m_bFilling = false;
}

void CEnrolDlg::OnFieldChosen(int column, int choice) {
    if (m_bFilling || choice < 0) {
        return;
    }
    SetColumnField(m_map, static_cast<size_t>(column), kChoices[choice]);
    UpdatePlan();
}

void CEnrolDlg::OnHeaderToggled() {
    if (m_bFilling) {
        return;
    }
    m_bHeader = m_pHeader->isChecked();
    UpdatePlan();
}

void CEnrolDlg::UpdatePlan() {
    {
        WaitCursor wait;
        CWorkProgress progress(this, QStringLiteral("正在核对住户名单…"));
        m_preview.Show(nullptr, nullptr, nullptr);
        m_plan = CEnrolPlan();
        m_plan = MakeEnrolPlan(m_rows, FirstRow(), m_map, m_desk.cards, progress.Steps());
        m_preview.Show(&m_plan, &m_rows, &m_map);
    }
    m_pPreview->resizeColumnToContents(0);
    m_pPreview->resizeColumnToContents(1);
    m_pPreview->setColumnWidth(2, m_pPreview->fontMetrics().horizontalAdvance("000000(自动)") + 12);
    UpdateControls();
}

void CEnrolDlg::UpdateControls() {
    const bool loaded = !m_pFile->text().isEmpty();
    m_pHeader->setEnabled(loaded && !m_bEnrolled);
    m_pColumns->setEnabled(loaded && !m_bEnrolled);
    m_pConfirm->setEnabled(loaded && !m_bEnrolled && m_plan.Accepted(AllowHolderChange()) > 0);
    m_pAllowHolder->setEnabled(!m_bEnrolled);
    for (int port = 1; port <= 16; ++port) {
        m_pDoors[port]->setEnabled(!m_bEnrolled);
    }
    m_pSaveRefused->setEnabled(m_plan.refused > 0);
    if (!loaded) {
        m_pSummary->setText(QStringLiteral("请选择住户名单(CSV或xlsx文件)。"));
        return;
    }
    QString summary = QStringLiteral("%1新增%2张,修改%3张,不变%4张,拒绝%5行")
                          .arg(m_bEnrolled ? QStringLiteral("已登记: ") : QStringLiteral("预览: "))
                          .arg(m_plan.added)
                          .arg(m_plan.changed)
                          .arg(m_plan.unchanged)
                          .arg(m_plan.refused);
    if (m_plan.holderChanges > 0) {
        summary += AllowHolderChange()
                       ? QStringLiteral(",更换持卡人%1张").arg(m_plan.holderChanges)
                       : QStringLiteral(",更换持卡人%1张(未勾选“允许更换持卡人”,不登记)")
                             .arg(m_plan.holderChanges);
    }
    if (m_rows.FileWidth() > CSheetRows::kMaxColumns) {
        summary += QStringLiteral("\n文件有%1列,只读取了前%2列。")
                       .arg(m_rows.FileWidth())
                       .arg(CSheetRows::kMaxColumns);
    }
    for (const EnrolField field : SharedFields(m_map)) {
        summary += QStringLiteral("\n“%1”对应了不止一列,只用最左边的一列。")
                       .arg(QString::fromUtf8(EnrolFieldTitle(field)));
    }
    m_pSummary->setText(summary);
}

void CEnrolDlg::OnConfirm() {
    const bool allowHolderChange = AllowHolderChange();
    if (m_bEnrolled || m_plan.Accepted(allowHolderChange) == 0) {
        return;
    }
    // The register as it stands goes to disk first, as an import does; where that fails (the
    // operator has been told) nothing is enrolled.
    if (!m_desk.files.SaveRegister(m_desk.files.RegisterPath())) {
        return;
    }
    bool doors[17] = {};
    for (int port = 1; port <= 16; ++port) {
        doors[port] = m_pDoors[port]->isChecked();
    }
    CEnrolDefaults defaults{
        m_desk.sysPassword,
        QDate::currentDate().toString(QStringLiteral("yyyyMMdd")).toStdString()};
    defaults.rights = RightsText(doors);
    CCardChange change;
    bool fits;
    {
        WaitCursor wait;
        fits = MakeEnrolChange(m_plan, m_desk.cards, m_desk.store.MaxNumber(), defaults,
                               allowHolderChange, change);
    }
    if (!fits) {
        Msg::Show(this,
                  QStringLiteral(
                      "卡片登记在预览之后已经改变,没有登记任何一行。\n请核对新的预览后再确认。"));
        UpdatePlan();
        return;
    }
    change.SetNote("名单:" + QFileInfo(m_pFile->text()).fileName().toStdString());
    // Every row in one change: after a crash either all of them are in the register or none.
    bool applied;
    {
        WaitCursor wait;
        applied = CommitChange(this, m_desk.store, std::move(change), CommitMode::Refusable);
    }
    if (!applied) {
        return;  // told; nothing enrolled
    }
    m_bEnrolled = true;
    UpdateControls();
    const size_t holders = allowHolderChange ? m_plan.holderChanges : 0;
    QString text = QStringLiteral("批量登记完成:新增%1张卡片,修改%2张,拒绝%3行。")
                       .arg(m_plan.added)
                       .arg(m_plan.changed + holders)
                       .arg(m_plan.refused);
    if (holders > 0) {
        text += QStringLiteral("\n其中%1张卡片更换了持卡人。").arg(holders);
    } else if (m_plan.holderChanges > 0) {
        text += QStringLiteral("\n更换持卡人的%1行没有登记。").arg(m_plan.holderChanges);
    }
    if (m_plan.refused > 0) {
        text += QStringLiteral("\n拒绝的行可以用“保存拒绝的行…”连同原因保存为CSV文件。");
    }
    Msg::Tell(this, text);
}

void CEnrolDlg::OnSaveRefused() {
    if (m_plan.refused == 0) {
        return;
    }
    const FileDlg::SaveTarget target =
        FileDlg::AskSaveTarget(this, QStringLiteral("保存拒绝的行"),
                               {QStringLiteral("Files(*.csv)"), QStringLiteral("*.csv")},
                               QStringLiteral(".csv"), Qt::CaseInsensitive);
    if (target.IsEmpty()) {
        return;
    }
    const std::string csv = RefusedRowsCsv(m_rows, FirstRow(), m_plan);
    std::string error;
    const bool saved = SaveFileSafely(
        target.path, std::string(),
        [&csv](int fd, std::string& why) {
            if (!WriteAll(fd, csv.data(), csv.size())) {
                why = ErrnoText(errno);
                return false;
            }
            return true;
        },
        error);
    if (!saved) {
        Msg::Show(this, QStringLiteral("拒绝的行无法保存:\n%1").arg(QString::fromStdString(error)));
        return;
    }
    Msg::Tell(this,
              QStringLiteral("拒绝的行(%1行)已保存于%2!").arg(m_plan.refused).arg(target.name));
}
