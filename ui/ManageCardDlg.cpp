#include "ui/ManageCardDlg.h"

#include <QButtonGroup>
#include <QDateTimeEdit>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScopedValueRollback>

#include <cstring>

#include "app/ByteLimit.h"
#include "app/CodePageText.h"
#include "app/CommitChange.h"
#include "app/ControlId.h"
#include "app/DialogLayout.h"
#include "app/MessageBox.h"
#include "app/PasswordDlg.h"
#include "app/TakeReply.h"
#include "cards/CardChecks.h"
#include "protocol/Reply.h"
#include "ui/CardDate.h"
#include "ui/ManageCardIds.h"

using namespace ManageCardIds;

namespace {

QDateTime WholeSeconds(const QDateTime& t) {
    return QDateTime::fromSecsSinceEpoch(t.toSecsSinceEpoch());
}

void Say(QWidget* parent, const char* utf8) {
    Msg::Show(parent, QString::fromUtf8(utf8));
}

}  // namespace

CManageCardDlg::CManageCardDlg(CCardDesk desk, QWidget* parent) : QDialog(parent), m_desk(desk) {
    const CDialogUnits du = SetUpDialog(this, QStringLiteral(" 管理卡"), 398, 227);

    auto* group = new QGroupBox(QStringLiteral("命令"), this);
    du.Place(group, 14, 12, 370, 44);
    m_pCommands = new QButtonGroup(this);
    const char* const texts[5] = {"校时", "密码", "挂失", "解挂", "格式化管理卡"};
    for (int i = 0; i < 5; ++i) {
        m_radios[i] = new QRadioButton(QString::fromUtf8(texts[i]), this);
        SetControlId(m_radios[i], IDC_COMMANDS[i]);
        du.Place(m_radios[i], 30 + i * 66, 30, i == 4 ? 80 : 50, 12);
        m_pCommands->addButton(m_radios[i], i);
    }
    // On the change of choice, however it came (a click, the arrow keys, a screen reader's
    // toggle), once per change; not while the members are being shown in the controls.
    connect(m_pCommands, &QButtonGroup::idToggled, this, [this](int id, bool checked) {
        if (checked && !m_bShowingMembers) {
            OnCommandChosen(id);
        }
    });

    m_pClock = new QDateTimeEdit(this);
    SetControlId(m_pClock, IDC_CLOCK);
    m_pClock->setDisplayFormat(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    du.Place(m_pClock, 62, 72, 110, 14);
    AddLabelFor(m_pClock, du, QStringLiteral("时间:"), 14, 74, 44, 12);

    m_pPasswordButton = new QPushButton(QStringLiteral("密码"), this);
    SetControlId(m_pPasswordButton, IDC_PASSWORD);
    du.Place(m_pPasswordButton, 196, 72, 50, 14);
    connect(m_pPasswordButton, &QPushButton::clicked, this, &CManageCardDlg::OnPasswordButton);

    m_pCardNo = new QLineEdit(this);
    SetControlId(m_pCardNo, IDC_CARD_NO);
    SetByteLimit(m_pCardNo, 6);
    du.Place(m_pCardNo, 62, 102, 80, 14);
    AddLabelFor(m_pCardNo, du, QStringLiteral("卡号:"), 14, 104, 44, 12);

    auto* make = new QPushButton(QStringLiteral("制卡"), this);
    du.Place(make, 90, 190, 60, 16);
    connect(make, &QPushButton::clicked, this, &CManageCardDlg::OnMakeCard);
    auto* read = new QPushButton(QStringLiteral("读卡"), this);
    du.Place(read, 170, 190, 60, 16);
    connect(read, &QPushButton::clicked, this, &CManageCardDlg::OnReadSettings);
    auto* ok = new QPushButton(QStringLiteral("确定"), this);
    ok->setDefault(true);
    du.Place(ok, 250, 190, 60, 16);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    // Enter answers "确定" only: it never makes or reads a card.
    KeepEnterForTheDefault(this);

    OnInitDialog();
}

void CManageCardDlg::OnInitDialog() {
    m_timeClock = WholeSeconds(QDateTime::currentDateTime());
    m_nCommand = kSetTime;
    m_desk.device.SetReceiver(this);
    EnableFor(kSetTime);
    UpdateData(false);
}

void CManageCardDlg::UpdateData(bool save) {
    if (save) {
        m_timeClock = WholeSeconds(m_pClock->dateTime());
        m_nCommand = m_pCommands->checkedId();
        // Whole: a longer number (shown from a card) fails the digit check instead of being
        // cut into another card's number.
        m_strCardNo = ToCodePage(m_pCardNo->text());
    } else {
        const QScopedValueRollback showing(m_bShowingMembers, true);
        m_pClock->setDateTime(m_timeClock);
        if (QAbstractButton* chosen = m_pCommands->button(m_nCommand)) {
            chosen->setChecked(true);
        }
        ShowWholeText(m_pCardNo, FromCodePage(m_strCardNo));
    }
}

void CManageCardDlg::EnableFor(int command) {
    m_pClock->setEnabled(command == kSetTime);
    m_pPasswordButton->setEnabled(command == kSetPassword);
    m_pCardNo->setEnabled(command == kReportLost || command == kUnlock);
}

void CManageCardDlg::OnCommandChosen(int command) {
    UpdateData(true);
    EnableFor(command);
    UpdateData(false);
}

void CManageCardDlg::OnPasswordButton() {
    if (AskSystemPassword(m_desk.sysPassword, m_strPassword, this)) {
        m_desk.files.SavePassword();
    }
}

void CManageCardDlg::OnMakeCard() {
    UpdateData(true);
    const QDateTime local = m_timeClock.toLocalTime();
    CardForm form;
    form.cardNo = m_strCardNo;
    form.password = m_strPassword;
    form.clockDate = FrameDate(local);
    if (const std::optional<CheckFailure> failure = CheckMakeCard(m_nCommand, form)) {
        Say(this, failure->message);
        if (failure->focus == CardField::CardNo) {
            m_pCardNo->setFocus();
        } else if (failure->focus == CardField::Clock) {
            m_pClock->setFocus();
        }
        return;
    }
    Frame frame;
    switch (m_nCommand) {
        case kSetTime: {
            const CFrameClock clock{{local.date().year(), local.date().month(), local.date().day()},
                                    local.time().hour(),
                                    local.time().minute()};
            frame = BuildSetTimeFrame(clock, m_strPassword);
            break;
        }
        case kSetPassword:
            frame = BuildSetPasswordFrame(m_strPassword);
            break;
        case kReportLost:
            frame = BuildReportLostFrame(m_strCardNo, m_strPassword);
            break;
        case kUnlock:
            frame = BuildUnlockFrame(m_strCardNo, m_strPassword);
            break;
        case kClear:
            frame = BuildClearSettingsFrame();
            break;
        default:
            return;
    }
    SendCardCommand(this, QMessageBox::Warning, m_desk.device, frame);
}

void CManageCardDlg::OnReadSettings() {
    SendCardCommand(this, QMessageBox::Warning, m_desk.device, BuildReadSettingsFrame());
}

void CManageCardDlg::OnCardReply(const CardReply& reply) {
    const uint8_t* data = reply.data;
    CReplyCheck check;
    if (!TakeCardReply(this, QMessageBox::Warning, reply, check)) {
        return;
    }
    const ReplyKind kind = ClassifyReply(check);
    if (kind == ReplyKind::Ignored) {
        return;
    }
    if (kind == ReplyKind::Failure || kind == ReplyKind::TimeOut) {
        Say(this, ReplyFailureText(check.command));
        return;
    }
    switch (check.command) {
        case CMD_ISSUE_CARD:
            Say(this, "发卡成功!");
            return;
        case CMD_READ_CARD:
            std::memset(m_cardData, 0, sizeof m_cardData);
            std::memcpy(m_cardData, data + 3, 3);
            m_strCardNo = DecodeDigits(m_cardData, 3);
            UpdateData(false);
            Say(this, "读卡成功!");
            return;
        case CMD_REPORT_LOST:
        case CMD_UNLOCK:
            if (const CCard* card = m_desk.cards.Lookup(m_strCardNo)) {
                // The management card is written: the register keeps the status in any case.
                std::unique_ptr<CCard> changed = CopyOfCard(*card);
                changed->m_nStatus = check.command == CMD_REPORT_LOST ? CARD_LOST : CARD_ISSUED;
                CCardChange change(check.command == CMD_REPORT_LOST ? CardOperation::ReportLost
                                                                    : CardOperation::Unlock,
                                   m_desk.store.MaxNumber());
                change.Put(m_strCardNo, std::move(changed));
                CommitChange(this, m_desk.store, std::move(change), CommitMode::DeviceDone);
            }
            Say(this, ReplySuccessText(check.command));
            return;
        case CMD_READ_SETTINGS:
            switch (check.result) {
                case CMD_SET_TIME: {
                    const QDateTime clock = ClockLocalTime(data + 4);
                    if (!clock.isValid()) {
                        Say(this, "管理卡中没有有效的校时时间!");
                        return;
                    }
                    m_timeClock = clock;
                    UpdateData(false);
                    break;
                }
                case CMD_SET_PASSWORD:
                    m_strPassword = DecodeDigits(data + 4, 5);
                    break;
                default:
                    m_strCardNo = DecodeDigits(data + 4, 3);
                    UpdateData(false);
                    break;
            }
            Say(this, SettingsSuccessText(check.result));
            return;
        default:
            Say(this, ReplySuccessText(check.command));
            return;
    }
}
