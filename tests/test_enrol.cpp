// Batch enrolment without the windows: the resident list's readers and the rules that turn
// its rows into new, changed and refused cards.

#include <gtest/gtest.h>

#include "TestUtil.h"
#include "base/CodePage.h"
#include "cards/CardChecks.h"
#include "enrol/CsvFile.h"
#include "enrol/EnrolDate.h"
#include "enrol/EnrolPlan.h"
#include "enrol/XlsxFile.h"
#include "register/Card.h"
#include "register/CardFields.h"

namespace {

TEST(EnrolCsv, CellsAndRows) {
    const struct {
        const char* text;
        CSheetRows rows;
    } cases[] = {
        {"a,b\r\nc,d\r\n", {{"a", "b"}, {"c", "d"}}},
        {"a,b\nc", {{"a", "b"}, {"c"}}},
        {"a\rb\r", {{"a"}, {"b"}}},
        {"\"a,b\",c", {{"a,b", "c"}}},
        {"\"say \"\"hi\"\"\",x", {{"say \"hi\"", "x"}}},
        {"\"line 1\r\nline 2\nline 3\",x\ny", {{"line 1\nline 2\nline 3", "x"}, {"y"}}},
        {",,\n\n", {{"", "", ""}, {""}}},
        {"\"\",x", {{"", "x"}}},
        {"ab\"c,d", {{"ab\"c", "d"}}},      // a quote inside a cell is a character
        {"\"ab\"c,d", {{"abc", "d"}}},      // text after the closing quote joins the cell
        {" \"a\" ,b", {{" \"a\" ", "b"}}},  // blanks before the quote: not quoted
        {"", {}},
    };
    for (const auto& c : cases) {
        CSheetRows rows;
        std::string error;
        EXPECT_TRUE(ParseCsv(c.text, rows, error)) << c.text;
        EXPECT_EQ(rows, c.rows) << c.text;
    }
    CSheetRows rows{{"left over"}};
    std::string error;
    EXPECT_FALSE(ParseCsv("a,b\nc,\"open\nd,e", rows, error));
    EXPECT_EQ(error, "第2行有一个引号没有结束。");
    EXPECT_TRUE(rows.empty());
}

TEST(EnrolCsv, WrittenRowsReadBackAsTheyWere) {
    const CSheetRow cells = {"plain", "a,b", "say \"hi\"", "two\nlines", " padded ", "", "张三"};
    CSheetRows rows;
    std::string error;
    ASSERT_TRUE(ParseCsv(CsvLine(cells) + CsvLine({"x"}), rows, error));
    EXPECT_EQ(rows, (CSheetRows{cells, {"x"}}));
    EXPECT_EQ(CsvLine({"a", "b c"}), "a,b c\r\n");
}

TEST(EnrolCsv, EncodingIsRecognisedByContent) {
    const std::string gb = Utf8ToCodePage("姓名,门牌号\r\n张三,1栋101\r\n");
    const struct {
        std::string bytes;
        bool ok;
        TextEncoding encoding;
        const char* utf8;
    } cases[] = {
        {"\xEF\xBB\xBF张三,1", true, TextEncoding::Utf8, "张三,1"},
        {"张三,1", true, TextEncoding::Utf8, "张三,1"},
        {"plain,ascii", true, TextEncoding::Utf8, "plain,ascii"},
        {gb, true, TextEncoding::Gb18030, "姓名,门牌号\r\n张三,1栋101\r\n"},
        {Utf8ToCodePage("喆😀"), true, TextEncoding::Gb18030, "喆😀"},  // GBK and 4-byte forms
        {"\xEF\xBB\xBF" + gb, false, TextEncoding::Utf8, ""},         // a mark that lies
        {"ab\x80\xFF", false, TextEncoding::Utf8, ""},                // neither
        {"\xED\xA0\x80", false, TextEncoding::Utf8, ""},              // a surrogate, no GB18030
    };
    for (const auto& c : cases) {
        std::string utf8;
        std::string error;
        TextEncoding encoding = TextEncoding::Utf8;
        EXPECT_EQ(DecodeText(c.bytes, utf8, encoding, error), c.ok) << c.utf8;
        if (c.ok) {
            EXPECT_EQ(encoding, c.encoding) << c.utf8;
            EXPECT_EQ(utf8, c.utf8);
        } else {
            EXPECT_FALSE(error.empty());
        }
    }
    CSheetRows rows;
    std::string error;
    ASSERT_TRUE(ReadCsv(gb, rows, error));
    EXPECT_EQ(rows, (CSheetRows{{"姓名", "门牌号"}, {"张三", "1栋101"}}));
}

TEST(EnrolDate, AcceptedForms) {
    const struct {
        const char* text;
        const char* record;  // nullptr: refused
    } cases[] = {
        {"20991231", "20991231"},
        {"2099-12-31", "20991231"},
        {"2025/3/1", "20250301"},
        {"2025.03.01", "20250301"},
        {"2025年3月1日", "20250301"},
        {"2025年03月01", "20250301"},
        {"2024-02-29", "20240229"},
        {"2025-03-01 10:20", "20250301"},
        {"2025-03-01 10:20:30", "20250301"},
        {"2025-03-01T10:20:30.5", "20250301"},
        {"2023-02-29", nullptr},
        {"2025-13-01", nullptr},
        {"2025-04-31", nullptr},
        {"20250230", nullptr},
        {"2025-3/1", nullptr},
        {"25-03-01", nullptr},
        {"2025-03-01 25:00", nullptr},
        {"2025-03-01x", nullptr},
        {"0000-01-01", nullptr},
        {"明天", nullptr},
        {"", nullptr},
    };
    for (const auto& c : cases) {
        std::string record = "unchanged";
        EXPECT_EQ(ParseEnrolDate(c.text, record), c.record != nullptr) << c.text;
        if (c.record != nullptr) {
            EXPECT_EQ(record, c.record) << c.text;
        }
    }
}

TEST(EnrolFields, HeaderTitlesMapTheirColumns) {
    const CSheetRow header = {"编号", "卡号:", " 姓名 ", "卡号", "缴费金额：", "生日", "卡类"};
    EXPECT_TRUE(IsHeaderRow(header));
    EXPECT_EQ(MapHeader(header), (CColumnMap{EnrolField::Number, EnrolField::CardNo,
                                             EnrolField::Name, EnrolField::None, EnrolField::Paid,
                                             EnrolField::None, EnrolField::CardType}));
    // Serial number and status alone are no header: they are never taken.
    EXPECT_FALSE(IsHeaderRow({"编号", "卡片状态", "000001"}));
    EXPECT_FALSE(IsHeaderRow({"000001", "张三"}));

    CColumnMap map = MapHeader(header);
    EXPECT_TRUE(SharedFields(map).empty());
    SetColumnField(map, 9, EnrolField::Name);
    SetColumnField(map, 5, EnrolField::Paid);
    EXPECT_EQ(map.size(), 10u);
    EXPECT_EQ(map[9], EnrolField::Name);
    EXPECT_EQ(SharedFields(map), (std::vector<EnrolField>{EnrolField::Name, EnrolField::Paid}));
    // The rows take the leftmost column of a field.
    const CEnrolPlan plan =
        MakeEnrolPlan({{"左", "右"}}, 0, {EnrolField::Name, EnrolField::Name}, CCardMap());
    EXPECT_EQ(plan.Value(plan.rows[0], EnrolField::Name), Utf8ToCodePage("左"));
}

// A register of two cards and a file whose header maps every field that rows give.
class EnrolPlanTest : public ::testing::Test {
protected:
    EnrolPlanTest() {
        CCard& one = *cards.SetAt("000001", MakeCard("000001", 1));
        one.m_strName = Utf8ToCodePage("张三");
        one.m_strPhone = "13800000001";
        one.m_strRights = "1111000011110000";
        cards.SetAt("000003", MakeCard("000003", 3));
    }
    static const CSheetRow& Header() {
        static const CSheetRow header = {"卡号",   "姓名",     "联系电话", "门牌号",
                                         "有效期", "登记日期", "卡类",     "缴费金额",
                                         "备注",   "证件号码", "门禁权限"};
        return header;
    }
    CEnrolPlan Plan(const std::vector<CSheetRow>& body) const {
        CSheetRows rows{Header()};
        for (const CSheetRow& row : body) {
            rows.AddRow();
            for (size_t c = 0; c < row.size(); ++c) {
                rows.AddCell(c, row[c]);
            }
        }
        return MakeEnrolPlan(rows, 1, MapHeader(Header()), cards);
    }

