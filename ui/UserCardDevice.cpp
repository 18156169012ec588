// The user-card window's device operations: reading, issuing and extending user cards, and
// the replies of the card reader/writer.

#include <QDateTimeEdit>

#include <cstdio>
#include <cstring>

#include "app/CodePageText.h"
#include "app/MessageBox.h"
#include "app/OrvaneApp.h"
#include "app/TakeReply.h"
#include "protocol/Frame.h"
#include "protocol/Reply.h"
#include "register/Amount.h"
#include "register/Card.h"
#include "register/CardFields.h"
#include "ui/CardDate.h"
#include "ui/RecordDate.h"
#include "ui/UserCardDlg.h"
#include "ui/UserCardIds.h"

using namespace UserCardIds;

namespace {

using Msg::Tell;

}  // namespace

void CUserCardDlg::OnReadCard() {
    if (!UpdateData(true)) {
        return;
    }
    if (!theApp().IsDigits(m_strPassword, 10)) {
        Tell(this, "密码输入10个数字!");
        return;
    }
    theApp().WriteFrame(BuildReadCardFrame(m_strPassword));
}

void CUserCardDlg::OnIssueCard() {
    COrvaneApp& app = theApp();
    if (!UpdateData(true)) {
        return;
    }
    if (!app.IsDigits(m_strCardNo, 6)) {
        Tell(this, "卡号输入6个数字!");
        Control(IDC_CARD_NO)->setFocus();
        return;
    }
    if (!app.IsDigits(m_strPassword, 10)) {
        Tell(this, "密码输入10个数字!");
        return;
    }
    if (!m_bEdit) {
        const CCard* card = app.m_mapCards.Lookup(m_strCardNo);
        if (card != nullptr && card->m_nStatus == CARD_ISSUED) {
            Tell(this, "此卡已经发行!");
            return;
        }
    }
    if (!IsCardDate(m_dateValid)) {
        Tell(this, kNotACardDate);
        Control(IDC_VALID_DATE)->setFocus();
        return;
    }
    app.WriteFrame(BuildIssueCardFrame(m_strCardNo, FrameDate(m_dateValid), m_strPassword,
                                       RightsText(m_bPort)));
}

void CUserCardDlg::OnExtend() {
    COrvaneApp& app = theApp();
    if (!UpdateData(true)) {
        return;
    }
    if (!m_strExtendFee.empty() &&
        !app.IsAmount(m_strExtendFee, static_cast<int>(m_strExtendFee.size()))) {
        Tell(this, "输入正确金额格式!");
        Control(IDC_EXTEND_FEE)->setFocus();
        return;
    }
    if (!app.IsDigits(m_strPassword, 10)) {
        Tell(this, "密码输入10个数字!");
        return;
    }
    if (!IsCardDate(m_dateExtend)) {
        Tell(this, kNotACardDate);
        Control(IDC_EXTEND_DATE)->setFocus();
        return;
    }
    // The payment that goes with this extension, recorded when the device confirms it.
    if (app.WriteFrame(BuildExtendFrame(FrameDate(m_dateExtend), m_strPassword))) {
        m_strSentExtendFee = m_strExtendFee;
    }
}

void CUserCardDlg::OnCardReply(const CardReply& reply) {
    uint8_t data[kReplyBufferSize];
    CReplyCheck check;
    if (!TakeCardReply(this, QMessageBox::NoIcon, reply, data, check)) {
        return;
    }
    if (check.command != CMD_ISSUE_CARD && check.command != CMD_READ_CARD &&
        check.command != CMD_EXTEND) {
        return;
    }
    switch (ClassifyReply(check)) {
        case ReplyKind::Failure:
        case ReplyKind::TimeOut:
            Tell(this, ReplyFailureText(check.command));
            return;
        case ReplyKind::Success:
            if (check.command == CMD_ISSUE_CARD) {
                StoreIssuedCard();
                Tell(this, "发卡成功并保存!");
                ShowNextCard();
            } else if (check.command == CMD_EXTEND) {
                OnCardExtended();
            }
            return;
        case ReplyKind::Data:
            OnCardRead(data);
            return;
        case ReplyKind::Ignored:
            return;
    }
}

