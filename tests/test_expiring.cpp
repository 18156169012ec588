// "即将到期": the cards of a register whose validity ends within N days or has ended (the
// boundary days, validity texts that are no date, the sort orders), and the window driven as
// an operator does: the number of days typed, 查询, a header clicked, the exports read back.
#include <gtest/gtest.h>

#include <QBrush>
#include <QDate>
#include <QHeaderView>
#include <QSpinBox>
#include <QTableView>
#include <QtTest/QTest>

#include <memory>

#include "GuiTestUtil.h"
#include "TestUtil.h"
#include "WindowDriver.h"
#include "app/FileDialog.h"
#include "base/CodePage.h"
#include "enrol/CsvFile.h"
#include "enrol/XlsxFile.h"
#include "history/ExpiringCards.h"
#include "register/CardFields.h"
#include "ui/ExpiringDlg.h"

namespace {

using namespace ExpiringIds;

// Adds card `n` with the validity text and holder given (UTF-8, stored in the code page).
void AddCard(CCardMap& map, int n, const std::string& valid, const std::string& name = "",
             const std::string& houseNo = "", const std::string& phone = "") {
    auto card = MakeCard(CardNoText(n), n);
    card->m_strValidDate = valid;
    card->m_strName = Utf8ToCodePage(name);
    card->m_strHouseNo = Utf8ToCodePage(houseNo);
    card->m_strPhone = phone;
    map.SetAt(CardNoText(n), std::move(card));
}

std::vector<std::string> CardNumbers(const std::vector<CExpiringCard>& cards) {
    std::vector<std::string> numbers;
    for (const CExpiringCard& card : cards) {
        numbers.push_back(card.cardNo);
    }
    return numbers;
}

TEST(ExpiringCards, TheBoundaryDaysAndTheDatesThatAreNone) {
    struct Case {
        const char* valid;
        bool listed;
        int32_t daysLeft;
    };
    const Case cases[] = {
        {"20261210", true, 0},      // ends today
        {"20270109", true, 30},     // the last day counted
        {"20270110", false, 0},     // one day later
        {"20261209", true, -1},     // ended yesterday
        {"20200229", true, -2476},  // long ago, on a leap day
        {"99991231", false, 0},
    };
    const char* const notDates[] = {"00000000", "20260230", "20261301", "2026121",
                                    "2026121a", "",         "202612100"};
    CCardMap map;
    int n = 1;
    for (const Case& c : cases) {
        AddCard(map, n++, c.valid);
    }
    for (const char* text : notDates) {
        AddCard(map, n++, text);
    }
    const CExpiringList list = FindExpiringCards(map, 20261210, 30);
    EXPECT_EQ(list.skipped, std::size(notDates));
    std::vector<std::pair<std::string, int32_t>> listed;
    for (const CExpiringCard& card : list.cards) {
        listed.emplace_back(ExpiringCellText(card, ExpiringColumn::Validity), card.daysLeft);
    }
    // By validity.
    EXPECT_EQ(listed, (std::vector<std::pair<std::string, int32_t>>{
                          {"2020-02-29", -2476},
                          {"2026-12-09", -1},
                          {"2026-12-10", 0},
                          {"2027-01-09", 30},
                      }));
    for (const Case& c : cases) {
        int32_t day = 0;
        ASSERT_TRUE(ParseCardDay(c.valid, day)) << c.valid;
        if (c.listed) {
            EXPECT_EQ(DaysBetween(20261210, day), c.daysLeft) << c.valid;
        }
    }
    // Across a year's end and a leap day; one day gives the first list above without the
    // last card.
    EXPECT_EQ(DaysBetween(20261231, 20270101), 1);
    EXPECT_EQ(DaysBetween(20280228, 20280301), 2);
    EXPECT_EQ(FindExpiringCards(map, 20261210, 1).cards.size(), 3u);
}

TEST(ExpiringCards, CellsComeAsUtf8AndSortInTheirColumnsOrder) {
    CCardMap map;
    AddCard(map, 4, "20261220", "张伟", "3栋101", "13900000004");
    // House numbers alike in their first eight bytes (1 + 2 + 1 + 4 in the code page).
    AddCard(map, 2, "20261215", "白雪", "1栋2单元0102", "13900000002");
    AddCard(map, 3, "20261215", "安娜", "1栋2单元0101", "13900000003");
    AddCard(map, 1, "20261201", "陈晨", "1栋2单元0102", "13900000001");
    AddCard(map, 5, "20261230", "白雪", "10栋1", "13900000005");
    const CExpiringList list = FindExpiringCards(map, 20261210, 30);
    EXPECT_EQ(CardNumbers(list.cards),
              (std::vector<std::string>{"000001", "000002", "000003", "000004", "000005"}));
    const auto cells = [](const CExpiringCard& card) {
        std::vector<std::string> texts;
        for (int c = 0; c < kExpiringColumnCount; ++c) {
            texts.push_back(ExpiringCellText(card, static_cast<ExpiringColumn>(c)));
        }
        return texts;
    };
    EXPECT_EQ(cells(list.cards[0]), (std::vector<std::string>{"000001", "陈晨", "1栋2单元0102",
                                                              "13900000001", "2026-12-01", "-9"}));
    EXPECT_EQ(list.skipped, 0u);

    struct Case {
        ExpiringColumn column;
        bool descending;
        std::vector<std::string> order;
    };
    const Case cases[] = {
        // The code page's order: 安 白 陈 张 (pinyin), not Unicode's (安 张 白 陈). Equal
        // names stay in validity order in both directions.
        {ExpiringColumn::Name, false, {"000003", "000002", "000005", "000001", "000004"}},
        {ExpiringColumn::Name, true, {"000004", "000001", "000002", "000005", "000003"}},
        {ExpiringColumn::HouseNo, false, {"000005", "000003", "000001", "000002", "000004"}},
        {ExpiringColumn::HouseNo, true, {"000004", "000001", "000002", "000003", "000005"}},
        {ExpiringColumn::Phone, true, {"000005", "000004", "000003", "000002", "000001"}},
        {ExpiringColumn::CardNo, true, {"000005", "000004", "000003", "000002", "000001"}},
        {ExpiringColumn::DaysLeft, true, {"000005", "000004", "000003", "000002", "000001"}},
        {ExpiringColumn::Validity, false, {"000001", "000002", "000003", "000004", "000005"}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> order;
        for (const uint32_t i : ExpiringOrder(list.cards, c.column, c.descending)) {
            order.push_back(list.cards[i].cardNo);
        }
        EXPECT_EQ(order, c.order) << static_cast<int>(c.column)
                                  << (c.descending ? " descending" : " ascending");
    }
}

TEST(ExpiringCards, BytesThatAreNoCharacterStayVisible) {
    CCardMap map;
    AddCard(map, 1, "20261210");
    map.Lookup("000001")->m_strName = std::string("\xD5\xC5\xFF", 3);  // 张, then no character
    const CExpiringList list = FindExpiringCards(map, 20261210, 30);
    ASSERT_EQ(list.cards.size(), 1u);
    EXPECT_EQ(ExpiringCellText(list.cards[0], ExpiringColumn::Name), "张\\xFF");
}

// The window, on a register whose validities are counted from today.
class ExpiringWindowTest : public ::testing::Test, public WindowDriver {
protected:
    ExpiringWindowTest() {
        AddCard(map, 1, Day(0), "安娜", "1栋101", "13900000001");
        AddCard(map, 2, Day(5), "张伟", "2栋202", "13900000002");
        AddCard(map, 3, Day(6), "白雪", "3栋303", "13900000003");
        AddCard(map, 4, Day(-3), "陈晨", "4栋404", "13900000004");
        AddCard(map, 5, Day(40), "李雷", "5栋505", "13900000005");
        AddCard(map, 6, "00000000", "没有日期");
    }
    static std::string Day(int fromToday) {
        return QDate::currentDate().addDays(fromToday).toString("yyyyMMdd").toStdString();
    }
    static QString DayText(int fromToday) {
        return QDate::currentDate().addDays(fromToday).toString("yyyy-MM-dd");
    }
    void Create() {
        window = std::make_unique<CExpiringDlg>(map);
        Open(window.get());
    }
    QTableView* List() const { return Control<QTableView>(IDC_EXPIRING_LIST); }
    QString Cell(int row, int column) const {
        return List()->model()->index(row, column).data().toString();
    }
    QStringList Column(int column) const {
        QStringList texts;
        for (int row = 0; row < List()->model()->rowCount(); ++row) {
            texts << Cell(row, column);
        }
        return texts;
    }
    void TypeDays(const QString& days) const {
        auto* spin = Control<QSpinBox>(IDC_EXPIRING_DAYS);
        spin->setFocus();
        spin->selectAll();
        QTest::keyClicks(spin, days);
    }
    void ClickHeader(int column) const {
        QHeaderView* header = List()->horizontalHeader();
        const QPoint at(header->sectionViewportPosition(column) + header->sectionSize(column) / 2,
                        header->height() / 2);
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
    }

    CCardMap map;
    FileDlg::Recorder dialogs;
    std::unique_ptr<CExpiringDlg> window;
};

TEST_F(ExpiringWindowTest, ListsByTheTypedDaysAndSortsByTheClickedHeader) {
    Create();
    EXPECT_EQ(window->windowTitle(), QStringLiteral("即将到期"));
    EXPECT_EQ(Control<QSpinBox>(IDC_EXPIRING_DAYS)->value(), 30);
    const QAbstractItemModel* model = List()->model();
    QStringList titles;
    for (int c = 0; c < model->columnCount(); ++c) {
        titles << model->headerData(c, Qt::Horizontal).toString();
    }
    EXPECT_EQ(titles, (QStringList{"卡号", "姓名", "门牌号", "联系电话", "有效期", "剩余天数"}));
    // 30 days: by validity, the expired card first and in red.
    EXPECT_EQ(Text(IDC_EXPIRING_COUNT), QStringLiteral("共4张卡"));
    EXPECT_EQ(Text(IDC_EXPIRING_SKIPPED), QStringLiteral("(另有1张卡的有效期不是日期,没有列出)"));
    EXPECT_EQ(Column(1), (QStringList{"陈晨", "安娜", "张伟", "白雪"}));
    EXPECT_EQ(Column(4), (QStringList{DayText(-3), DayText(0), DayText(5), DayText(6)}));
    EXPECT_EQ(Column(5), (QStringList{"-3", "0", "5", "6"}));
    EXPECT_EQ(model->index(0, 1).data(Qt::ForegroundRole).value<QBrush>().color(), QColor(Qt::red));
    EXPECT_FALSE(model->index(1, 1).data(Qt::ForegroundRole).isValid());

    TypeDays(QStringLiteral("5"));
    EXPECT_EQ(Text(IDC_EXPIRING_COUNT), QStringLiteral("共4张卡"));  // typing alone lists nothing
    Click(IDC_EXPIRING_QUERY);
    EXPECT_EQ(Text(IDC_EXPIRING_COUNT), QStringLiteral("共3张卡"));
    EXPECT_EQ(Column(0), (QStringList{"000004", "000001", "000002"}));

    TypeDays(QStringLiteral("45"));
    PressEnter(IDC_EXPIRING_DAYS);
    EXPECT_EQ(Text(IDC_EXPIRING_COUNT), QStringLiteral("共5张卡"));

    ClickHeader(1);  // 姓名: the code page's pinyin order
    EXPECT_EQ(Column(1), (QStringList{"安娜", "白雪", "陈晨", "李雷", "张伟"}));
    ClickHeader(1);
    EXPECT_EQ(Column(1), (QStringList{"张伟", "李雷", "陈晨", "白雪", "安娜"}));
    // The expired card stays red wherever it is.
    EXPECT_EQ(model->index(2, 1).data(Qt::ForegroundRole).value<QBrush>().color(), QColor(Qt::red));
    ClickHeader(5);
    EXPECT_EQ(Column(5), (QStringList{"-3", "0", "5", "6", "40"}));
    // A new query keeps the order the header shows.
    ASSERT_TRUE(AccessibleAction(Control(IDC_EXPIRING_QUERY), QStringLiteral("Press")));
    EXPECT_EQ(Column(5), (QStringList{"-3", "0", "5", "6", "40"}));
    Screenshot(window.get(), "expiring");
    EXPECT_TRUE(Messages().isEmpty());
}

TEST_F(ExpiringWindowTest, TheExportsReadBackInTheOrderShown) {
    Create();
    ClickHeader(1);
    ClickHeader(1);  // by name, descending
    TempDir dir;
    dialogs.QueueAnswer(QString::fromStdString(dir / "expiring"));
    Click(IDC_EXPIRING_EXPORT_CSV);
    EXPECT_EQ(Message(1),
              QStringLiteral("已导出4张卡到 %1").arg(QString::fromStdString(dir / "expiring.csv")));
    dialogs.QueueAnswer(QString::fromStdString(dir / "expiring.xlsx"));
    Click(IDC_EXPIRING_EXPORT_EXCEL);
    EXPECT_EQ(
        Message(2),
        QStringLiteral("已导出4张卡到 %1").arg(QString::fromStdString(dir / "expiring.xlsx")));

    CSheetRows fromCsv;
    CSheetRows fromXlsx;
    std::string error;
    ASSERT_TRUE(ReadCsv(ReadFile(dir / "expiring.csv"), fromCsv, error)) << error;
    ASSERT_TRUE(ReadXlsx(ReadFile(dir / "expiring.xlsx"), fromXlsx, error)) << error;
    const auto day = [](int n) { return DayText(n).toStdString(); };
    const std::vector<CSheetRow> expected = {
        {"卡号", "姓名", "门牌号", "联系电话", "有效期", "剩余天数"},
        {"000002", "张伟", "2栋202", "13900000002", day(5), "5"},
        {"000004", "陈晨", "4栋404", "13900000004", day(-3), "-3"},
        {"000003", "白雪", "3栋303", "13900000003", day(6), "6"},
        {"000001", "安娜", "1栋101", "13900000001", day(0), "0"},
    };
    ASSERT_EQ(fromCsv.size(), expected.size());
    ASSERT_EQ(fromXlsx.size(), expected.size());
    for (size_t row = 0; row < expected.size(); ++row) {
        EXPECT_EQ(fromCsv[row], expected[row]);
        EXPECT_EQ(fromXlsx[row], expected[row]);
    }
}

}  // namespace
