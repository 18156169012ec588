// The user-card window's editing operations: entering, changing, deleting and copying card
// records through the form, loading a card from the list, and storing an issued card.

#include <QCheckBox>
#include <QLineEdit>

#include <memory>

#include "app/CodePageText.h"
#include "app/CommitChange.h"
#include "app/MessageBox.h"
#include "app/PasswordDlg.h"
#include "register/Card.h"
#include "register/CardFields.h"
#include "ui/RecordDate.h"
#include "ui/UserCardDlg.h"

namespace {

const QString kQuestionCaption = QStringLiteral("清空");

using Msg::Tell;

}  // namespace

std::optional<std::string> CUserCardDlg::FindFreeCardNo() const {
    return FirstFreeCardNo(m_desk.cards);
}

void CUserCardDlg::ClearForm() {
    m_nFormMark = m_desk.store.SeenMark();
    m_strCardNo.clear();
    for (bool& port : m_bPort) {
        port = false;
    }
    m_bAllPorts = false;
    m_dateValid = QDateTime(QDate(2099, 12, 31), QTime(10, 20, 30));
    m_nSex = SEX_MALE;
    m_nStatus = CARD_NOT_ISSUED;
    m_nNumber = 1;
    m_nCardType = CARD_FREE;
    for (std::string* text :
         {&m_strName, &m_strRemark, &m_strIdNo, &m_strPhone, &m_strAddress, &m_strHouseNo,
          &m_strPaid, &m_strMonthFee, &m_strYearFee, &m_strExtendFee}) {
        text->clear();
    }
    m_dateReg = QDateTime::fromSecsSinceEpoch(QDateTime::currentSecsSinceEpoch());
}

void CUserCardDlg::OnNew() {
    // A pending card that cannot be saved stops here, so that nothing typed is lost.
    if (!OnSave()) {
        return;
    }
    EnableRecordFields();
    ClearForm();
    m_nNumber = static_cast<int>(m_desk.store.MaxNumber() + 1);
    m_bNew = true;
    if (m_bAutoNumber) {
        const std::optional<std::string> cardNo = FindFreeCardNo();
        if (!cardNo) {
            ShowMembers();
            MarkFormCard();
            Tell(this, "不能自动分配卡号");
            return;
        }
        m_strCardNo = *cardNo;
    }
    ShowMembers();
    MarkFormCard();
}

void CUserCardDlg::OnEdit() {
    EnableRecordFields();
    m_bEdit = true;
}

void CUserCardDlg::OnCancelEdit() {
    DisableRecordFields();
    m_bNew = false;
    m_bEdit = false;
}

bool CUserCardDlg::OnSave() {
    if (!UpdateData(true)) {
        return false;
    }
    return !(m_bNew || m_bEdit) || SaveForm();
}

bool CUserCardDlg::SaveForm(CardOperation newCard) {
    if (!UpdateData(true) || !Passed(CheckSave(Form()))) {
        return false;
    }
    const CCard* existing = m_desk.cards.Lookup(m_strCardNo);
    if (existing != nullptr &&
        !Msg::Ask(this, QStringLiteral("确认保存已存在卡号?"), kQuestionCaption)) {
        return false;
    }
    if (!StoreForm(existing, existing != nullptr ? CardOperation::Save : newCard,
                   CommitMode::Refusable)) {
        return false;  // told; the form keeps what was typed
    }
    m_bNew = false;
    m_bEdit = false;
    DisableRecordFields();
    ShowMembers();
    MarkFormCard();
    return true;
}

