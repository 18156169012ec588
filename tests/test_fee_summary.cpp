// "收费汇总": the fees of a real history file summed per day and per month (local days, across
// month and year ends, corrections, a clock set back, a record that cannot be read), and the
// window driven as an operator does: dates typed, 统计, a line clicked, the exports read back.
#include <gtest/gtest.h>

#include <QDate>
#include <QDateEdit>
#include <QHeaderView>
#include <QTableView>
#include <QTableWidget>
#include <QtTest/QTest>

#include <memory>

#include "GuiTestUtil.h"
#include "HistoryTestUtil.h"
#include "TestUtil.h"
#include "WindowDriver.h"
#include "app/FileDialog.h"
#include "enrol/CsvFile.h"
#include "enrol/XlsxFile.h"
#include "history/FeeSummary.h"
#include "ui/FeeSummaryDlg.h"

namespace {

using namespace FeeSummaryIds;

// Ten records with fees and one without, from 2026-11-30 to 2027-01-15 (local time, eight
// hours east of UTC).
std::vector<CHistoryEntry> FeeEntries() {
    const auto extend = CardOperation::Extend;
    return {
        EntryAt(2026, 11, 30, 10, 0, extend, "000001", "张三", "", 5000),
        EntryAt(2026, 12, 1, 9, 0, CardOperation::Add, "000002", "李四", "", 10000),
        EntryAt(2026, 12, 1, 23, 30, extend, "000001", "张三", "", 2500),
        // Still 12-01 in UTC, 12-02 at the desk.
        EntryAt(2026, 12, 2, 0, 30, extend, "000003", "王五", "", 3000),
        EntryAt(2026, 12, 2, 11, 0, CardOperation::Save, "000003", "王五", "", -1000),
        EntryAt(2026, 12, 2, 12, 0, CardOperation::Save, "000004", "赵六", ""),
        EntryAt(2026, 12, 31, 18, 0, extend, "000005", "钱七", "", 4000),
        EntryAt(2027, 1, 1, 8, 0, extend, "000005", "钱七", "", 4000),
        EntryAt(2027, 1, 15, 9, 0, extend, "000001", "张三", "", 6000),
        // The desk's clock was set back: written last, dated 12-01.
        EntryAt(2026, 12, 1, 12, 0, CardOperation::Issue, "000006", "孙八", "", 700),
    };
}

struct LineSums {
    std::string period;
    uint32_t cards;
    uint32_t payments;
    std::string total;
    bool operator==(const LineSums&) const = default;
};

std::vector<LineSums> Lines(const CFeeSummary& summary) {
    std::vector<LineSums> lines;
    for (const CFeeLine& line : summary.lines) {
        lines.push_back({FeePeriodText(line.period, summary.period), line.cards, line.payments,
                         FeeText(line.totalCents)});
    }
    return lines;
}

class FeeHistory : public ::testing::Test {
protected:
    FeeHistory() { AppendEntries(path, FeeEntries()); }
    const CHistoryFile::Contents& Contents() {
        std::string error;
        EXPECT_TRUE(CHistoryFile::Read(path, contents, error)) << error;
        return contents;
    }