    CCardMap cards;
    uint32_t maxNumber = 7;
    const CEnrolDefaults defaults{"5820463917", "20250301"};
};

TEST_F(EnrolPlanTest, EveryReasonForRefusal) {
    std::string longName;
    for (int i = 0; i < 128; ++i) {
        longName += "王";  // 256 bytes in the code page
    }
    const struct {
        CSheetRow row;
        const char* reason;
    } cases[] = {
        {{"12345", "甲"}, "卡号“12345”不是6个数字"},
        {{"00001a", "甲"}, "卡号“00001a”不是6个数字"},
        {{"1234567"}, "卡号“1234567”不是6个数字"},
        {{"", longName}, "姓名长256个字节,超过255个字节的限制"},
        // A character of the private use area that the code page has no place for.
        {{"", "陶\uE81E"}, "姓名中的“\uE81E”不能存入卡片登记"},
        {{"", "甲", "", "", "", "", "", "", "笑\uE855"}, "备注中的“\uE855”不能存入卡片登记"},
        {{"", "甲", "", "", "2023-02-29"}, "有效期“2023-02-29”不是日期"},
        {{"", "甲", "", "", "", "下周"}, "登记日期“下周”不是日期"},
        {{"", "甲", "", "", "1999-12-31"}, "有效期“1999-12-31”: "},
        {{"", "甲", "", "", "", "", "VIP卡"}, "卡类“VIP卡”不是免费卡、月卡、年卡或临时卡"},
        {{"", "甲", "", "", "", "", "", "12a"}, "缴费金额“12a”不是金额"},
        {{"", "甲", "", "", "", "", "", "12345678901"}, "缴费金额长11个字节,超过10个字节的限制"},
        // Every fault of a row is told.
        {{"123", "陶\uE81E"}, "卡号“123”不是6个数字；姓名中的“\uE81E”不能存入卡片登记"},
    };
    for (const auto& c : cases) {
        const CEnrolPlan plan = Plan({c.row});
        ASSERT_EQ(plan.rows.size(), 1u);
        EXPECT_EQ(plan.rows[0].outcome, RowOutcome::Refused) << c.reason;
        EXPECT_EQ(plan.rows[0].reason.rfind(c.reason, 0), 0u) << plan.rows[0].reason;
        EXPECT_EQ(plan.rows[0].line, 2u);
        EXPECT_EQ(plan.refused, 1u);
    }
    EXPECT_EQ(Plan({{"", "甲", "", "", "1999-12-31"}}).rows[0].reason,
              std::string("有效期“1999-12-31”: ") + kNotACardDate);
}

TEST_F(EnrolPlanTest, AcceptedRows) {
    const struct {
        CSheetRow row;
        RowOutcome outcome;
        const char* cardNo;
        std::vector<CFieldChange> changes;
    } cases[] = {
        {{"000010", "李四", "139"}, RowOutcome::New, "000010", {}},
        {{"", "李四"}, RowOutcome::New, "000002", {}},
        {{" 000001 ", "张三 ", "13900000001"},
         RowOutcome::Changed,
         "000001",
         {{EnrolField::Phone, "13800000001", "13900000001"}}},
        // Characters outside GB2312 that the form stores, as the register's code page holds
        // them.
        {{"", "陈赟"}, RowOutcome::New, "000002", {}},
        {{"", "王喆", "", "", "", "", "", "", "笑😀"}, RowOutcome::New, "000002", {}},
        {{"000001", "", "", "", "2030/1/2", "", "月卡", "100.5"},
         RowOutcome::Changed,
         "000001",
         {{EnrolField::CardType, "免费卡", "月卡"},
          {EnrolField::ValidDate, "00000000", "20300102"},
          {EnrolField::Paid, "", "100.5"}}},
        {{"000001", "张三", "13800000001"}, RowOutcome::Unchanged, "000001", {}},
        {{"000003"}, RowOutcome::Unchanged, "000003", {}},
    };
    for (const auto& c : cases) {
        const CEnrolPlan plan = Plan({c.row});
        ASSERT_EQ(plan.rows.size(), 1u);
        const CEnrolRow& row = plan.rows[0];
        EXPECT_EQ(row.outcome, c.outcome) << c.cardNo << ": " << row.reason;
        EXPECT_EQ(row.cardNo, c.cardNo);
        ASSERT_EQ(row.changes.size(), c.changes.size()) << c.cardNo;
        for (size_t i = 0; i < c.changes.size(); ++i) {
            EXPECT_EQ(row.changes[i].field, c.changes[i].field);
            EXPECT_EQ(row.changes[i].before, c.changes[i].before);
            EXPECT_EQ(row.changes[i].after, c.changes[i].after);
        }
    }
}

TEST_F(EnrolPlanTest, FreeNumbersDuplicatesAndTheWholeFileAtOnce) {
    const CEnrolPlan plan = Plan({
        {"", "甲"},                        // line 2: 000001 and 000003 taken, 000002 in the file
        {"000002", "乙"},                  // line 3
        {},                                // line 4: blank, left out
        {"", "丙", "", "", "2023-02-30"},  // line 5: refused, takes no number
        {"", "丁"},                        // line 6
        {"000002", "戊"},                  // line 7: a duplicate
        {"000001", "", "", "3栋"},         // line 8: changes the register's card
        {"", "己"},                        // line 9
    });
    std::vector<std::pair<size_t, std::string>> rows;
    for (const CEnrolRow& row : plan.rows) {
        rows.emplace_back(row.line, row.cardNo);
    }
    EXPECT_EQ(rows, (std::vector<std::pair<size_t, std::string>>{{2, "000004"},
                                                                 {3, "000002"},
                                                                 {5, ""},
                                                                 {6, "000005"},
                                                                 {7, "000002"},
                                                                 {8, "000001"},
                                                                 {9, "000006"}}));
    EXPECT_EQ(plan.rows[4].reason, "卡号000002与第3行重复");
    EXPECT_FALSE(plan.rows[0].cardNoGiven);
    EXPECT_EQ(plan.added, 4u);
    EXPECT_EQ(plan.changed, 1u);
    EXPECT_EQ(plan.refused, 2u);

    ASSERT_TRUE(ApplyEnrolPlan(plan, cards, maxNumber, defaults));
    EXPECT_EQ(cards.GetCount(), 6u);
    EXPECT_EQ(maxNumber, 11u);
    const struct {
        const char* cardNo;
        int number;
        const char* name;
    } added[] = {
        {"000004", 8, "甲"}, {"000002", 9, "乙"}, {"000005", 10, "丁"}, {"000006", 11, "己"}};
    for (const auto& a : added) {
        const CCard* card = cards.Lookup(a.cardNo);
        ASSERT_NE(card, nullptr) << a.cardNo;
        EXPECT_EQ(card->m_nNumber, a.number);
        EXPECT_EQ(std::string(card->m_strName), Utf8ToCodePage(a.name));
        EXPECT_EQ(std::string(card->m_strCardNo), a.cardNo);
        EXPECT_EQ(card->m_nStatus, CARD_NOT_ISSUED);
        EXPECT_EQ(card->m_nCardType, CARD_FREE);
        EXPECT_EQ(std::string(card->m_strValidDate), "20991231");
        EXPECT_EQ(std::string(card->m_strRegDate), "20250301");
        EXPECT_EQ(std::string(card->m_strPassword), "5820463917");
        EXPECT_EQ(std::string(card->m_strRights), "1111111111111111");  // every door
    }
    // The changed card keeps its number and every field the row leaves empty.
    const CCard* changed = cards.Lookup("000001");
    EXPECT_EQ(changed->m_nNumber, 1);
    EXPECT_EQ(std::string(changed->m_strHouseNo), Utf8ToCodePage("3栋"));
    EXPECT_EQ(std::string(changed->m_strName), Utf8ToCodePage("张三"));
    EXPECT_EQ(std::string(changed->m_strPhone), "13800000001");
    EXPECT_EQ(std::string(changed->m_strRights), "1111000011110000");

    // The refused rows with their reasons, under the file's header.
    CSheetRows refused;
    std::string error;
    ASSERT_TRUE(ReadCsv(RefusedRowsCsv({Header(),
                                        {"", "甲"},
                                        {"000002", "乙"},
                                        {},
                                        {"", "丙", "", "", "2023-02-30"},
                                        {"", "丁"},
                                        {"000002", "戊"}},
                                       1, plan),
                        refused, error));
    ASSERT_EQ(refused.size(), 3u);
    EXPECT_EQ(refused[0].back(), "原因");
    EXPECT_EQ(refused[1][1], "丙");
    EXPECT_EQ(refused[1].back(), "有效期“2023-02-30”不是日期");
    EXPECT_EQ(refused[2][1], "戊");
    EXPECT_EQ(refused[2].size(), Header().size() + 1);
}

TEST_F(EnrolPlanTest, ARegisterThatNoLongerFitsThePlanIsLeftAlone) {
    const CEnrolPlan plan = Plan({{"", "甲"}, {"000001", "张四"}});
    cards.SetAt("000002", MakeCard("000002", 2));  // the number the plan gives
    const std::string before = RegisterBytes(cards);
    EXPECT_FALSE(ApplyEnrolPlan(plan, cards, maxNumber, defaults));
    EXPECT_TRUE(SameBytes(RegisterBytes(cards), before));
    EXPECT_EQ(maxNumber, 7u);

    // No free number left: the rows without one are refused.
    CCardMap full;
    const CEnrolPlan none =
        MakeEnrolPlan({{"", "甲"}}, 0, {EnrolField::CardNo, EnrolField::Name}, full);
    EXPECT_EQ(none.rows[0].outcome, RowOutcome::New);
    EXPECT_EQ(none.rows[0].cardNo, "000001");
}

// A card goes to another holder only with the operator's consent; filling in a holder where the
// card has none, or changing other fields, is an ordinary change.
TEST_F(EnrolPlanTest, AChangeOfHolderIsAppliedOnlyWhenAllowed) {
    cards.Lookup("000003")->m_strIdNo = "110101198001011234";
    const std::string zhang = Utf8ToCodePage("张三");
    const struct {
        CSheetRow row;
        RowOutcome outcome;
        const char* name;  // after the enrolment with consent
        const char* idNo;
    } cases[] = {
        {{"000001", "李四"}, RowOutcome::HolderChange, "李四", ""},
        {{"000001", " 张三 ", "139"}, RowOutcome::Changed, "张三", ""},
        {{"000001", "", "", "", "", "", "", "", "", "X123"}, RowOutcome::Changed, "张三", "X123"},
        {{"000003", "王五"}, RowOutcome::Changed, "王五", "110101198001011234"},
        {{"000003", "", "", "", "", "", "", "", "", "110101198001015678"},
         RowOutcome::HolderChange,
         "",
         "110101198001015678"},
        {{"000003", "", "", "", "", "", "", "", "", "110101198001011234"},
         RowOutcome::Unchanged,
         "",
         "110101198001011234"},
    };
    for (const auto& c : cases) {
        const CEnrolPlan plan = Plan({c.row});
        ASSERT_EQ(plan.rows.size(), 1u);
        EXPECT_EQ(plan.rows[0].outcome, c.outcome) << c.row[0] << c.row[1] << plan.rows[0].reason;
        EXPECT_EQ(plan.holderChanges, c.outcome == RowOutcome::HolderChange ? 1u : 0u);
        for (const bool allow : {false, true}) {
            CCardMap register_;
            register_.SetAt("000001", CopyOfCard(*cards.Lookup("000001")));
            register_.SetAt("000003", CopyOfCard(*cards.Lookup("000003")));
            uint32_t number = maxNumber;
            ASSERT_TRUE(ApplyEnrolPlan(plan, register_, number, defaults, allow));
            const CCard& card = *register_.Lookup(c.row[0]);
            const bool applied = allow || c.outcome != RowOutcome::HolderChange;
            const CCard& before = *cards.Lookup(c.row[0]);
            EXPECT_EQ(std::string(card.m_strName),
                      applied ? Utf8ToCodePage(c.name) : std::string(before.m_strName))
                << c.row[1] << " allow " << allow;
            EXPECT_EQ(std::string(card.m_strIdNo),
                      applied ? std::string(c.idNo) : std::string(before.m_strIdNo));
        }
    }
    EXPECT_EQ(zhang, std::string(cards.Lookup("000001")->m_strName));
}

TEST(EnrolDoors, PermissionStringsAndDoorNumbers) {
    const struct {
        const char* cell;
        const char* rights;  // nullptr: refused
    } cases[] = {
        {"1111000011110000", "1111000011110000"},  // as the register stores it
        {"0000000000000000", "0000000000000000"},
        {"1,2,16", "1000000000000011"},
        {"16", "1000000000000000"},
        {"1", "0000000000000001"},
        {"10", "0000001000000000"},
        {"3、1；5 7，2", "0000000001010111"},
        {"1,,2,", "0000000000000011"},
        {"0", nullptr},
        {"17", nullptr},
        {"1-4", nullptr},
        {"一号", nullptr},
        {",", nullptr},
        {"111100001111000", nullptr},  // fifteen characters: no door of that number
        {"1111000011110002", nullptr},
    };
    for (const auto& c : cases) {
        std::string rights = "unchanged";
        EXPECT_EQ(ParseDoors(c.cell, rights), c.rights != nullptr) << c.cell;
        if (c.rights != nullptr) {
            EXPECT_EQ(rights, c.rights) << c.cell;
            // The user-card window's boxes read the string back as the same doors.
            std::string numbers;
            for (int port = 1; port <= 16; ++port) {
                if (PortPermitted(rights, port)) {
                    numbers += (numbers.empty() ? "" : ",") + std::to_string(port);
                }
            }
            EXPECT_EQ(DoorsText(rights), numbers.empty() ? "无" : numbers);
        }
    }
}

// New cards open the row's doors, or the default ones; a changed card's doors change only
// where the row gives some; a value that is no doors refuses the row.
TEST_F(EnrolPlanTest, DoorsOfNewAndChangedCards) {
    const auto row = [](const char* cardNo, const char* doors) {
        CSheetRow cells(Header().size());
        cells[0] = cardNo;
        cells[1] = "某人";
        cells[10] = doors;
        return cells;
    };
    CSheetRow keep = row("000001", "");
    keep[1] = "张三";
    CSheetRow change = row("000001", "2,16");
    change[1] = "张三";
    const CEnrolPlan plan = Plan({row("", ""), row("", "1,3"), row("000020", "0000000000000000"),
                                  keep, row("", "门1"), row("", "1111")});
    ASSERT_EQ(plan.rows.size(), 6u);
    EXPECT_EQ(plan.rows[3].outcome, RowOutcome::Unchanged);
    EXPECT_EQ(plan.rows[4].reason, "门禁权限“门1”不是16位的0和1,也不是1至16的门号(如“1,2,16”)");
    EXPECT_EQ(plan.rows[5].outcome, RowOutcome::Refused);  // door 1111
    const CEnrolPlan changing = Plan({change});
    ASSERT_EQ(changing.rows[0].outcome, RowOutcome::Changed);
    ASSERT_EQ(changing.rows[0].changes.size(), 1u);
    EXPECT_EQ(changing.rows[0].changes[0].before, "5,6,7,8,13,14,15,16");
    EXPECT_EQ(changing.rows[0].changes[0].after, "2,16");

    CEnrolDefaults someDoors = defaults;
    someDoors.rights = "0000000000000110";  // doors 2 and 3
    ASSERT_TRUE(ApplyEnrolPlan(plan, cards, maxNumber, someDoors));
    EXPECT_EQ(std::string(cards.Lookup(plan.rows[0].cardNo)->m_strRights), "0000000000000110");
    EXPECT_EQ(std::string(cards.Lookup(plan.rows[1].cardNo)->m_strRights), "0000000000000101");
    EXPECT_EQ(std::string(cards.Lookup("000020")->m_strRights), "0000000000000000");
    EXPECT_EQ(std::string(cards.Lookup("000001")->m_strRights), "1111000011110000");
    ASSERT_TRUE(ApplyEnrolPlan(changing, cards, maxNumber, someDoors));
    EXPECT_EQ(std::string(cards.Lookup("000001")->m_strRights), "1000000000000010");
}

// However wide a list, the readers keep 64 columns and only the cells that hold text: a row of
// commas costs nothing, a far cell is counted, not padded to.
TEST(EnrolColumns, WideListsKeepSixtyFourColumns) {
    std::string commas(20 * 1024, ',');
    std::string wide = "姓名";
    for (int c = 1; c < 100; ++c) {
        wide += "," + std::to_string(c);
    }
    const struct {
        std::string csv;
        size_t rows;
        size_t width;
        size_t fileWidth;
    } cases[] = {
        {commas + "\r\n" + commas, 2, 0, 0},
        {"a" + commas + "b\n", 1, 1, commas.size() + 1},
        {wide + "\n张三\n", 2, 64, 100},
        {"\"" + std::string(70, ',') + "\"," + commas + "\"x\"", 1, 1, commas.size() + 2},
    };
    for (const auto& c : cases) {
        CSheetRows rows;
        std::string error;
        ASSERT_TRUE(ReadCsv(c.csv, rows, error)) << error;
        EXPECT_EQ(rows.size(), c.rows);
        EXPECT_EQ(rows.Width(), c.width);
        EXPECT_EQ(rows.FileWidth(), c.fileWidth);
        for (size_t r = 0; r < rows.size(); ++r) {
            EXPECT_LE(rows[r].size(), CSheetRows::kMaxColumns);
        }
    }
}

TEST(EnrolColumns, ACellInTheLastColumnOfAWorkbook) {
    TempDir dir;
    WriteFile(dir / "write.py", R"(import sys, openpyxl
wb = openpyxl.Workbook()
ws = wb.active
ws["A1"] = "姓名"
ws["B1"] = "卡号"
ws["A2"] = "张三"
ws["BL2"] = "第64列"
ws["BM2"] = "第65列"
ws["XFD2"] = "远"
wb.save(sys.argv[1])
)");
    const ProcessResult r = RunProgram({"/usr/bin/python3", dir / "write.py", dir / "far.xlsx"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    CSheetRows rows;
    std::string error;
    ASSERT_TRUE(ReadResidentList(ReadFile(dir / "far.xlsx"), rows, error)) << error;
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows.FileWidth(), 16384u);
    EXPECT_EQ(rows.Width(), 64u);
    EXPECT_EQ(rows.Cell(1, 63), "第64列");
    EXPECT_EQ(rows.Cell(1, 64), "");
    EXPECT_EQ(rows[1].size(), 64u);
    EXPECT_EQ(rows[0], (CSheetRow{"姓名", "卡号"}));
}

TEST(EnrolXlsx, SerialDatesAndDateFormats) {
    const struct {
        double serial;
        bool date1904;
        const char* text;
    } serials[] = {{1, false, "1900-01-01"},
                   {59, false, "1900-02-28"},
                   {60, false, "1900-02-29"},
                   {61, false, "1900-03-01"},
                   {45717.75, false, "2025-03-01"},
                   {1, true, "1904-01-02"},
                   {0.5, false, ""},
                   {3e6, false, ""}};
    for (const auto& s : serials) {
        EXPECT_EQ(SerialDateText(s.serial, s.date1904), s.text) << s.serial;
    }
    const struct {
        const char* code;
        bool date;
    } codes[] = {{"yyyy-mm-dd", true}, {"m/d/yy h:mm", true}, {"yyyy\"年\"m\"月\"d\"日\"", true},
                 {"0.00", false},      {"h:mm:ss", false},    {"\"day\"0", false},
                 {"[Red]0", false},    {"\\d0", false}};
    for (const auto& c : codes) {
        EXPECT_EQ(IsDateFormatCode(c.code), c.date) << c.code;
    }
}

// A workbook as another program writes it: openpyxl, with shared strings, numbers, dates and
// a second sheet that is not read.
TEST(EnrolXlsx, TheFirstSheetOfAWorkbook) {
    TempDir dir;
    WriteFile(dir / "write.py", R"(import sys, datetime, openpyxl
wb = openpyxl.Workbook()
ws = wb.active
ws.title = "住户"
ws.append(["卡号", "姓名", "联系电话", "有效期", "备注"])
ws.append(["000123", "张三", 13800138000, datetime.date(2030, 6, 1), "a,\"b\"\nc"])
ws.append([None, "李四", "010-1234", datetime.datetime(2031, 1, 2, 8, 30), None])
ws["B5"] = "隔行"
ws["G5"] = 7.5
wb.create_sheet("其他")["A1"] = "不读"
wb.save(sys.argv[1])
)");
    const ProcessResult r = RunProgram({"/usr/bin/python3", dir / "write.py", dir / "list.xlsx"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    CSheetRows rows;
    std::string error;
    ASSERT_TRUE(ReadResidentList(ReadFile(dir / "list.xlsx"), rows, error)) << error;
    EXPECT_EQ(rows, (CSheetRows{{"卡号", "姓名", "联系电话", "有效期", "备注"},
                                {"000123", "张三", "13800138000", "2030-06-01", "a,\"b\"\nc"},
                                {"", "李四", "010-1234", "2031-01-02"},
                                {},
                                {"", "隔行", "", "", "", "", "7.5"}}));

    // What is no workbook is told, not read: cut short, no archive, a sheet's data damaged.
    const std::string whole = ReadFile(dir / "list.xlsx");
    std::string damaged = whole;
    const size_t sheet = damaged.find("xl/worksheets/sheet1.xml");
    ASSERT_NE(sheet, std::string::npos);
    damaged.replace(sheet + 40, 40, std::string(40, 'x'));
    for (const std::string& broken :
         {whole.substr(0, whole.size() / 2), std::string("PK\x03\x04garbage"), damaged}) {
        EXPECT_FALSE(ReadResidentList(broken, rows, error));
        EXPECT_FALSE(error.empty());
        EXPECT_TRUE(rows.empty());
    }
}

}  // namespace