void CUserCardDlg::CopyFormTo(CCard& card) const {
    card.m_nStatus = static_cast<uint8_t>(m_nStatus);
    card.m_strCardNo = m_strCardNo;
    card.m_nCardType = static_cast<uint8_t>(m_nCardType);
    // A picker still showing a date text that was not a real day keeps that text.
    card.m_strValidDate = m_dateValid.isValid() ? RecordDate(m_dateValid) : m_strLoadedValidDate;
    card.m_strPassword = m_strPassword;
    card.m_strRegDate = m_dateReg.isValid() ? RecordDate(m_dateReg) : m_strLoadedRegDate;
    card.m_strName = m_strName;
    card.m_strPhone = m_strPhone;
    card.m_strHouseNo = m_strHouseNo;
    card.m_strIdNo = m_strIdNo;
    card.m_strAddress = m_strAddress;
    card.m_strRemark = m_strRemark;
    card.m_nSex = static_cast<uint8_t>(m_nSex);
    card.m_strPaid = m_strPaid;
    card.m_strMonthFee = m_strMonthFee;
    card.m_strYearFee = m_strYearFee;
    card.m_strRights = RightsText(m_bPort);
}

bool CUserCardDlg::StoreForm(const CCard* existing, CardOperation operation, CommitMode mode,
                             CommitResult* result) {
    uint32_t maxNumber = m_desk.store.MaxNumber();
    std::unique_ptr<CCard> card;
    if (existing != nullptr) {
        card = CopyOfCard(*existing);
    } else {
        card = std::make_unique<CCard>();
        card->m_nNumber = static_cast<int32_t>(++maxNumber);
    }
    CopyFormTo(*card);
    CCardChange change(operation, maxNumber);
    change.Put(m_strCardNo, std::move(card));
    // Checked against what the form was loaded from: another desk's change since stands.
    change.SetSeen(m_nFormMark);
    CommitResult outcome = CommitResult::Refused;
    const bool committed = CommitChange(this, m_desk.store, std::move(change), mode, &outcome);
    if (result != nullptr) {
        *result = outcome;
    }
    if (outcome == CommitResult::Conflict) {
        // Another desk changed the card first: the edit ends and the form shows its change.
        m_bNew = false;
        m_bEdit = false;
        DisableRecordFields();
        ShowStoredCard();
    }
    if (!committed) {
        return false;
    }
    // The store's notice has updated the list: a new card's row is at the top.
    if (const CCard* stored = m_desk.cards.Lookup(m_strCardNo)) {
        // The form's serial number becomes the stored card's (an overwritten card keeps its
        // own).
        m_nNumber = stored->m_nNumber;
    }
    return true;
}

void CUserCardDlg::MarkFormCard() {
    // The current row stays when it shows the form's card: a key brought in by an import may
    // differ from the card number of its record.
    const int current = m_list.GetSelectionMark();
    if (!m_strCardNo.empty() && current >= 0) {
        const CCard* card = m_list.Model()->CardOf(current);
        if (m_list.ItemKey(current) == m_strCardNo ||
            (card != nullptr && card->m_strCardNo == m_strCardNo)) {
            m_list.MarkRow(current);
            return;
        }
    }
    m_list.MarkRow(m_strCardNo.empty() ? -1 : m_list.Model()->RowOf(m_strCardNo));
}

void CUserCardDlg::OnDelete() {
    if (!UpdateData(true)) {
        return;
    }
    const int row = m_list.GetSelectionMark();
    if (row < 0) {
        Tell(this, "先选择要删除的项");
        return;
    }
    if (!Msg::Ask(this, QStringLiteral("确认要删除选择的项?"), kQuestionCaption)) {
        return;
    }
    // The card number's serial number is not given out again while the program runs.
    CCardChange change(CardOperation::Delete, m_desk.store.MaxNumber());
    change.Remove(m_list.ItemKey(row));
    // The store's notice takes the row out of the list.
    if (!CommitChange(this, m_desk.store, std::move(change), CommitMode::Refusable)) {
        return;
    }
    // The form no longer shows the deleted card, and no row is marked, so that the next "删除"
    // asks for a row again instead of taking the one that moved up.
    ClearForm();
    m_nNumber = static_cast<int>(m_desk.store.MaxNumber() + 1);
    m_list.MarkRow(-1);
    ShowMembers();
}

void CUserCardDlg::OnListClick() {
    if (!UpdateData(true)) {
        return;
    }
    const int row = m_list.GetSelectionMark();
    if (row < 0) {
        Tell(this, "先选择的项");
        return;
    }
    LoadCardOfRow(row);
}