    TempDir dir;
    std::string path = dir / "cardbook.kcd.history";
    CHistoryFile::Contents contents;
};

TEST_F(FeeHistory, SumsPerDayAndPerMonthOverTheRange) {
    struct Case {
        const char* what;
        int32_t from;
        int32_t to;
        FeePeriod period;
        std::vector<LineSums> lines;
        uint32_t cards;
        uint64_t payments;
        const char* total;
    };
    const Case cases[] = {
        {"by day, everything",
         20261130,
         20270131,
         FeePeriod::Day,
         {{"2026-11-30", 1, 1, "50.00"},
          {"2026-12-01", 3, 3, "132.00"},
          {"2026-12-02", 1, 2, "20.00"},
          {"2026-12-31", 1, 1, "40.00"},
          {"2027-01-01", 1, 1, "40.00"},
          {"2027-01-15", 1, 1, "60.00"}},
         5,
         9,
         "342.00"},
        {"by month, across the year's end",
         20261101,
         20271231,
         FeePeriod::Month,
         {{"2026-11", 1, 1, "50.00"}, {"2026-12", 5, 6, "192.00"}, {"2027-01", 2, 2, "100.00"}},
         5,
         9,
         "342.00"},
        {"both edges inclusive",
         20261201,
         20261202,
         FeePeriod::Day,
         {{"2026-12-01", 3, 3, "132.00"}, {"2026-12-02", 1, 2, "20.00"}},
         4,
         5,
         "152.00"},
        {"months cut by the range",
         20261202,
         20270101,
         FeePeriod::Month,
         {{"2026-12", 2, 3, "60.00"}, {"2027-01", 1, 1, "40.00"}},
         2,
         4,
         "100.00"},
        {"a correction alone",
         20261202,
         20261202,
         FeePeriod::Day,
         {{"2026-12-02", 1, 2, "20.00"}},
         1,
         2,
         "20.00"},
        {"no payment in the range", 20261103, 20261129, FeePeriod::Day, {}, 0, 0, "0.00"},
        {"a range the wrong way round", 20270101, 20261201, FeePeriod::Month, {}, 0, 0, "0.00"},
    };
    const CHistoryFile::Contents& history = Contents();
    ASSERT_EQ(history.records.size(), 10u);
    for (const Case& c : cases) {
        const CFeeSummary summary = SummarizeFees(history.records, c.from, c.to, c.period);
        EXPECT_EQ(Lines(summary), c.lines) << c.what;
        EXPECT_EQ(summary.cards, c.cards) << c.what;
        EXPECT_EQ(summary.totalPayments, c.payments) << c.what;
        EXPECT_EQ(FeeText(summary.totalCents), c.total) << c.what;
        EXPECT_EQ(summary.unreadable, 0u) << c.what;
    }
}

TEST_F(FeeHistory, ALinesPaymentsComeInFileOrderWithTheirRecords) {
    const CHistoryFile::Contents& history = Contents();
    const CFeeSummary summary = SummarizeFees(history.records, 20261201, 20261231, FeePeriod::Day);
    ASSERT_EQ(summary.lines.size(), 3u);
    const std::vector<CFeePayment> payments = LinePayments(summary, 0, history.records);
    ASSERT_EQ(payments.size(), 3u);
    struct Expected {
        uint64_t number;
        const char* time;
        const char* cardNo;
        const char* name;
        const char* operation;
        const char* amount;
    };
    const Expected expected[] = {
        {2, "2026-12-01 09:00:00", "000002", "李四", "新增", "100.00"},
        {3, "2026-12-01 23:30:00", "000001", "张三", "延期", "25.00"},
        {10, "2026-12-01 12:00:00", "000006", "孙八", "发卡", "7.00"},
    };
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(payments[i].number, expected[i].number);
        EXPECT_EQ(payments[i].entry.TimeText(), expected[i].time);
        EXPECT_EQ(payments[i].entry.cardNo, expected[i].cardNo);
        EXPECT_EQ(payments[i].entry.name, expected[i].name);
        EXPECT_STREQ(HistoryOperationText(payments[i].entry.operation), expected[i].operation);
        EXPECT_EQ(FeeText(payments[i].entry.feeCents), expected[i].amount);
    }
    EXPECT_EQ(LinePayments(summary, 1, history.records).size(), 2u);
    EXPECT_TRUE(LinePayments(summary, 3, history.records).empty());
}

TEST_F(FeeHistory, ARecordThatCannotBeDecodedIsCountedApart) {
    AppendPayloads(path, {"not a history entry"});
    const CHistoryFile::Contents& history = Contents();
    const CFeeSummary summary =
        SummarizeFees(history.records, 20260101, 20271231, FeePeriod::Month);
    EXPECT_EQ(summary.unreadable, 1u);
    EXPECT_EQ(summary.totalPayments, 9u);
}

TEST_F(FeeHistory, TheExportEndsWithTheGrandTotal) {
    const CHistoryFile::Contents& history = Contents();
    const CFeeSummary summary =
        SummarizeFees(history.records, 20261101, 20271231, FeePeriod::Month);
    EXPECT_EQ(CsvText(FeeSummaryExportTable(summary)),
              "\xEF\xBB\xBF"
              "月份,卡数,笔数,金额(元)\r\n"
              "2026-11,1,1,50.00\r\n"
              "2026-12,5,6,192.00\r\n"
              "2027-01,2,2,100.00\r\n"
              "合计,5,9,342.00\r\n");
    const CFeeSummary days = SummarizeFees(history.records, 20261202, 20261202, FeePeriod::Day);
    EXPECT_EQ(CsvText(FeeSummaryExportTable(days)),
              "\xEF\xBB\xBF"
              "日期,卡数,笔数,金额(元)\r\n"
              "2026-12-02,1,2,20.00\r\n"
              "合计,1,2,20.00\r\n");
}

