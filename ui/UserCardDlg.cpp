#include "ui/UserCardDlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QResizeEvent>
#include <QScopedValueRollback>
#include <QScreen>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "app/ByteLimit.h"
#include "app/CodePageText.h"
#include "app/ComboChoice.h"
#include "app/ControlId.h"
#include "app/DialogLayout.h"
#include "app/MessageBox.h"
#include "cards/CardList.h"
#include "register/Card.h"
#include "register/CardFields.h"
#include "ui/UserCardIds.h"

using namespace UserCardIds;

namespace {

// The widths of the columns of kCardListTitles.
constexpr int kColumnWidths[kCardListColumns] = {100, 80,  150, 100, 100, 100,
                                                 100, 100, 100, 180, 200, 120};

QDateTime Now() {
    return QDateTime::fromSecsSinceEpoch(QDateTime::currentSecsSinceEpoch());
}

QString Utf8(const char* text) {
    return QString::fromUtf8(text);
}

// The table's text for a status or type byte, or its number where the table has none.
QString EnumText(const char* text, uint8_t value) {
    return text != nullptr ? Utf8(text) : QString::number(value);
}

}  // namespace

void ApplyCardListStyle(CListCtrlCl& list) {
    list.SetColumnBackColor(0, QColor(10, 150, 20));
    list.SetColumnBackColor(2, QColor(30, 100, 90));
    list.SetBkColor(QColor(50, 10, 10));
    list.SetRowHeight(25);
    list.SetHeaderHeightScale(1.5f);
    list.SetHeaderFont(16, 0);
    list.SetHeaderForeColor(QColor(255, 200, 100));
    list.SetForeColor(QColor(0, 255, 255));
    list.SetHeaderGradient(100, 255, 100, 8);
    list.SetTextFont(15, 0);
    list.SetColumnForeColor(2, QColor(255, 255, 100));
}

