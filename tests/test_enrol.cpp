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
    EXPECT_EQ(plan.rows[0].values[static_cast<size_t>(EnrolField::Name)], Utf8ToCodePage("左"));
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
        static const CSheetRow header = {"卡号",     "姓名", "联系电话", "门牌号", "有效期",
                                         "登记日期", "卡类", "缴费金额", "备注"};
        return header;
    }
    CEnrolPlan Plan(const CSheetRows& body) const {
        CSheetRows rows{Header()};
        rows.insert(rows.end(), body.begin(), body.end());
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
        {{"", "陶喆"}, "姓名中的“喆”不是GB2312字符"},
        {{"", "甲", "", "", "", "", "", "", "笑😀"}, "备注中的“😀”不是GB2312字符"},
        {{"", "甲", "", "", "2023-02-29"}, "有效期“2023-02-29”不是日期"},
        {{"", "甲", "", "", "", "下周"}, "登记日期“下周”不是日期"},
        {{"", "甲", "", "", "1999-12-31"}, "有效期“1999-12-31”: "},
        {{"", "甲", "", "", "", "", "VIP卡"}, "卡类“VIP卡”不是免费卡、月卡、年卡或临时卡"},
        {{"", "甲", "", "", "", "", "", "12a"}, "缴费金额“12a”不是金额"},
        {{"", "甲", "", "", "", "", "", "12345678901"}, "缴费金额长11个字节,超过10个字节的限制"},
        // Every fault of a row is told.
        {{"123", "陶喆"}, "卡号“123”不是6个数字；姓名中的“喆”不是GB2312字符"},
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
        {{" 000001 ", "张四 "},
         RowOutcome::Changed,
         "000001",
         {{EnrolField::Name, "张三", "张四"}}},
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
        {"000001", "张四"},                // line 8: changes the register's card
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
        EXPECT_EQ(std::string(card->m_strRights), "0000000000000000");
    }
    // The changed card keeps its number and every field the row leaves empty.
    const CCard* changed = cards.Lookup("000001");
    EXPECT_EQ(changed->m_nNumber, 1);
    EXPECT_EQ(std::string(changed->m_strName), Utf8ToCodePage("张四"));
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