// The window, on the same history.
class FeeWindowTest : public FeeHistory, public WindowDriver {
protected:
    void Create() {
        window = std::make_unique<CFeeSummaryDlg>(path);
        Open(window.get());
    }
    // Tabs into a picker, which selects its first part, and types the date digit by digit,
    // as an operator does.
    void TypeDate(int id, const QDate& date) const {
        auto* picker = Control<QDateEdit>(id);
        picker->setFocus(Qt::TabFocusReason);
        QTest::keyClicks(picker, date.toString(QStringLiteral("yyyyMMdd")));
        EXPECT_EQ(picker->date(), date);
    }
    QTableWidget* LineTable() const { return Control<QTableWidget>(IDC_FEE_LINES); }
    QStringList LineTexts(int row) const {
        QStringList texts;
        for (int c = 0; c < LineTable()->columnCount(); ++c) {
            texts << LineTable()->item(row, c)->text();
        }
        return texts;
    }
    QStringList Titles(const QAbstractItemModel* model) const {
        QStringList titles;
        for (int c = 0; c < model->columnCount(); ++c) {
            titles << model->headerData(c, Qt::Horizontal).toString();
        }
        return titles;
    }
    const QAbstractItemModel* Payments() const {
        return Control<QTableView>(IDC_FEE_PAYMENTS)->model();
    }
    QStringList PaymentTexts(int row) const {
        QStringList texts;
        for (int c = 0; c < Payments()->columnCount(); ++c) {
            texts << Payments()->index(row, c).data().toString();
        }
        return texts;
    }
    void ClickLine(int row, bool twice = false) const {
        QTableWidget* table = LineTable();
        const QPoint at = table->visualRect(table->model()->index(row, 0)).center();
        QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, at);
        if (twice) {
            QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, at);
        }
    }

    FileDlg::Recorder dialogs;
    std::unique_ptr<CFeeSummaryDlg> window;
};

TEST_F(FeeWindowTest, SumsTheTypedRangeAndShowsALinesPayments) {
    Create();
    EXPECT_EQ(window->windowTitle(), QStringLiteral("收费汇总"));
    const QDate today = QDate::currentDate();
    EXPECT_EQ(Control<QDateEdit>(IDC_FEE_FROM)->date(), QDate(today.year(), today.month(), 1));
    EXPECT_EQ(Control<QDateEdit>(IDC_FEE_TO)->date(), today);
    EXPECT_TRUE(Checked(IDC_FEE_BY_DAY));

    TypeDate(IDC_FEE_FROM, QDate(2026, 12, 1));
    TypeDate(IDC_FEE_TO, QDate(2026, 12, 31));
    Click(IDC_FEE_SUMMARIZE);
    EXPECT_EQ(Titles(LineTable()->model()), (QStringList{"日期", "卡数", "笔数", "金额(元)"}));
    ASSERT_EQ(LineTable()->rowCount(), 3);
    EXPECT_EQ(LineTexts(0), (QStringList{"2026-12-01", "3", "3", "132.00"}));
    EXPECT_EQ(LineTexts(1), (QStringList{"2026-12-02", "1", "2", "20.00"}));
    EXPECT_EQ(LineTexts(2), (QStringList{"2026-12-31", "1", "1", "40.00"}));
    EXPECT_EQ(Text(IDC_FEE_TOTAL), QStringLiteral("合计:6笔,192.00元"));
    EXPECT_EQ(Payments()->rowCount(), 0);

    ClickLine(1);
    EXPECT_EQ(Titles(Payments()), (QStringList{"时间", "卡号", "姓名", "操作", "金额(元)"}));
    ASSERT_EQ(Payments()->rowCount(), 2);
    EXPECT_EQ(PaymentTexts(0),
              (QStringList{"2026-12-02 00:30:00", "000003", "王五", "延期", "30.00"}));
    EXPECT_EQ(PaymentTexts(1),
              (QStringList{"2026-12-02 11:00:00", "000003", "王五", "修改", "-10.00"}));
    ClickLine(0, true);
    EXPECT_EQ(Payments()->rowCount(), 3);
    Screenshot(window.get(), "fee-summary");

    // By month; Enter in a picker sums as the button does.
    Click(IDC_FEE_BY_MONTH);
    TypeDate(IDC_FEE_TO, QDate(2027, 1, 31));
    PressEnter(IDC_FEE_TO);
    EXPECT_EQ(Titles(LineTable()->model()).front(), QStringLiteral("月份"));
    ASSERT_EQ(LineTable()->rowCount(), 2);
    EXPECT_EQ(LineTexts(1), (QStringList{"2027-01", "2", "2", "100.00"}));
    EXPECT_EQ(Text(IDC_FEE_TOTAL), QStringLiteral("合计:8笔,292.00元"));
    EXPECT_EQ(Payments()->rowCount(), 0);  // the new summary has no line chosen
    ClickLine(1);
    EXPECT_EQ(Payments()->rowCount(), 2);
    EXPECT_TRUE(Messages().isEmpty());
}

