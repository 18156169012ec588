// The user-card window's device operations: reading, issuing and extending user cards, and
// the replies of the card reader/writer.

#include <QDateTimeEdit>

#include <algorithm>
#include <cstring>
#include <iterator>

#include "app/CodePageText.h"
#include "app/CommitChange.h"
#include "app/MessageBox.h"
#include "app/TakeReply.h"
#include "cards/Extension.h"
#include "cards/ReadCard.h"
#include "protocol/Frame.h"
#include "protocol/Reply.h"
#include "register/Card.h"
#include "register/CardFields.h"
#include "ui/CardDate.h"
#include "ui/RecordDate.h"
#include "ui/UserCardDlg.h"

namespace {

using Msg::Tell;

}  // namespace

void CUserCardDlg::OnReadCard() {
    if (!UpdateData(true) || !Passed(CheckReadCard(Form()))) {
        return;
    }
    SendCardCommand(this, QMessageBox::Warning, m_desk.device, BuildReadCardFrame(m_strPassword));
}

void CUserCardDlg::OnIssueCard() {
    if (!UpdateData(true) || !Passed(CheckIssue(Form()))) {
        return;
    }
    SendCardCommand(this, QMessageBox::Warning, m_desk.device,
                    BuildIssueCardFrame(m_strCardNo, FrameDate(m_dateValid), m_strPassword,
                                        RightsText(m_bPort)));
}

void CUserCardDlg::OnExtend() {
    if (!UpdateData(true) || !Passed(CheckExtend(Form()))) {
        return;
    }
    // The payment that goes with this extension, recorded when the device confirms it.
    if (SendCardCommand(this, QMessageBox::Warning, m_desk.device,
                        BuildExtendFrame(FrameDate(m_dateExtend), m_strPassword))) {
        m_strSentExtendFee = m_strExtendFee;
    }
}

void CUserCardDlg::OnCardReply(const CardReply& reply) {
    const uint8_t* data = reply.data;
    CReplyCheck check;
    if (!TakeCardReply(this, QMessageBox::NoIcon, reply, check)) {
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
                // Not on disk yet: the operator has been told that instead.
                if (StoreIssuedCard() == CommitResult::Durable) {
                    Tell(this, "发卡成功并保存!");
                }
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
    const ReadCardForm card = MergeReadCard(data, m_desk.cards);
    m_strCardNo = card.cardNo;
    m_dateValid = QDateTime(QDate(card.valid.year, card.valid.month, card.valid.day), QTime(0, 0));
    if (!m_dateValid.isValid()) {
        // A date that is no day: the picker shows it as the card holds it.
        m_strLoadedValidDate = card.validText;
    }
    std::copy(std::begin(card.ports), std::end(card.ports), std::begin(m_bPort));
    m_bAllPorts = card.allPorts;
    if (card.record != nullptr) {
        LoadRecordDetails(*card.record);
    }
    ShowMembers();
    MarkFormCard();
    Tell(this, QStringLiteral("卡号[%1]读卡成功!").arg(FromCodePage(m_strCardNo)));
}

void CUserCardDlg::OnCardExtended() {
    // A field typed too long since "延期" was sent has been reported: the extension stops here.
    if (!UpdateData(true)) {
        return;
    }
    m_dateValid = m_dateExtend;
    const std::string fee = m_strSentExtendFee;
    // One payment is recorded once: a second extension records money only when it is typed
    // again.
    m_strSentExtendFee.clear();
    ExtensionChange extension =
        MakeExtension(m_desk.cards, m_strCardNo, RecordDate(m_dateValid), fee);
    // The payment is on record as money received, whether or not the card's "缴费金额" could
    // take it.
    int64_t feeCents = 0;
    const bool paid = !fee.empty() && ParseFee(fee, feeCents);
    const std::string paymentNote = paid ? "缴费:" + FeeText(feeCents) + "元" : std::string();
    const CCard* card = nullptr;
    if (extension.card != nullptr) {
        // The card carries the new validity already: the register keeps it in any case (the
        // list shows the change as the store reports it).
        CCardChange change(CardOperation::Extend, m_desk.store.MaxNumber());
        change.Put(m_strCardNo, std::move(extension.card));
        if (paid) {
            change.SetNote(paymentNote);
            change.SetFee(feeCents);
        }
        CommitResult result = CommitResult::Refused;
        CommitChange(this, m_desk.store, std::move(change), CommitMode::DeviceDone, &result);
        if (result == CommitResult::Conflict) {
            // Another desk changed the card first (told, and on record with the payment): the
            // form shows the card as the register holds it.
            ShowStoredCard();
            return;
        }
        card = m_desk.cards.Lookup(m_strCardNo);
    } else {
        std::string error;
        m_desk.store.Record(static_cast<uint8_t>(CardOperation::Extend),
                            "卡号没有登记; 有效期→" + RecordDate(m_dateValid) +
                                (paid ? "; " + paymentNote : std::string()),
                            error, m_strCardNo, feeCents);
    }
    QString unrecorded;
    switch (extension.payment) {
        case ExtensionPayment::Recorded:
            // "缴费" is emptied once recorded, unless the operator has typed another amount since.
            m_strPaid = card->m_strPaid.str();
            if (m_strExtendFee == fee) {
                m_strExtendFee.clear();
            }
            break;
        case ExtensionPayment::NotAdded:
            unrecorded = QStringLiteral("缴费%1元未能记入缴费金额[%2]!")
                             .arg(FromCodePage(fee), FromCodePage(card->m_strPaid));
            break;
        case ExtensionPayment::NotRegistered:
            unrecorded = QStringLiteral("卡号[%1]没有登记,缴费%2元只记入了操作记录!")
                             .arg(FromCodePage(m_strCardNo), FromCodePage(fee));
            break;
        case ExtensionPayment::None:
            break;
    }
    ShowMembers();
    Tell(this, "延期设定成功!");
    if (!unrecorded.isEmpty()) {
        Tell(this, unrecorded);
    }
}