void CUserCardDlg::LoadCardOfRow(int row) {
    if (const CCard* card = m_list.Model()->CardOf(row)) {
        LoadCard(*card);
    }
    ShowMembers();
}

void CUserCardDlg::LoadCard(const CCard& card) {
    m_nFormMark = m_desk.store.SeenMark();
    m_strCardNo = card.m_strCardNo;
    m_dateValid = DateFromRecord(card.m_strValidDate);
    m_strLoadedValidDate = card.m_strValidDate;
    m_strPassword = card.m_strPassword;
    for (int port = 1; port <= 16; ++port) {
        m_bPort[port] = PortPermitted(card.m_strRights, port);
    }
    LoadRecordDetails(card);
}

void CUserCardDlg::ShowStoredCard() {
    if (const CCard* card = m_desk.cards.Lookup(m_strCardNo)) {
        LoadCard(*card);
    } else {
        ClearForm();
    }
    ShowMembers();
    MarkFormCard();
}

void CUserCardDlg::LoadRecordDetails(const CCard& card) {
    m_nNumber = card.m_nNumber;
    m_nStatus = card.m_nStatus;
    m_nCardType = card.m_nCardType;
    m_dateReg = DateFromRecord(card.m_strRegDate);
    m_strLoadedRegDate = card.m_strRegDate;
    m_strName = card.m_strName;
    m_strPhone = card.m_strPhone;
    m_strHouseNo = card.m_strHouseNo;
    m_strIdNo = card.m_strIdNo;
    m_strAddress = card.m_strAddress;
    m_strRemark = card.m_strRemark;
    m_nSex = card.m_nSex;
    m_strPaid = card.m_strPaid;
    m_strMonthFee = card.m_strMonthFee;
    m_strYearFee = card.m_strYearFee;
}

void CUserCardDlg::ShowNextCard() {
    if (!UpdateData(true)) {
        return;
    }
    const int row = m_list.GetSelectionMark();
    if (row < 0 || row + 1 >= m_list.GetItemCount()) {
        return;
    }
    m_list.MarkRow(row + 1);
    LoadCardOfRow(row + 1);
}

CommitResult CUserCardDlg::StoreIssuedCard() {
    // The reader has written the card, so its issue is recorded even when a field changed
    // since the command was sent cannot be taken (the operator has been told which): that
    // field keeps what was sent.
    static_cast<void>(UpdateData(true));
    const CCard* existing = m_desk.cards.Lookup(m_strCardNo);
    m_nStatus = CARD_ISSUED;
    // The card is written already: the register keeps it even when the disk does not yet.
    CommitResult result = CommitResult::Refused;
    StoreForm(existing, CardOperation::Issue, CommitMode::DeviceDone, &result);
    ShowMembers();
    MarkFormCard();
    return result;
}

void CUserCardDlg::OnNewSameInfo() {
    if (!UpdateData(true)) {
        return;
    }
    if (m_strCardNo.empty()) {
        Tell(this, "请选择需要新增相同信息卡!");
        return;
    }
    m_strCardNo.clear();
    m_nNumber = static_cast<int>(m_desk.store.MaxNumber() + 1);
    const std::optional<std::string> cardNo = FindFreeCardNo();
    if (!cardNo) {
        Tell(this, "不能自动分配卡号");
        return;
    }
    m_strCardNo = *cardNo;
    ShowMembers();
    SaveForm(CardOperation::SameInfo);
}

void CUserCardDlg::OnPassword() {
    if (AskSystemPassword(m_desk.sysPassword, m_strPassword, this)) {
        m_desk.files.SavePassword();
    }
}

void CUserCardDlg::OnSelectAll() {
    if (!UpdateData(true)) {
        return;
    }
    for (int port = 1; port <= 16; ++port) {
        m_bPort[port] = m_bAllPorts;
    }
    ShowMembers();
}

void CUserCardDlg::OnPortCheck() {
    if (!UpdateData(true)) {
        return;
    }
    bool all = true;
    for (int port = 1; port <= 16; ++port) {
        all = all && m_bPort[port];
    }
    m_bAllPorts = all;
    ShowMembers();
}