CUserCardDlg::CUserCardDlg(CCardDesk desk, QWidget* parent) : QDialog(parent), m_desk(desk) {
    const CDialogUnits du = SetUpDialog(this, QStringLiteral("发卡"), 800, 447);
    setMinimumSize(size());
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    setSizeGripEnabled(true);

    const auto place = [&](int id, QWidget* w, int x, int y, int width, int height) {
        du.Place(w, x, y, width, height);
        SetControlId(w, id);
        return w;
    };
    const auto button = [&](int id, const char* text, int x, int y, int w, int h) {
        return static_cast<QPushButton*>(place(id, new QPushButton(Utf8(text), this), x, y, w, h));
    };
    const auto edit = [&](int id, int x, int y, int w, int h, const char* label) {
        auto* e = new QLineEdit(this);
        place(id, e, x, y, w, h);
        AddLabelFor(e, du, Utf8(label), x - 62, y + 3, 59, 9);
        return e;
    };
    const auto combo = [&](int id, int x, int y, int w, const char* label,
                           std::initializer_list<const char*> items, bool editable) {
        auto* c = new QComboBox(this);
        c->setEditable(editable);
        for (const char* item : items) {
            c->addItem(Utf8(item));
        }
        place(id, c, x, y, w, 14);
        AddLabelFor(c, du, Utf8(label), x - 62, y + 3, 59, 9);
        return c;
    };
    const auto picker = [&](int id, int x, int y, int w, int h, const char* label) {
        auto* d = new QDateTimeEdit(this);
        d->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
        d->setCalendarPopup(true);
        place(id, d, x, y, w, h);
        if (label != nullptr) {
            AddLabelFor(d, du, Utf8(label), x - 62, y + 4, 59, 9);
        }
        return d;
    };

    // Mode and the issuing and extension groups.
    m_pIssueMode = static_cast<QRadioButton*>(
        place(IDC_MODE_ISSUE, new QRadioButton(Utf8("发卡"), this), 102, 11, 32, 10));
    m_pExtendMode = static_cast<QRadioButton*>(
        place(IDC_MODE_EXTEND, new QRadioButton(Utf8("延期退卡"), this), 194, 11, 48, 10));
    du.Place(new QGroupBox(this), 6, 22, 346, 45);
    button(IDC_NEW, "新增", 13, 30, 50, 14);
    button(IDC_EDIT, "编辑/修改", 70, 30, 50, 14);
    button(IDC_DELETE, "删除", 126, 30, 50, 14);
    button(IDC_SAVE, "保存", 183, 30, 50, 14);
    button(IDC_CANCEL, "取消", 240, 30, 50, 14);
    button(IDC_ISSUE_CARD, "发行卡片", 297, 30, 50, 14);
    place(IDC_AUTO_NUMBER, new QCheckBox(Utf8("新增卡号自动生成"), this), 37, 52, 114, 10);
    button(IDC_NEW_SAME_INFO, "新增相同信息卡", 260, 49, 87, 14);
    m_pExtendGroup = new QGroupBox(this);
    du.Place(m_pExtendGroup, 6, 65, 346, 45);
    button(IDC_READ_CARD, "读卡", 42, 74, 50, 14);
    button(IDC_EXTEND, "延期", 98, 74, 50, 14);
    button(IDC_RETURN_CARD, "退卡", 154, 74, 50, 14)->hide();
    place(IDC_EXTEND_WITHOUT_CARD, new QCheckBox(Utf8("无卡延期"), this), 224, 74, 126, 10)->hide();
    auto* extendDate = picker(IDC_EXTEND_DATE, 74, 92, 88, 15, nullptr);
    auto* extendLabel = AddLabelFor(extendDate, du, Utf8("延期日期:"), 14, 96, 59, 9);
    SetControlId(extendLabel, IDC_EXTEND_DATE_LABEL);
    auto* fee = new QLineEdit(this);
    place(IDC_EXTEND_FEE, fee, 225, 92, 88, 14);
    SetControlId(AddLabelFor(fee, du, Utf8("缴费:"), 165, 96, 59, 9), IDC_EXTEND_FEE_LABEL);
    auto* yuan = new QLabel(Utf8("元"), this);
    place(IDC_EXTEND_FEE_UNIT, yuan, 318, 96, 33, 9);

    // The record form.
    edit(IDC_NUMBER, 79, 113, 88, 14, "编号:")->setEnabled(false);
    edit(IDC_NAME, 263, 113, 88, 14, "姓名:");
    edit(IDC_CARD_NO, 79, 129, 88, 14, "卡号:");
    auto* sex = combo(IDC_SEX, 263, 129, 88, "性别:", {"男", "女"}, false);
    sex->hide();
    for (QLabel* l : findChildren<QLabel*>()) {
        if (l->buddy() == sex) {
            l->hide();
        }
    }
    combo(IDC_CARD_TYPE, 79, 145, 88, "卡类型:", {"免费卡", "月卡", "年卡", "临时卡"}, false);
    edit(IDC_PHONE, 263, 145, 88, 14, "联系电话:");
    edit(IDC_ID_NO, 263, 161, 88, 14, "证件号码:");
    picker(IDC_VALID_DATE, 79, 175, 88, 15, "有效期:");
    picker(IDC_REG_DATE, 263, 176, 88, 15, "登记日期:");
    edit(IDC_PAID, 79, 193, 88, 14, "缴费金额:");
    edit(IDC_HOUSE_NO, 263, 193, 88, 14, "门牌号:");
    edit(IDC_MONTH_FEE, 79, 210, 88, 14, "月收费标准:");
    edit(IDC_YEAR_FEE, 79, 226, 88, 14, "年收费标准:");
    combo(IDC_STATUS, 263, 226, 88, "卡片状态:", {"未发行", "已发行", "挂失"}, false)
        ->setEnabled(false);
    edit(IDC_ADDRESS, 79, 242, 272, 14, "地址:");
    edit(IDC_REMARK, 79, 258, 272, 14, "备注:");
    du.Place(new QGroupBox(this), 80, 271, 271, 85);
    auto* rightsLabel = new QLabel(Utf8("权限:"), this);
    du.Place(rightsLabel, 20, 281, 40, 9);
    const int columnsX[4] = {92, 156, 219, 282};
    const int rowsY[4] = {285, 302, 319, 336};
    for (int port = 1; port <= 16; ++port) {
        const int row = (port - 1) / 4;
        const int column = (port - 1) % 4;
        const int x = port == 7 ? 220 : columnsX[column];
        place(IdcPort(port), new QCheckBox(QStringLiteral("%1号口").arg(port), this), x, rowsY[row],
              port <= 9 ? 36 : 40, 10);
    }
    place(IDC_ALL_PORTS, new QCheckBox(Utf8("全选"), this), 34, 308, 32, 10);
    button(IDC_PASSWORD, "密码", 23, 339, 32, 14);

    // The query panel.
    picker(IDC_QUERY_FROM, 416, 13, 83, 15, "登记日期:");
    auto* to = picker(IDC_QUERY_TO, 556, 13, 83, 15, nullptr);
    AddLabelFor(to, du, Utf8("至"), 522, 17, 10, 9);
    m_cbQueryStatus =
        combo(IDC_QUERY_STATUS, 416, 31, 88, "卡片状态:", {"未发行", "已发行", "挂失"}, true);
    ChoiceFollowsText(m_cbQueryStatus);
    edit(IDC_QUERY_NAME, 556, 31, 88, 14, "姓名:");
    edit(IDC_QUERY_CARD_NO, 416, 48, 88, 14, "卡号:");
    edit(IDC_QUERY_HOUSE_NO, 556, 48, 88, 14, "门牌号:");
    edit(IDC_QUERY_PHONE, 416, 65, 88, 14, "联系电话:");
    button(IDC_QUERY, "查询", 657, 31, 42, 14);
    button(IDC_SHOW_ALL, "显示全部", 712, 31, 42, 14);
    button(IDC_EXPORT, "导出", 657, 48, 42, 14);
    button(IDC_IMPORT, "导入", 712, 48, 42, 14);
    button(IDC_EXPORT_EXCEL, "导出EXCEL", 657, 65, 42, 14);
    button(IDC_CARD_HISTORY, "操作记录", 712, 65, 42, 14);
    // Quick find, in a row of its own between the query panel and the list (which is placed
    // below it in resizeEvent).
    m_pQuickFind = edit(IDC_QUICK_FIND, 416, 83, 88, 14, "快速查找:");
    m_pQuickFind->setClearButtonEnabled(true);
    m_pListCount = new QLabel(this);
    place(IDC_QUICK_FIND_COUNT, m_pListCount, 511, 86, 80, 9);
    m_list.setParent(this);
    place(IDC_CARD_LIST, &m_list, 397, 101, 204, 102);
    m_list.setAccessibleName(QStringLiteral("卡片列表"));

    // Typing stops at the byte limits of the card number and the money fields.
    for (const auto& [id, limit] : {std::pair{IDC_CARD_NO, 6},
                                    {IDC_PAID, 10},
                                    {IDC_MONTH_FEE, 10},
                                    {IDC_YEAR_FEE, 10},
                                    {IDC_EXTEND_FEE, 10}}) {
        SetByteLimit(static_cast<QLineEdit*>(Control(id)), limit);
    }
    // Enter runs no command here: Esc or the close box ends the window.
    KeepEnterForTheDefault(this);

    ConnectCommands();
    OnInitDialog();
    // Another desk's change of the card on the form shows at once, unless it is being edited:
    // then saving meets the other change.
    m_formSubscription = m_desk.store.Listen([this](const CCardNotice& notice) {
        if (notice.elsewhere && !m_bNew && !m_bEdit && !m_strCardNo.empty() &&
            (notice.keys.empty() ||
             std::find(notice.keys.begin(), notice.keys.end(), m_strCardNo) != notice.keys.end())) {
            ShowStoredCard();
        }
    });
}

