// The card windows' rules without a window: the checks before saving and before each device
// command, the query, the list order, a read card's merge and an extension's payment.

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "TestUtil.h"
#include "cards/CardChecks.h"
#include "cards/CardList.h"
#include "cards/CardQuery.h"
#include "cards/Extension.h"
#include "cards/ReadCard.h"
#include "register/CardFields.h"
#include "register/CardMap.h"

namespace {

const char* const kCardNoText = "卡号输入6个数字!";
const char* const kPasswordText = "密码输入10个数字!";
const char* const kAmountText = "输入正确金额格式!";
const char* const kIssuedText = "此卡已经发行!";

// A form that passes every check.
CardForm GoodForm() {
    CardForm form;
    form.cardNo = "000042";
    form.password = "1234567890";
    form.paid = "12.5";
    form.monthFee = "30";
    form.yearFee = "";
    form.extendFee = "100";
    form.validDate = {2099, 12, 31};
    form.extendDate = {2030, 6, 1};
    form.clockDate = {2026, 12, 9};
    return form;
}

using Check = std::optional<CheckFailure> (*)(const CardForm&);

struct CheckCase {
    const char* name;
    Check check;
    std::function<void(CardForm&)> change;
    const char* message;  // nullptr: passes
    CardField focus;
};

void ExpectCases(const std::vector<CheckCase>& cases, const CardForm& base) {
    for (const CheckCase& c : cases) {
        CardForm form = base;
        c.change(form);
        const std::optional<CheckFailure> failure = c.check(form);
        if (c.message == nullptr) {
            EXPECT_FALSE(failure) << c.name << ": " << failure->message;
            continue;
        }
        ASSERT_TRUE(failure) << c.name;
        EXPECT_STREQ(failure->message, c.message) << c.name;
        EXPECT_EQ(failure->focus, c.focus) << c.name;
    }
}

TEST(CardChecks, EachOperationInItsOrder) {
    const auto none = [](CardForm&) {};
    const std::vector<CheckCase> cases = {
        {"save passes", CheckSave, none, nullptr, CardField::None},
        {"save: five digits", CheckSave, [](CardForm& f) { f.cardNo = "00042"; }, kCardNoText,
         CardField::CardNo},
        {"save: a letter", CheckSave, [](CardForm& f) { f.cardNo = "00004a"; }, kCardNoText,
         CardField::CardNo},
        {"save: nine-digit password", CheckSave, [](CardForm& f) { f.password = "123456789"; },
         kPasswordText, CardField::None},
        {"save: paid with two points", CheckSave, [](CardForm& f) { f.paid = "1.2.3"; },
         kAmountText, CardField::Paid},
        {"save: month fee with a leading zero", CheckSave, [](CardForm& f) { f.monthFee = "05"; },
         kAmountText, CardField::MonthFee},
        {"save: year fee ending in a point", CheckSave, [](CardForm& f) { f.yearFee = "5."; },
         kAmountText, CardField::YearFee},
        {"save: empty amounts pass", CheckSave,
         [](CardForm& f) { f.paid = f.monthFee = f.yearFee = ""; }, nullptr, CardField::None},
        {"save: card number before password", CheckSave,
         [](CardForm& f) {
             f.cardNo = "";
             f.password = "";
             f.paid = "x";
         },
         kCardNoText, CardField::CardNo},
        {"save: password before amounts", CheckSave,
         [](CardForm& f) {
             f.password = "";
             f.paid = "x";
         },
         kPasswordText, CardField::None},
        {"save: paid before the month fee", CheckSave,
         [](CardForm& f) {
             f.paid = "x";
             f.monthFee = "y";
         },
         kAmountText, CardField::Paid},
        {"save: dates are not its business", CheckSave,
         [](CardForm& f) {
             f.validDate = {0, 0, 0};
         },
         nullptr, CardField::None},

        {"issue passes", CheckIssue, none, nullptr, CardField::None},
        {"issue: card number", CheckIssue, [](CardForm& f) { f.cardNo = "1234567"; }, kCardNoText,
         CardField::CardNo},
        {"issue: password", CheckIssue, [](CardForm& f) { f.password = "12345678901"; },
         kPasswordText, CardField::None},
        {"issue: validity 2100", CheckIssue,
         [](CardForm& f) {
             f.validDate = {2100, 1, 1};
         },
         kNotACardDate, CardField::ValidDate},
        {"issue: no date", CheckIssue,
         [](CardForm& f) {
             f.validDate = {0, 0, 0};
         },
         kNotACardDate, CardField::ValidDate},
        {"issue: amounts are not its business", CheckIssue, [](CardForm& f) { f.paid = "x"; },
         nullptr, CardField::None},

        {"extend passes", CheckExtend, none, nullptr, CardField::None},
        {"extend: no payment passes", CheckExtend, [](CardForm& f) { f.extendFee = ""; }, nullptr,
         CardField::None},
        {"extend: payment", CheckExtend, [](CardForm& f) { f.extendFee = "0.5.0"; }, kAmountText,
         CardField::ExtendFee},
        {"extend: payment before password", CheckExtend,
         [](CardForm& f) {
             f.extendFee = ".5";
             f.password = "";
         },
         kAmountText, CardField::ExtendFee},
        {"extend: password before date", CheckExtend,
         [](CardForm& f) {
             f.password = "";
             f.extendDate = {1999, 12, 31};
         },
         kPasswordText, CardField::None},
        {"extend: 1999", CheckExtend,
         [](CardForm& f) {
             f.extendDate = {1999, 12, 31};
         },
         kNotACardDate, CardField::ExtendDate},
        {"extend: card number is not its business", CheckExtend, [](CardForm& f) { f.cardNo = ""; },
         nullptr, CardField::None},

        {"read passes", CheckReadCard, none, nullptr, CardField::None},
        {"read: password only", CheckReadCard,
         [](CardForm& f) {
             f.cardNo = "";
             f.password = "12345 7890";
         },
         kPasswordText, CardField::None},
    };
    ExpectCases(cases, GoodForm());
}

TEST(CardChecks, IssuingACardTwice) {
    CCardMap cards;
    auto issued = MakeCard("000042");
    issued->m_nStatus = CARD_ISSUED;
    cards.SetAt("000042", std::move(issued));
    auto lost = MakeCard("000043");
    lost->m_nStatus = CARD_LOST;
    cards.SetAt("000043", std::move(lost));
    cards.SetAt("000044", MakeCard("000044"));

    const struct {
        const char* cardNo;
        bool editing;
        bool refused;
    } cases[] = {
        {"000042", false, true},  {"000042", true, false},  {"000043", false, false},
        {"000044", false, false}, {"000045", false, false},
    };
    for (const auto& c : cases) {
        CardForm form = GoodForm();
        form.cards = &cards;
        form.cardNo = c.cardNo;
        form.editing = c.editing;
        const std::optional<CheckFailure> failure = CheckIssue(form);
        EXPECT_EQ(failure.has_value(), c.refused) << c.cardNo << " editing " << c.editing;
        if (failure) {
            EXPECT_STREQ(failure->message, kIssuedText);
            EXPECT_EQ(failure->focus, CardField::None);
        }
    }
    // The card number is checked before the register is asked.
    CardForm form = GoodForm();
    form.cards = &cards;
    form.cardNo = "42";
    EXPECT_STREQ(CheckIssue(form)->message, kCardNoText);
}

TEST(CardChecks, ManagementCards) {
    const std::vector<CheckCase> cases = {
        {"clock passes", [](const CardForm& f) { return CheckMakeCard(kSetTime, f); },
         [](CardForm& f) { f.cardNo = ""; }, nullptr, CardField::None},
        {"clock: password", [](const CardForm& f) { return CheckMakeCard(kSetTime, f); },
         [](CardForm& f) {
             f.password = "";
             f.clockDate = {2100, 1, 1};
         },
         kPasswordText, CardField::None},
        {"clock: 2100", [](const CardForm& f) { return CheckMakeCard(kSetTime, f); },
         [](CardForm& f) {
             f.clockDate = {2100, 1, 1};
         },
         kNotACardDate, CardField::Clock},
        {"password card", [](const CardForm& f) { return CheckMakeCard(kSetPassword, f); },
         [](CardForm& f) {
             f.password = "abc";
             f.clockDate = {0, 0, 0};
         },
         kPasswordText, CardField::None},
        {"lost card: number first", [](const CardForm& f) { return CheckMakeCard(kReportLost, f); },
         [](CardForm& f) {
             f.cardNo = "0000421";
             f.password = "";
         },
         kCardNoText, CardField::CardNo},
        {"unlocked card: password", [](const CardForm& f) { return CheckMakeCard(kUnlock, f); },
         [](CardForm& f) { f.password = ""; }, kPasswordText, CardField::None},
        {"unlocked card passes", [](const CardForm& f) { return CheckMakeCard(kUnlock, f); },
         [](CardForm& f) {
             f.clockDate = {0, 0, 0};
         },
         nullptr, CardField::None},
        {"clearing needs nothing", [](const CardForm& f) { return CheckMakeCard(kClear, f); },
         [](CardForm& f) { f = CardForm(); }, nullptr, CardField::None},
        {"no choice needs nothing", [](const CardForm& f) { return CheckMakeCard(-1, f); },
         [](CardForm& f) { f = CardForm(); }, nullptr, CardField::None},
    };
    ExpectCases(cases, GoodForm());
}

TEST(CardChecks, CardDates) {
    const struct {
        CFrameDate date;
        bool ok;
    } cases[] = {
        {{2000, 1, 1}, true},   {{2099, 12, 31}, true}, {{1999, 12, 31}, false},
        {{2100, 1, 1}, false},  {{0, 0, 0}, false},     {{2026, 13, 1}, false},
        {{2026, 0, 10}, false}, {{2026, 2, 0}, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsCardDate(c.date), c.ok)
            << c.date.year << '-' << c.date.month << '-' << c.date.day;
    }
}

// A register with one card per row of `rows`: card number, name, phone, house, status, date.
struct QueryCard {
    const char* cardNo;
    const char* name;
    const char* phone;
    const char* houseNo;
    uint8_t status;
    const char* regDate;
};

CCardMap QueryRegister(const std::vector<QueryCard>& rows) {
    CCardMap cards;
    int number = 1;
    for (const QueryCard& r : rows) {
        auto card = MakeCard(r.cardNo, number++);
        card->m_strName = r.name;
        card->m_strPhone = r.phone;
        card->m_strHouseNo = r.houseNo;
        card->m_nStatus = r.status;
        card->m_strRegDate = r.regDate;
        cards.SetAt(r.cardNo, std::move(card));
    }
    return cards;
}

std::vector<std::string> Keys(const std::vector<const CCardMap::CAssoc*>& entries) {
    std::vector<std::string> keys;
    for (const CCardMap::CAssoc* entry : entries) {
        keys.push_back(entry->key.str());
    }
    return keys;
}

TEST(CardQuery, EveryCriterionMatchesTheWholeField) {
    const CCardMap cards = QueryRegister({
        {"000001", "\xD5\xC5\xC8\xFD", "13800000001", "1-101", CARD_ISSUED, "20260101"},
        {"000002", "\xC0\xEE\xCB\xC4", "13800000002", "1-102", CARD_NOT_ISSUED, "20260615"},
        {"000003", "\xD5\xC5\xC8\xFD", "13800000003", "2-101", CARD_LOST, "20261231"},
    });
    const auto all = [] {
        CardQuery q;
        q.regFrom = "20000101";
        q.regTo = "20991231";
        return q;
    };
    const struct {
        const char* name;
        std::function<void(CardQuery&)> change;
        std::vector<std::string> found;  // sorted
    } cases[] = {
        {"nothing asked", [](CardQuery&) {}, {"000001", "000002", "000003"}},
        {"card number", [](CardQuery& q) { q.cardNo = "000002"; }, {"000002"}},
        {"part of a card number", [](CardQuery& q) { q.cardNo = "00000"; }, {}},
        {"name", [](CardQuery& q) { q.name = "\xD5\xC5\xC8\xFD"; }, {"000001", "000003"}},
        {"part of a name", [](CardQuery& q) { q.name = "\xD5\xC5"; }, {}},
        {"phone", [](CardQuery& q) { q.phone = "13800000003"; }, {"000003"}},
        {"house", [](CardQuery& q) { q.houseNo = "1-101"; }, {"000001"}},
        {"status issued", [](CardQuery& q) { q.status = CARD_ISSUED; }, {"000001"}},
        {"status not issued", [](CardQuery& q) { q.status = CARD_NOT_ISSUED; }, {"000002"}},
        {"status lost", [](CardQuery& q) { q.status = CARD_LOST; }, {"000003"}},
        {"status 3 is any", [](CardQuery& q) { q.status = 3; }, {"000001", "000002", "000003"}},
        {"range ends included",
         [](CardQuery& q) {
             q.regFrom = "20260101";
             q.regTo = "20260615";
         },
         {"000001", "000002"}},
        {"one day",
         [](CardQuery& q) {
             q.regFrom = "20261231";
             q.regTo = "20261231";
         },
         {"000003"}},
        {"reversed range",
         [](CardQuery& q) {
             q.regFrom = "20261231";
             q.regTo = "20260101";
         },
         {}},
        {"criteria together",
         [](CardQuery& q) {
             q.name = "\xD5\xC5\xC8\xFD";
             q.status = CARD_LOST;
         },
         {"000003"}},
    };
    for (const auto& c : cases) {
        CardQuery query = all();
        c.change(query);
        std::vector<std::string> found = Keys(QueryCards(cards, query));
        std::sort(found.begin(), found.end());
        EXPECT_EQ(found, c.found) << c.name;
    }
}

TEST(CardQuery, FoundCardsComeInTheRegistersOrder) {
    CCardMap cards;
    for (int n = 1; n <= 300; ++n) {
        const std::string no = CardNoText(n * 37 % 1000);
        cards.SetAt(no, MakeCard(no, n));
    }
    CardQuery query;
    query.regTo = "99999999";
    std::vector<std::string> inOrder;
    for (const CCardMap::CAssoc& entry : cards) {
        inOrder.push_back(entry.key.str());
    }
    EXPECT_EQ(Keys(QueryCards(cards, query)), inOrder);
}

TEST(CardList, NumbersAscendingThenOtherKeysInRegisterOrder) {
    CCardMap cards;
    for (const char* key :
         {"500000", "000000", "000002", "ABC", "999999", "12345", "000001", "0000001", "777777"}) {
        cards.SetAt(key, MakeCard(key));
    }
    std::vector<std::string> others;
    for (const CCardMap::CAssoc& entry : cards) {
        if (SearchedCardNo(entry.key) == 0) {
            others.push_back(entry.key.str());
        }
    }
    std::vector<std::string> expected = {"000001", "000002", "500000", "777777", "999999"};
    expected.insert(expected.end(), others.begin(), others.end());
    EXPECT_EQ(Keys(CardListOrder(cards)), expected);
    EXPECT_TRUE(CardListOrder(CCardMap()).empty());
    // A removed number and a removed other key leave the order; a new number joins it.
    cards.RemoveKey("500000");
    cards.RemoveKey("ABC");
    cards.SetAt("000003", MakeCard("000003"));
    expected.erase(std::find(expected.begin(), expected.end(), "500000"));
    expected.erase(std::find(expected.begin(), expected.end(), "ABC"));
    expected.insert(expected.begin() + 2, "000003");
    EXPECT_EQ(Keys(CardListOrder(cards)), expected);
}

// A read-card reply: card number, validity (BCD YY MM DD) and the permission bytes.
std::vector<uint8_t> ReadReply(uint8_t n0, uint8_t n1, uint8_t n2, uint8_t yy, uint8_t mm,
                               uint8_t dd, std::vector<uint8_t> rights) {
    std::vector<uint8_t> data(kReplyBufferSize, 0);
    data[0] = 0xAA;
    data[3] = n0;
    data[4] = n1;
    data[5] = n2;
    data[6] = yy;
    data[7] = mm;
    data[8] = dd;
    for (size_t i = 0; i < rights.size() && i < 8; ++i) {
        data[9 + i] = rights[i];
    }
    return data;
}

TEST(ReadCard, TheCardsOwnPartsAndTheRegistersRecord) {
    CCardMap cards;
    auto known = MakeCard("000042", 7);
    known->m_strName = "\xC0\xEE\xCB\xC4";
    cards.SetAt("000042", std::move(known));

    // Port 16 is the high nibble of the first byte, port 1 the low nibble of the last.
    const std::vector<uint8_t> reply =
        ReadReply(0x00, 0x00, 0x42, 0x30, 0x06, 0x01, {0x10, 0, 0, 0, 0, 0, 0, 0x01});
    const ReadCardForm form = MergeReadCard(reply.data(), cards);
    EXPECT_EQ(form.cardNo, "000042");
    EXPECT_EQ(form.valid.year, 2030);
    EXPECT_EQ(form.valid.month, 6);
    EXPECT_EQ(form.valid.day, 1);
    EXPECT_EQ(form.validText, "20300601");
    for (int port = 1; port <= 16; ++port) {
        EXPECT_EQ(form.ports[port], port == 1 || port == 16) << port;
    }
    EXPECT_FALSE(form.allPorts);
    ASSERT_NE(form.record, nullptr);
    EXPECT_EQ(form.record->m_nNumber, 7);

    const std::vector<uint8_t> unknown =
        ReadReply(0x12, 0x34, 0x56, 0x99, 0x02, 0x30, std::vector<uint8_t>(8, 0x11));
    const ReadCardForm other = MergeReadCard(unknown.data(), cards);
    EXPECT_EQ(other.cardNo, "123456");
    EXPECT_EQ(other.record, nullptr);
    EXPECT_TRUE(other.allPorts);
    // February 30th is kept as the card holds it.
    EXPECT_EQ(other.validText, "20990230");

    // Nibbles above 9 make a number that no register key of six digits has.
    const std::vector<uint8_t> odd = ReadReply(0x01, 0x01, 0xAB, 0x30, 0x01, 0x01, {});
    const ReadCardForm strange = MergeReadCard(odd.data(), cards);
    EXPECT_EQ(strange.cardNo, "01011011");
    EXPECT_EQ(strange.record, nullptr);
}

TEST(Extension, ThePaymentJoinsTheAmountPaidOnce) {
    const struct {
        const char* name;
        const char* cardNo;
        const char* paid;
        const char* fee;
        ExtensionPayment payment;
        const char* paidAfter;
    } cases[] = {
        {"no payment", "000001", "10", "", ExtensionPayment::None, "10"},
        {"added", "000001", "10", "2.5", ExtensionPayment::Recorded, "12.5"},
        {"added to nothing", "000001", "", "30", ExtensionPayment::Recorded, "30"},
        {"too long a sum", "000001", "9999999999", "1", ExtensionPayment::NotAdded, "9999999999"},
        {"paid is no amount", "000001", "abc", "1", ExtensionPayment::NotAdded, "abc"},
        {"card not registered", "000009", "10", "5", ExtensionPayment::NotRegistered, nullptr},
        {"card not registered, nothing paid", "000009", "10", "", ExtensionPayment::None, nullptr},
    };
    for (const auto& c : cases) {
        CCardMap cards;
        auto card = MakeCard("000001");
        card->m_strPaid = c.paid;
        card->m_strValidDate = "20261231";
        cards.SetAt("000001", std::move(card));
        const ExtensionResult result = ApplyExtension(cards, c.cardNo, "20301231", c.fee);
        EXPECT_EQ(result.payment, c.payment) << c.name;
        const CCard* stored = cards.Lookup("000001");
        if (c.paidAfter == nullptr) {
            EXPECT_EQ(result.card, nullptr) << c.name;
            EXPECT_EQ(stored->m_strValidDate, "20261231") << c.name;
            EXPECT_EQ(stored->m_strPaid, c.paid) << c.name;
            continue;
        }
        EXPECT_EQ(result.card, stored) << c.name;
        EXPECT_EQ(stored->m_strValidDate, "20301231") << c.name;
        EXPECT_EQ(stored->m_strPaid, c.paidAfter) << c.name;
    }
}

}  // namespace
