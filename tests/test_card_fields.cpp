// Card numbers, permission strings and date texts as the card window reads and writes them.

#include <gtest/gtest.h>

#include "TestUtil.h"
#include "register/Amount.h"
#include "register/CardFields.h"

namespace {

TEST(CardFields, CardNumbersAndTheSearchedKeys) {
    EXPECT_EQ(CardNoText(1), "000001");
    EXPECT_EQ(CardNoText(999999), "999999");
    const struct {
        const char* key;
        int n;
    } keys[] = {{"000001", 1},  {"999999", 999999}, {"000000", 0}, {"00001", 0},
                {"0000001", 0}, {"00000a", 0},      {"-00001", 0}, {"", 0}};
    for (const auto& k : keys) {
        EXPECT_EQ(SearchedCardNo(k.key), k.n) << k.key;
    }
}

TEST(CardFields, FirstFreeCardNumber) {
    CCardMap cards;
    EXPECT_EQ(FirstFreeCardNo(cards), "000001");
    for (const char* key : {"000001", "000002", "000004", "000000", "ABC"}) {
        cards.SetAt(key, MakeCard(key));
    }
    EXPECT_EQ(FirstFreeCardNo(cards), "000003");
    cards.SetAt("000003", MakeCard("000003"));
    EXPECT_EQ(FirstFreeCardNo(cards), "000005");

    // Other keys of six characters take no number.
    cards.SetAt("00000A", MakeCard("00000A"));
    cards.SetAt("-00005", MakeCard("-00005"));
    EXPECT_EQ(FirstFreeCardNo(cards), "000005");

    // Every number taken, or all but the last.
    EXPECT_EQ(FirstFreeCardNo([](const std::string&) { return true; }), std::nullopt);
    EXPECT_EQ(FirstFreeCardNo([](const std::string& no) { return no != "999999"; }), "999999");
}

TEST(CardFields, FirstFreeCardNumberOfAFullRegister) {
    CCardMap cards;
    for (int n = 1; n <= 999999; ++n) {
        if (n != 777777) {
            cards.SetAt(CardNoText(n), std::make_unique<CCard>());
        }
    }
    EXPECT_EQ(FirstFreeCardNo(cards), "777777");
    cards.SetAt("777777", std::make_unique<CCard>());
    EXPECT_EQ(FirstFreeCardNo(cards), std::nullopt);
    cards.RemoveKey("000001");
    EXPECT_EQ(FirstFreeCardNo(cards), "000001");
}

TEST(CardFields, PermissionString) {
    const struct {
        std::vector<int> ports;
        const char* rights;
    } cases[] = {
        {{1, 16}, "1000000000000001"},
        {{2, 16}, "1000000000000010"},
        {{}, "0000000000000000"},
        {{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}, "1111111111111111"},
    };
    for (const auto& c : cases) {
        bool ports[17] = {};
        for (const int port : c.ports) {
            ports[port] = true;
        }
        EXPECT_EQ(RightsText(ports), c.rights);
        for (int port = 1; port <= 16; ++port) {
            EXPECT_EQ(PortPermitted(c.rights, port), ports[port]) << c.rights << " " << port;
        }
    }
    EXPECT_TRUE(PortPermitted("1", 16));
    EXPECT_FALSE(PortPermitted("1", 15));
    EXPECT_FALSE(PortPermitted("", 16));
    EXPECT_FALSE(PortPermitted("1111111111111111", 0));
    EXPECT_FALSE(PortPermitted("1111111111111111", 17));
    EXPECT_FALSE(PortPermitted("2000000000000000", 16));
}

TEST(CardFields, DateTexts) {
    const struct {
        const char* text;
        bool ok;
        int year, month, day;
    } cases[] = {
        {"20991231", true, 2099, 12, 31},
        {"00000000", true, 0, 0, 0},
        {"20230231", true, 2023, 2, 31},
        {"2023023", false, 0, 0, 0},
        {"202302311", false, 0, 0, 0},
        {"2023-2-3", false, 0, 0, 0},
        {"", false, 0, 0, 0},
    };
    for (const auto& c : cases) {
        int year = -1;
        int month = -1;
        int day = -1;
        EXPECT_EQ(SplitRecordDate(c.text, year, month, day), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(year, c.year) << c.text;
            EXPECT_EQ(month, c.month) << c.text;
            EXPECT_EQ(day, c.day) << c.text;
        }
    }
}

TEST(CardFields, AmountsAddUpExactly) {
    const struct {
        const char* paid;
        const char* more;
        const char* sum;  // nullptr: cannot be added
    } cases[] = {
        {"100", "12.5", "112.5"},     {"", "12.5", "12.5"},
        {"12.5", "", "12.5"},         {"1.25", "1.75", "3"},
        {"0.1", "0.2", "0.3"},        {"9.99", "0.01", "10"},
        {"1.05", "2", "3.05"},        {"999999999", "1", "1000000000"},
        {"9999999999", "1", nullptr},  // eleven characters
        {"abc", "1", nullptr},        {"1.2.3", "1", nullptr},
        {"1", "-5", nullptr},         {".5", "1", nullptr},
        {"5.", "1", nullptr},         {"1.000000000000000001", "100000000000000000", nullptr},
    };
    for (const auto& c : cases) {
        const std::optional<std::string> sum = AddAmounts(c.paid, c.more, 10);
        if (c.sum == nullptr) {
            EXPECT_EQ(sum, std::nullopt) << c.paid << " + " << c.more;
        } else {
            EXPECT_EQ(sum, c.sum) << c.paid << " + " << c.more;
        }
    }
    EXPECT_EQ(AddAmounts("1.00000000000000001", "1", 30), "2.00000000000000001");
}

}  // namespace