void CUserCardDlg::ConnectCommands() {
    const auto onClick = [this](int id, void (CUserCardDlg::*operation)()) {
        connect(static_cast<QAbstractButton*>(Control(id)), &QAbstractButton::clicked, this,
                operation);
    };
    // Radio buttons and check boxes run their operation on a change of state, however it came
    // (a click, the space bar, a screen reader's toggle), once per change; not while the
    // members are being shown in the controls.
    const auto onToggle = [this](int id, void (CUserCardDlg::*operation)(), bool onlyWhenSet) {
        connect(static_cast<QAbstractButton*>(Control(id)), &QAbstractButton::toggled, this,
                [this, operation, onlyWhenSet](bool checked) {
                    if (!m_bShowingMembers && (checked || !onlyWhenSet)) {
                        (this->*operation)();
                    }
                });
    };
    onToggle(IDC_MODE_ISSUE, &CUserCardDlg::OnRadioIssue, true);
    onToggle(IDC_MODE_EXTEND, &CUserCardDlg::OnRadioExtend, true);
    onClick(IDC_NEW, &CUserCardDlg::OnNew);
    onClick(IDC_EDIT, &CUserCardDlg::OnEdit);
    onClick(IDC_DELETE, &CUserCardDlg::OnDelete);
    connect(static_cast<QAbstractButton*>(Control(IDC_SAVE)), &QAbstractButton::clicked, this,
            [this] { OnSave(); });
    onClick(IDC_CANCEL, &CUserCardDlg::OnCancelEdit);
    onClick(IDC_NEW_SAME_INFO, &CUserCardDlg::OnNewSameInfo);
    onClick(IDC_PASSWORD, &CUserCardDlg::OnPassword);
    onToggle(IDC_ALL_PORTS, &CUserCardDlg::OnSelectAll, false);
    for (int port = 1; port <= 16; ++port) {
        onToggle(IdcPort(port), &CUserCardDlg::OnPortCheck, false);
    }
    connect(&m_list, &CListCtrlCl::Clicked, this, &CUserCardDlg::OnListClick);
    connect(m_pQuickFind, &QLineEdit::textChanged, this, &CUserCardDlg::OnQuickFind);
    // "共N张" follows every change of the rows; a list built anew marks the form's card again.
    const CListModel* rows = m_list.Model();
    connect(rows, &QAbstractItemModel::rowsInserted, this, &CUserCardDlg::ShowListCount);
    connect(rows, &QAbstractItemModel::rowsRemoved, this, &CUserCardDlg::ShowListCount);
    connect(rows, &QAbstractItemModel::modelReset, this, [this] {
        ShowListCount();
        MarkFormCard();
    });
    onClick(IDC_ISSUE_CARD, &CUserCardDlg::OnIssueCard);
    onClick(IDC_READ_CARD, &CUserCardDlg::OnReadCard);
    onClick(IDC_EXTEND, &CUserCardDlg::OnExtend);
    onClick(IDC_QUERY, &CUserCardDlg::OnQuery);
    onClick(IDC_SHOW_ALL, &CUserCardDlg::OnShowAll);
    onClick(IDC_IMPORT, &CUserCardDlg::OnImport);
    onClick(IDC_EXPORT, &CUserCardDlg::OnExport);
    onClick(IDC_EXPORT_EXCEL, &CUserCardDlg::OnExportExcel);
    onClick(IDC_CARD_HISTORY, &CUserCardDlg::OnCardHistory);
}

