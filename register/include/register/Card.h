#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "register/CardText.h"

class CArchive;

// Card status, card type and sex as stored in the record.
enum CardStatus : uint8_t { CARD_NOT_ISSUED = 0, CARD_ISSUED = 1, CARD_LOST = 2 };
enum CardType : uint8_t { CARD_FREE = 0, CARD_MONTHLY = 1, CARD_ANNUAL = 2, CARD_TEMPORARY = 3 };
enum CardSex : uint8_t { SEX_MALE = 0, SEX_FEMALE = 1 };

// The nine texts of the three enumerations in one table (UTF-8): status 0..2 at 0..2, type
// 0..3 at 3..6, sex 0..1 at 7..8.
constexpr int kCardTextCount = 9;
constexpr int kCardTypeTextBase = 3;
constexpr int kCardSexTextBase = 7;
extern const char* const g_cardTexts[kCardTextCount];

// The table's text for a status, type or sex value; nullptr for a value the table does not
// have (records keep such bytes unchanged).
const char* CardStatusText(uint8_t status);
const char* CardTypeText(uint8_t type);
const char* CardSexText(uint8_t sex);

// One card holder and the card issued to them. Texts hold code-page bytes as typed; the
// defaults are borrowed from constant storage, so a new record allocates nothing for them.
class CCard {
public:
    static constexpr const char* kClassName = "CCard";
    static constexpr uint16_t kSchema = 1;

    int32_t m_nNumber = 1;
    uint8_t m_nStatus = CARD_NOT_ISSUED;
    CCardText m_strCardNo;
    uint8_t m_nCardType = CARD_FREE;
    CCardText m_strValidDate = CCardText::Borrowed("00000000", 8);
    CCardText m_strPassword;
    CCardText m_strRegDate = CCardText::Borrowed("00000000", 8);
    CCardText m_strName;
    CCardText m_strPhone;
    CCardText m_strHouseNo;
    CCardText m_strIdNo;
    CCardText m_strAddress;
    CCardText m_strRemark;
    CCardText m_strRights = CCardText::Borrowed("0000000000000000", 16);
    CCardText m_strRights2 = CCardText::Borrowed("0000000000000000", 16);
    uint8_t m_nSex = SEX_MALE;
    CCardText m_strPaid;
    CCardText m_strMonthFee;
    CCardText m_strYearFee;

    CCard() = default;
    CCard(const CCard&) = delete;
    CCard& operator=(const CCard&) = delete;

    // Writes or reads the 19 fields in declaration order. A failed read leaves the archive
    // in its failed state; the record then holds whatever was read before.
    void Serialize(CArchive& ar);

    // Calls f(name, field) for the 19 fields in declaration order.
    template <class Self, class F>
    static void VisitFields(Self& card, F&& f);
};

// A new record with the same 19 fields as `card`, its texts its own.
std::unique_ptr<CCard> CopyOfCard(const CCard& card);

template <class Self, class F>
void CCard::VisitFields(Self& c, F&& f) {
    f("m_nNumber", c.m_nNumber);
    f("m_nStatus", c.m_nStatus);
    f("m_strCardNo", c.m_strCardNo);
    f("m_nCardType", c.m_nCardType);
    f("m_strValidDate", c.m_strValidDate);
    f("m_strPassword", c.m_strPassword);
    f("m_strRegDate", c.m_strRegDate);
    f("m_strName", c.m_strName);
    f("m_strPhone", c.m_strPhone);
    f("m_strHouseNo", c.m_strHouseNo);
    f("m_strIdNo", c.m_strIdNo);
    f("m_strAddress", c.m_strAddress);
    f("m_strRemark", c.m_strRemark);
    f("m_strRights", c.m_strRights);
    f("m_strRights2", c.m_strRights2);
    f("m_nSex", c.m_nSex);
    f("m_strPaid", c.m_strPaid);
    f("m_strMonthFee", c.m_strMonthFee);
    f("m_strYearFee", c.m_strYearFee);
}