TEST_F(FeeWindowTest, SummingReadsTheHistoryAnewAndRefusesABackwardRange) {
    Create();
    TypeDate(IDC_FEE_FROM, QDate(2027, 1, 1));
    TypeDate(IDC_FEE_TO, QDate(2027, 1, 31));
    Click(IDC_FEE_SUMMARIZE);
    EXPECT_EQ(Text(IDC_FEE_TOTAL), QStringLiteral("合计:2笔,100.00元"));
    AppendEntries(path,
                  {EntryAt(2027, 1, 20, 9, 0, CardOperation::Extend, "000009", "周九", "", 12345)});
    ASSERT_TRUE(AccessibleAction(Control(IDC_FEE_SUMMARIZE), QStringLiteral("Press")));
    EXPECT_EQ(Text(IDC_FEE_TOTAL), QStringLiteral("合计:3笔,223.45元"));

    TypeDate(IDC_FEE_FROM, QDate(2027, 2, 1));
    Click(IDC_FEE_SUMMARIZE);
    EXPECT_EQ(Message(1), QStringLiteral("开始日期不能晚于结束日期。"));
    EXPECT_EQ(Text(IDC_FEE_TOTAL), QStringLiteral("合计:3笔,223.45元"));  // unchanged
}

TEST_F(FeeWindowTest, AMissingHistorySumsToNothing) {
    path = dir / "none.history";
    Create();
    EXPECT_EQ(LineTable()->rowCount(), 0);
    EXPECT_EQ(Text(IDC_FEE_TOTAL), QStringLiteral("合计:0笔,0.00元"));
    EXPECT_TRUE(Messages().isEmpty());
}

TEST_F(FeeWindowTest, TheExportsReadBackWithTheGrandTotalLast) {
    Create();
    Click(IDC_FEE_BY_MONTH);
    TypeDate(IDC_FEE_FROM, QDate(2026, 11, 1));
    TypeDate(IDC_FEE_TO, QDate(2027, 12, 31));
    Click(IDC_FEE_SUMMARIZE);

    dialogs.QueueAnswer(QString::fromStdString(dir / "fees"));
    Click(IDC_FEE_EXPORT_CSV);
    EXPECT_EQ(Message(1),
              QStringLiteral("已导出4行到 %1").arg(QString::fromStdString(dir / "fees.csv")));
    dialogs.QueueAnswer(QString::fromStdString(dir / "fees.xlsx"));
    Click(IDC_FEE_EXPORT_EXCEL);
    EXPECT_EQ(Message(2),
              QStringLiteral("已导出4行到 %1").arg(QString::fromStdString(dir / "fees.xlsx")));
    ASSERT_EQ(dialogs.asked().size(), 2u);
    EXPECT_TRUE(dialogs.asked()[0].save);

    const std::string csv = ReadFile(dir / "fees.csv");
    EXPECT_EQ(csv.substr(0, 3), "\xEF\xBB\xBF");
    CSheetRows fromCsv;
    CSheetRows fromXlsx;
    std::string error;
    ASSERT_TRUE(ReadCsv(csv, fromCsv, error)) << error;
    ASSERT_TRUE(ReadXlsx(ReadFile(dir / "fees.xlsx"), fromXlsx, error)) << error;
    const std::vector<CSheetRow> expected = {
        {"月份", "卡数", "笔数", "金额(元)"}, {"2026-11", "1", "1", "50.00"},
        {"2026-12", "5", "6", "192.00"},      {"2027-01", "2", "2", "100.00"},
        {"合计", "5", "9", "342.00"},
    };
    // The workbook holds the counts and amounts as numbers.
    const std::vector<CSheetRow> numbers = {
        {"月份", "卡数", "笔数", "金额(元)"},
        {"2026-11", "1", "1", "50"},
        {"2026-12", "5", "6", "192"},
        {"2027-01", "2", "2", "100"},
        {"合计", "5", "9", "342"},
    };
    ASSERT_EQ(fromCsv.size(), expected.size());
    ASSERT_EQ(fromXlsx.size(), numbers.size());
    for (size_t row = 0; row < expected.size(); ++row) {
        EXPECT_EQ(fromCsv[row], expected[row]);
        EXPECT_EQ(fromXlsx[row], numbers[row]);
    }
}

}  // namespace