void CUserCardDlg::OnCardRead(const uint8_t data[]) {
    // The card number, validity and permissions of the card; its password part stays as it
    // was (the reply carries none), and so does the working password.
    std::memcpy(m_byReply, data + 3, 3);
    std::memcpy(m_byReply + 3, data + 6, 3);
    std::memcpy(m_byReply + 11, data + 9, 8);
    const CCardData card = DecodeCardData(data);
    m_strCardNo = card.cardNo;
    const QString message = QStringLiteral("卡号[%1]读卡成功!").arg(FromCodePage(m_strCardNo));
    m_dateValid = QDateTime(QDate(card.valid.year, card.valid.month, card.valid.day), QTime(0, 0));
    if (!m_dateValid.isValid()) {
        // A date that is no day: the picker shows it as the card holds it.
        char text[32];
        std::snprintf(text, sizeof text, "%04d%02d%02d", card.valid.year, card.valid.month,
                      card.valid.day);
        m_strLoadedValidDate = text;
    }
    bool all = true;
    for (int port = 1; port <= 16; ++port) {
        m_bPort[port] = PortPermitted(card.rights, port);
        all = all && m_bPort[port];
    }
    m_bAllPorts = all;
    if (const CCard* record = theApp().m_mapCards.Lookup(m_strCardNo)) {
        m_nNumber = record->m_nNumber;
        m_nStatus = record->m_nStatus;
        m_nCardType = record->m_nCardType;
        m_dateReg = DateFromRecord(record->m_strRegDate);
        m_strLoadedRegDate = record->m_strRegDate;
        m_strName = record->m_strName;
        m_strPhone = record->m_strPhone;
        m_strHouseNo = record->m_strHouseNo;
        m_strIdNo = record->m_strIdNo;
        m_strAddress = record->m_strAddress;
        m_strRemark = record->m_strRemark;
        m_nSex = record->m_nSex;
        m_strPaid = record->m_strPaid;
        m_strMonthFee = record->m_strMonthFee;
        m_strYearFee = record->m_strYearFee;
    }
    UpdateData(false);
    Tell(this, message);
}

void CUserCardDlg::OnCardExtended() {
    UpdateData(true);
    m_dateValid = m_dateExtend;
    QString unrecorded;
    if (CCard* card = theApp().m_mapCards.Lookup(m_strCardNo)) {
        card->m_strValidDate = RecordDate(m_dateValid);
        if (const int row = RowOfCard(m_strCardNo); row >= 0) {
            m_list.SetItemText(row, 4, FromCodePage(card->m_strValidDate));
        }
        unrecorded = RecordExtensionFee(*card);
    } else if (!m_strSentExtendFee.empty()) {
        unrecorded = QStringLiteral("卡号[%1]没有登记,缴费%2元未记录!")
                         .arg(FromCodePage(m_strCardNo), FromCodePage(m_strSentExtendFee));
    }
    // One payment is recorded once: a second extension records money only when it is typed
    // again.
    m_strSentExtendFee.clear();
    UpdateData(false);
    Tell(this, "延期设定成功!");
    if (!unrecorded.isEmpty()) {
        Tell(this, unrecorded);
    }
}

// The payment that was checked and sent with the extension joins the amount paid of the
// card's record, so that the register (and its exports) show what the holder has paid; "缴费"
// is emptied once it is recorded, unless the operator has typed another amount since. Returns
// what to tell the operator when the payment could not be added.
QString CUserCardDlg::RecordExtensionFee(CCard& card) {
    const std::string& fee = m_strSentExtendFee;
    if (fee.empty()) {
        return QString();
    }
    const std::optional<std::string> total = AddAmounts(card.m_strPaid, fee, 10);
    if (!total) {
        return QStringLiteral("缴费%1元未能记入缴费金额[%2]!")
            .arg(FromCodePage(fee), FromCodePage(card.m_strPaid));
    }
    card.m_strPaid = *total;
    m_strPaid = *total;
    if (m_strExtendFee == fee) {
        m_strExtendFee.clear();
    }
    return QString();
}