CUserCardDlg::~CUserCardDlg() {
    // Replies arriving after the window has gone reach no window.
    m_desk.device.ReleaseReceiver(this);
    m_list.setParent(nullptr);
}

QWidget* CUserCardDlg::Control(int id) const {
    return FindControl(this, id);
}

void CUserCardDlg::OnInitDialog() {
    // The screen's geometry as well, so that the window covers the screen where no window
    // manager maximises it.
    setGeometry(screen()->availableGeometry());
    setWindowState(windowState() | Qt::WindowMaximized);
    ApplyCardListStyle(m_list);
    for (int c = 0; c < kCardListColumns; ++c) {
        m_list.InsertColumn(c, Utf8(kCardListTitles[c]), 2, kColumnWidths[c]);
    }
    m_list.SetRowSource(&m_desk.cards, CardRow, [this] { return CardListOrder(m_desk.cards); });
    m_list.Watch(m_desk.store);
    FillList();
    ShowListCount();
    ShowMembers();
    m_nMode = 0;
    m_desk.device.SetReceiver(this);
    m_dateValid = QDateTime(QDate(2099, 12, 31), QTime(10, 20, 30));
    // One reading of the clock for all four: a query range taken a second apart could
    // start after it ends and list nothing.
    const QDateTime now = Now();
    m_dateReg = now;
    m_dateExtend = now;
    m_dateQueryTo = now;
    m_dateQueryFrom = now;
    m_nNumber = static_cast<int>(m_desk.store.MaxNumber() + 1);
    m_bNew = false;
    m_bEdit = false;
    DisableRecordFields();
    std::memset(m_byReply, 0, sizeof m_byReply);
    ShowMembers();
    OnRadioIssue();
    OnRadioExtend();
}

