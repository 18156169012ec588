#include "register/Card.h"

#include "register/Archive.h"

const char* const g_cardTexts[kCardTextCount] = {
    "未发行", "已发行", "挂失", "免费卡", "月卡", "年卡", "临时卡", "男", "女",
};

namespace {

const char* TextAt(int base, int count, uint8_t value) {
    return value < count ? g_cardTexts[base + value] : nullptr;
}

}  // namespace

const char* CardStatusText(uint8_t status) {
    return TextAt(0, 3, status);
}
const char* CardTypeText(uint8_t type) {
    return TextAt(kCardTypeTextBase, 4, type);
}
const char* CardSexText(uint8_t sex) {
    return TextAt(kCardSexTextBase, 2, sex);
}

void CCard::Serialize(CArchive& ar) {
    if (ar.IsStoring()) {
        // The record's size first, so that it goes into the buffer in one piece.
        size_t size = 0;
        VisitFields(*this, [&size](const char*, const auto& field) {
            size += CArchive::StoredSize(field);
        });
        if (uint8_t* at = ar.Room(size)) {
            VisitFields(*this,
                        [&at](const char*, const auto& field) { at = CArchive::Store(at, field); });
            return;
        }
    }
    VisitFields(*this, [&ar](const char* name, auto& field) {
        if (ar.IsStoring()) {
            ar << field;
        } else {
            ar.SetField(name);
            ar >> field;
        }
    });
}

std::unique_ptr<CCard> CopyOfCard(const CCard& from) {
    auto card = std::make_unique<CCard>();
    card->m_nNumber = from.m_nNumber;
    card->m_nStatus = from.m_nStatus;
    card->m_strCardNo = from.m_strCardNo;
    card->m_nCardType = from.m_nCardType;
    card->m_strValidDate = from.m_strValidDate;
    card->m_strPassword = from.m_strPassword;
    card->m_strRegDate = from.m_strRegDate;
    card->m_strName = from.m_strName;
    card->m_strPhone = from.m_strPhone;
    card->m_strHouseNo = from.m_strHouseNo;
    card->m_strIdNo = from.m_strIdNo;
    card->m_strAddress = from.m_strAddress;
    card->m_strRemark = from.m_strRemark;
    card->m_strRights = from.m_strRights;
    card->m_strRights2 = from.m_strRights2;
    card->m_nSex = from.m_nSex;
    card->m_strPaid = from.m_strPaid;
    card->m_strMonthFee = from.m_strMonthFee;
    card->m_strYearFee = from.m_strYearFee;
    return card;
}