void CUserCardDlg::FillList() {
    AppendCardRows(CardListOrder(m_desk.cards));
}

void CUserCardDlg::AppendCardRows(const std::vector<const CCardMap::CAssoc*>& entries) {
    m_list.AppendEntries(entries);
}

CListRow CardRow(const CCard& card) {
    const CCardText* const texts[9] = {
        &card.m_strCardNo, &card.m_strValidDate, &card.m_strRegDate,
        &card.m_strName,   &card.m_strPhone,     &card.m_strHouseNo,
        &card.m_strIdNo,   &card.m_strAddress,   &card.m_strRemark,
    };
    qsizetype length = 32;  // the serial number, status and type
    for (const CCardText* text : texts) {
        length += static_cast<qsizetype>(text->size());
    }
    CListRow row(length);
    row.AddCell(QString::number(card.m_nNumber));
    row.AddCell(EnumText(CardStatusText(card.m_nStatus), card.m_nStatus));
    AppendFromCodePage(row.Text(), card.m_strCardNo);
    row.EndCell();
    row.AddCell(EnumText(CardTypeText(card.m_nCardType), card.m_nCardType));
    for (int i = 1; i < 9; ++i) {
        AppendFromCodePage(row.Text(), *texts[i]);
        row.EndCell();
    }
    return row;
}

bool CUserCardDlg::UpdateData(bool save) {
    const auto text = [this](int id) -> QLineEdit* { return static_cast<QLineEdit*>(Control(id)); };
    const auto check = [this](int id) -> QCheckBox* {
        return static_cast<QCheckBox*>(Control(id));
    };
    const auto comboAt = [this](int id) -> QComboBox* {
        return static_cast<QComboBox*>(Control(id));
    };
    const auto dateAt = [this](int id) -> QDateTimeEdit* {
        return static_cast<QDateTimeEdit*>(Control(id));
    };
    // A text field with an optional byte limit; false stops the exchange.
    const auto exchangeText = [&](int id, std::string& member, int limit) {
        QLineEdit* e = text(id);
        if (!save) {
            ShowWholeText(e, FromCodePage(member));
            return true;
        }
        const std::string bytes = ToCodePage(e->text());
        if (limit > 0 && bytes.size() > static_cast<size_t>(limit)) {
            Msg::Show(this, QStringLiteral("请填入不多于%1个的字符。").arg(limit),
                      QMessageBox::Information);
            e->setFocus();
            return false;
        }
        member = bytes;
        return true;
    };
    const auto exchangeCheck = [&](int id, bool& member) {
        if (save) {
            member = check(id)->isChecked();
        } else {
            check(id)->setChecked(member);
        }
    };
    // A record combo showing no entry (a stored byte outside its table) keeps the byte.
    const auto exchangeCombo = [&](int id, int& member, bool keepUnlisted) {
        if (!save) {
            comboAt(id)->setCurrentIndex(member);
        } else if (comboAt(id)->currentIndex() >= 0 || !keepUnlisted) {
            member = comboAt(id)->currentIndex();
        }
    };
    // A record date that is not a real day shows its stored text and reads back as invalid
    // until the operator picks a date.
    const auto exchangeDate = [&](int id, QDateTime& member, const std::string* storedText) {
        QDateTimeEdit* picker = dateAt(id);
        if (save) {
            const bool showsText = !picker->specialValueText().isEmpty() &&
                                   picker->dateTime() == picker->minimumDateTime();
            member = showsText
                         ? QDateTime()
                         : QDateTime::fromSecsSinceEpoch(picker->dateTime().toSecsSinceEpoch());
        } else if (member.isValid() || storedText == nullptr) {
            picker->setSpecialValueText(QString());
            picker->setDateTime(member);
        } else {
            const QString text = FromCodePage(*storedText);
            picker->setSpecialValueText(text.isEmpty() ? QStringLiteral(" ") : text);
            picker->setDateTime(picker->minimumDateTime());
        }
    };

    const QScopedValueRollback showing(m_bShowingMembers, m_bShowingMembers || !save);
    if (save) {
        m_nMode = m_pExtendMode->isChecked() ? 1 : (m_pIssueMode->isChecked() ? 0 : -1);
    } else {
        m_pIssueMode->setChecked(m_nMode == 0);
        m_pExtendMode->setChecked(m_nMode == 1);
    }
    if (!exchangeText(IDC_CARD_NO, m_strCardNo, 6)) {
        return false;
    }
    const int portOrder[16] = {1, 10, 11, 12, 13, 14, 15, 16, 2, 3, 4, 5, 6, 7, 8, 9};
    for (const int port : portOrder) {
        exchangeCheck(IdcPort(port), m_bPort[port]);
    }
    exchangeCheck(IDC_ALL_PORTS, m_bAllPorts);
    exchangeDate(IDC_VALID_DATE, m_dateValid, &m_strLoadedValidDate);
    exchangeCombo(IDC_SEX, m_nSex, true);
    exchangeCombo(IDC_STATUS, m_nStatus, true);
    if (save) {
        m_nNumber = text(IDC_NUMBER)->text().trimmed().toInt();
    } else {
        text(IDC_NUMBER)->setText(QString::number(m_nNumber));
    }
    exchangeCombo(IDC_CARD_TYPE, m_nCardType, true);
    const std::pair<int, std::string*> plain[] = {
        {IDC_NAME, &m_strName},   {IDC_REMARK, &m_strRemark},   {IDC_ID_NO, &m_strIdNo},
        {IDC_PHONE, &m_strPhone}, {IDC_ADDRESS, &m_strAddress}, {IDC_HOUSE_NO, &m_strHouseNo}};
    for (const auto& [id, member] : plain) {
        exchangeText(id, *member, 0);
    }
    exchangeDate(IDC_REG_DATE, m_dateReg, &m_strLoadedRegDate);
    const std::pair<int, std::string*> money[] = {{IDC_PAID, &m_strPaid},
                                                  {IDC_MONTH_FEE, &m_strMonthFee},
                                                  {IDC_YEAR_FEE, &m_strYearFee},
                                                  {IDC_EXTEND_FEE, &m_strExtendFee}};
    for (const auto& [id, member] : money) {
        if (!exchangeText(id, *member, 10)) {
            return false;
        }
    }
    exchangeCheck(IDC_AUTO_NUMBER, m_bAutoNumber);
    exchangeDate(IDC_EXTEND_DATE, m_dateExtend, nullptr);
    exchangeDate(IDC_QUERY_TO, m_dateQueryTo, nullptr);
    exchangeDate(IDC_QUERY_FROM, m_dateQueryFrom, nullptr);
    exchangeCombo(IDC_QUERY_STATUS, m_nQueryStatus, false);
    const std::pair<int, std::string*> query[] = {{IDC_QUERY_HOUSE_NO, &m_strQueryHouseNo},
                                                  {IDC_QUERY_CARD_NO, &m_strQueryCardNo},
                                                  {IDC_QUERY_NAME, &m_strQueryName},
                                                  {IDC_QUERY_PHONE, &m_strQueryPhone}};
    for (const auto& [id, member] : query) {
        exchangeText(id, *member, 0);
    }
    return true;
}

void CUserCardDlg::ShowMembers() {
    [[maybe_unused]] const bool shown = UpdateData(false);
}

void CUserCardDlg::SetRecordFieldsEnabled(bool enabled) {
    const auto enable = [&](int id) { Control(id)->setEnabled(enabled); };
    for (const int id : {IDC_NAME, IDC_CARD_NO, IDC_SEX, IDC_CARD_TYPE, IDC_PHONE, IDC_ID_NO,
                         IDC_VALID_DATE, IDC_REG_DATE, IDC_PAID, IDC_HOUSE_NO, IDC_MONTH_FEE,
                         IDC_YEAR_FEE, IDC_ADDRESS, IDC_REMARK}) {
        enable(id);
    }
    for (const int id : IDC_PORTS) {
        enable(id);
    }
    for (const int id : {IDC_ALL_PORTS, IDC_PASSWORD, IDC_SAVE}) {
        enable(id);
    }
}

void CUserCardDlg::EnableRecordFields() {
    SetRecordFieldsEnabled(true);
}

void CUserCardDlg::DisableRecordFields() {
    SetRecordFieldsEnabled(false);
}

bool CUserCardDlg::TakeModeSwitch() {
    const int mode = m_nMode;
    if (UpdateData(true)) {
        return true;
    }
    // The mode in force stays, and its radio button with it.
    m_nMode = mode;
    const QScopedValueRollback showing(m_bShowingMembers, true);
    m_pIssueMode->setChecked(m_nMode == 0);
    m_pExtendMode->setChecked(m_nMode == 1);
    return false;
}

void CUserCardDlg::OnRadioIssue() {
    if (!TakeModeSwitch()) {
        return;
    }
    if (m_nMode == 0) {
        for (const int id :
             {IDC_NEW, IDC_EDIT, IDC_DELETE, IDC_CANCEL, IDC_ISSUE_CARD, IDC_AUTO_NUMBER}) {
            Control(id)->setEnabled(true);
        }
        for (const int id : {IDC_EXTEND_DATE_LABEL, IDC_EXTEND_FEE_LABEL, IDC_EXTEND_FEE_UNIT,
                             IDC_READ_CARD, IDC_EXTEND, IDC_RETURN_CARD, IDC_EXTEND_WITHOUT_CARD,
                             IDC_EXTEND_DATE, IDC_EXTEND_FEE}) {
            Control(id)->setEnabled(false);
        }
    }
    ShowMembers();
}

void CUserCardDlg::OnRadioExtend() {
    if (!TakeModeSwitch()) {
        return;
    }
    if (m_nMode == 1) {
        for (const int id : {IDC_NEW, IDC_EDIT, IDC_DELETE, IDC_CANCEL, IDC_ISSUE_CARD,
                             IDC_AUTO_NUMBER, IDC_SAVE}) {
            Control(id)->setEnabled(false);
        }
        for (const int id : {IDC_EXTEND_DATE_LABEL, IDC_EXTEND_FEE_LABEL, IDC_EXTEND_FEE_UNIT,
                             IDC_READ_CARD, IDC_EXTEND, IDC_RETURN_CARD, IDC_EXTEND_WITHOUT_CARD,
                             IDC_EXTEND_DATE, IDC_EXTEND_FEE}) {
            Control(id)->setEnabled(true);
        }
        DisableRecordFields();
    }
    ShowMembers();
}

void CUserCardDlg::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    // The list fills the window right of the extension group and below the quick find.
    const QRect group = m_pExtendGroup->geometry();
    const int aboveBottom = m_pQuickFind->geometry().bottom();
    const int x = group.right() + 10;
    const int y = std::max(group.top() + 10, aboveBottom + 6);
    m_list.setGeometry(x, y, std::max(50, width() - x - 10), std::max(50, height() - y - 10));
}
