// The coloured card list and its gradient header.

#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QImage>
#include <QStringDecoder>
#include <QtTest/QTest>

#include "app/CodePageText.h"
#include "cards/CardList.h"
#include "register/Card.h"
#include "ui/HeaderCtrlCl.h"
#include "ui/ListCtrlCl.h"
#include "ui/UserCardDlg.h"

namespace {

TEST(ListCtrl, ColourLookupsFirstEntryWins) {
    CListCtrlCl list;
    ApplyCardListStyle(list);                     // as the user-card window does
    list.SetColumnBackColor(0, QColor(1, 2, 3));  // stored, never found
    list.SetCellBackColor(4, 1, QColor(9, 9, 9));
    list.SetCellForeColor(4, 2, QColor(8, 8, 8));
    const QColor highlight = list.palette().color(QPalette::Active, QPalette::Highlight);
    struct Case {
        int row, column;
        bool selected;
        QColor back, fore;
    };
    const Case cases[] = {
        {0, 0, false, QColor(10, 150, 20), QColor(0, 255, 255)},
        {0, 1, false, QColor(50, 10, 10), QColor(0, 255, 255)},
        {0, 2, false, QColor(30, 100, 90), QColor(255, 255, 100)},
        {0, 7, false, QColor(50, 10, 10), QColor(0, 255, 255)},
        {4, 1, false, QColor(9, 9, 9), QColor(0, 255, 255)},  // cell over list
        {4, 2, false, QColor(30, 100, 90), QColor(8, 8, 8)},  // cell text over column
        {3, 0, true, highlight, QColor(0, 255, 255)},         // selection keeps text colours
        {3, 2, true, highlight, QColor(255, 255, 100)},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(list.CellBackground(c.row, c.column, c.selected), c.back)
            << c.row << "," << c.column;
        EXPECT_EQ(list.CellForeground(c.row, c.column), c.fore) << c.row << "," << c.column;
    }
    EXPECT_EQ(list.m_lstColumnBack.size(), 3u);
}

TEST(ListCtrl, HeaderRules) {
    const std::tuple<int, float, int> heights[] = {
        {20, 1.5f, 30}, {21, 1.5f, 31}, {20, 1.0f, 20}, {23, 1.0f, 23}, {25, 1.5f, 37}};
    for (const auto& [standard, factor, expected] : heights) {
        EXPECT_EQ(CHeaderCtrlCl::ScaledHeight(standard, factor), expected) << standard;
    }
    struct Gradient {
        int r, g, b, step, y;
        QColor expected;
    };
    const Gradient gradients[] = {
        {100, 255, 100, 8, 0, QColor(100, 255, 100)},
        {100, 255, 100, 8, 1, QColor(92, 247, 92)},
        {100, 255, 100, 8, 13, QColor(0, 151, 0)},  // 100 - 104 stops at 0
        {100, 255, 100, 8, 40, QColor(0, 0, 0)},
        {300, 0, 0, 8, 0, QColor(44, 0, 0)},  // only the low byte of 300
    };
    for (const Gradient& g : gradients) {
        EXPECT_EQ(CHeaderCtrlCl::GradientColor(g.r, g.g, g.b, g.step, g.y), g.expected) << g.y;
    }
    EXPECT_EQ(CHeaderCtrlCl::AlignmentOf('0'), Qt::AlignLeft);
    EXPECT_EQ(CHeaderCtrlCl::AlignmentOf('1'), Qt::AlignHCenter);
    EXPECT_EQ(CHeaderCtrlCl::AlignmentOf('2'), Qt::AlignRight);
    EXPECT_EQ(CHeaderCtrlCl::AlignmentOf('x'), Qt::AlignHCenter);
    EXPECT_EQ(CHeaderCtrlCl::AlignmentOf(QChar()), Qt::AlignHCenter);
}

TEST(ListCtrl, ColumnsRowsAndOperations) {
    CListCtrlCl list;
    QAbstractItemModelTester tester(list.Model(),
                                    QAbstractItemModelTester::FailureReportingMode::Warning);
    EXPECT_EQ(list.InsertColumn(0, QStringLiteral("编号"), 0, 50), 0);
    EXPECT_EQ(list.InsertColumn(1, QStringLiteral("状态"), 1, 60), 1);
    EXPECT_EQ(list.InsertColumn(2, QStringLiteral("卡号"), 2, 70), 2);
    EXPECT_EQ(list.InsertColumn(3, QStringLiteral("其他"), 7, 80), 3);
    EXPECT_EQ(list.m_ctlHeader.m_strAlign, QStringLiteral("0211"));
    EXPECT_EQ(list.m_ctlHeader.m_astrTitle.size(), 4);
    EXPECT_EQ(list.columnWidth(2), 70);
    EXPECT_EQ(list.m_ctlHeader.sectionResizeMode(0), QHeaderView::Fixed);

    EXPECT_EQ(list.InsertItem(0, QStringLiteral("1")), 0);
    EXPECT_EQ(list.InsertItem(5, QStringLiteral("2")), 1);  // past the end: appended
    EXPECT_EQ(list.InsertItem(0, QStringLiteral("0")), 0);
    EXPECT_TRUE(list.SetItemText(1, 2, QStringLiteral("000001")));
    EXPECT_FALSE(list.SetItemText(1, 9, QStringLiteral("x")));
    EXPECT_EQ(list.GetItemText(1, 2), QStringLiteral("000001"));
    EXPECT_EQ(list.GetItemText(0, 0), QStringLiteral("0"));
    EXPECT_EQ(list.GetItemText(9, 0), QString());
    EXPECT_EQ(list.GetItemCount(), 3);
    EXPECT_EQ(list.GetSelectionMark(), -1);
    list.selectRow(2);
    EXPECT_EQ(list.GetSelectionMark(), 2);
    EXPECT_TRUE(list.DeleteItem(0));
    EXPECT_FALSE(list.DeleteItem(5));
    EXPECT_EQ(list.GetItemText(0, 2), QStringLiteral("000001"));
    list.DeleteAllItems();
    EXPECT_EQ(list.GetItemCount(), 0);

    list.SetRowHeight(0);  // keeps the list's own row height
    list.InsertItem(0, QStringLiteral("a"));
    const int own = list.rowHeight(0);
    EXPECT_GT(own, 0);
    list.SetRowHeight(25);
    list.InsertItem(1, QStringLiteral("b"));
    EXPECT_EQ(list.rowHeight(1), 25);
}

TEST(ListCtrl, PaintsTheConfiguredColours) {
    CListCtrlCl list;
    ApplyCardListStyle(list);  // as the user-card window does
    for (int c = 0; c < 3; ++c) {
        list.InsertColumn(c, QStringLiteral("列%1").arg(c), 2, 80);
    }
    for (int r = 0; r < 3; ++r) {
        list.InsertItem(r, QString());
    }
    list.resize(400, 200);
    list.show();
    list.selectRow(1);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&list));
    list.SetItemText(0, 1, QStringLiteral("张三"));
    list.SetItemText(1, 1, QStringLiteral("李四"));
    const QByteArray shots = qgetenv("ORVANE_SCREENSHOT_DIR");
    if (!shots.isEmpty()) {
        list.grab().save(QString::fromUtf8(shots) + "/list.png");
    }
    const QImage cells = list.viewport()->grab().toImage();
    const auto pixel = [&](int row, int column) {  // a corner of the cell, away from text
        const QRect r = list.visualRect(list.Model()->index(row, column));
        return cells.pixelColor(r.left() + 4, r.top() + 3);
    };
    EXPECT_EQ(pixel(0, 0), QColor(10, 150, 20));
    EXPECT_EQ(pixel(0, 1), QColor(50, 10, 10));
    EXPECT_EQ(pixel(0, 2), QColor(30, 100, 90));
    const QColor highlight = list.palette().color(QPalette::Active, QPalette::Highlight);
    EXPECT_EQ(pixel(1, 0), highlight);
    EXPECT_EQ(pixel(1, 2), highlight);
    EXPECT_EQ(list.rowHeight(0), 25);

    const QImage header = list.horizontalHeader()->viewport()->grab().toImage();
    EXPECT_EQ(header.pixelColor(3, 0), QColor(100, 255, 100));
    EXPECT_EQ(header.pixelColor(3, 1), QColor(92, 247, 92));
    EXPECT_NE(header.pixelColor(80, 1),
              QColor(92, 247, 92));  // each item's first column: unpainted
    // Right of the last column the gradient starts again.
    EXPECT_EQ(header.pixelColor(3 * 80 + 10, 1), QColor(92, 247, 92));
    EXPECT_EQ(list.horizontalHeader()->height(),
              CHeaderCtrlCl::ScaledHeight(list.horizontalHeader()->QHeaderView::sizeHint().height(),
                                          1.5f));
}

TEST(ListCtrl, AHundredThousandRows) {
    CListCtrlCl list;
    for (int c = 0; c < 12; ++c) {
        list.InsertColumn(c, QString::number(c), 2, 60);
    }
    for (int r = 0; r < 100000; ++r) {
        list.InsertItem(r, QString::number(r));
    }
    list.SetItemText(99999, 11, QStringLiteral("last"));
    EXPECT_EQ(list.GetItemCount(), 100000);
    EXPECT_EQ(list.GetItemText(99999, 11), QStringLiteral("last"));
    list.resize(800, 600);
    list.show();
    list.scrollToBottom();
    EXPECT_FALSE(list.viewport()->grab().isNull());
}

TEST(ListCtrl, RowCellsInOneString) {
    CListRow row;
    row.AddCell(u"1");
    row.AddCell(u"");
    row.AddCell(u"张三");
    ASSERT_EQ(row.CellCount(), 3);
    EXPECT_EQ(row.Cell(0), u"1");
    EXPECT_EQ(row.Cell(1), u"");
    EXPECT_EQ(row.Cell(2), u"张三");
    EXPECT_TRUE(row.Cell(3).isEmpty());
    EXPECT_TRUE(row.Cell(-1).isEmpty());

    // Longer, shorter and empty replacements keep the other cells.
    row.SetCell(1, u"已发行");
    row.SetCell(0, u"");
    row.SetCell(2, u"x");
    EXPECT_EQ(row.Cell(0), u"");
    EXPECT_EQ(row.Cell(1), u"已发行");
    EXPECT_EQ(row.Cell(2), u"x");
    row.SetCell(5, u"far");  // cells 3 and 4 come empty
    EXPECT_EQ(row.CellCount(), 6);
    EXPECT_EQ(row.Cell(4), u"");
    EXPECT_EQ(row.Cell(5), u"far");
    EXPECT_EQ(row.Cell(2), u"x");

    for (int c = row.CellCount(); c < CListRow::kMaxCells + 3; ++c) {
        row.AddCell(u"more");
    }
    EXPECT_EQ(row.CellCount(), CListRow::kMaxCells);
    row.SetCell(CListRow::kMaxCells, u"ignored");
    EXPECT_EQ(row.Cell(CListRow::kMaxCells - 1), u"more");

    CListCtrlCl list;
    for (int c = 0; c < CListRow::kMaxCells; ++c) {
        EXPECT_EQ(list.InsertColumn(c, QString::number(c), 2, 40), c);
    }
    EXPECT_EQ(list.InsertColumn(CListRow::kMaxCells, QStringLiteral("x"), 2, 40), -1);
}

TEST(ListCtrl, CodePageTexts) {
    const struct {
        const char* bytes;
        QString text;
    } cases[] = {
        {"", QString()},
        {"000123", QStringLiteral("000123")},
        {"\xD5\xC5\xC8\xFD", QStringLiteral("张三")},
        {"1-\xB6\xAB", QStringLiteral("1-东")},
        {"\x81\x30\x81\x30", QString(QChar(0x80))},                 // a four-byte sequence
        {"\x90\x30\x81\x30", QString::fromUcs4(U"\U00010000", 1)},  // beyond 16 bits
        {"a\xD5", QStringLiteral("a")},  // cut in the middle: the piece is left out
    };
    QString appended = QStringLiteral(">");
    for (const auto& c : cases) {
        EXPECT_EQ(FromCodePage(c.bytes), c.text) << c.bytes;
        AppendFromCodePage(appended, c.bytes);
    }
    // Nothing of a cut text carries over into the next.
    EXPECT_EQ(FromCodePage("\xD5"), QString());
    EXPECT_EQ(FromCodePage("\xC5\xC8"), QStringDecoder("GB18030")("\xC5\xC8"));
    QString all = QStringLiteral(">");
    for (const auto& c : cases) {
        all += c.text;
    }
    EXPECT_EQ(appended, all);
    EXPECT_EQ(ToCodePage(QStringLiteral("张三")), "\xD5\xC5\xC8\xFD");
}

}  // namespace

namespace {

std::unique_ptr<CCard> Holder(const char* cardNo, const char* name) {
    auto card = std::make_unique<CCard>();
    card->m_strCardNo = cardNo;
    card->m_strName = name;
    return card;
}

}  // namespace

TEST(ListCtrl, CardRowsShowTheirCardFromTheRegister) {
    CCardMap cards;
    cards.SetAt("000001", Holder("000001", "Zhang"));
    cards.SetAt("000002", Holder("000002", "Li"));
    cards.SetAt("LONGKEY0001", Holder("000003", "Wang"));  // longer than a row keeps inline
    CListCtrlCl list;
    ApplyCardListStyle(list);
    for (int c = 0; c < kCardListColumns; ++c) {
        list.InsertColumn(c, QString::fromUtf8(kCardListTitles[c]), 2, 60);
    }
    list.SetRowSource(&cards, CardRow);
    QAbstractItemModelTester tester(list.Model(),
                                    QAbstractItemModelTester::FailureReportingMode::Warning);
    list.AppendEntries(CardListOrder(cards));
    ASSERT_EQ(list.GetItemCount(), 3);
    EXPECT_EQ(list.GetItemText(0, 6), QStringLiteral("Zhang"));
    EXPECT_EQ(list.ItemKey(0), "000001");
    EXPECT_EQ(list.GetItemKey(2), "LONGKEY0001");
    EXPECT_EQ(list.GetItemText(2, 2), QStringLiteral("000003"));

    // A card's row shows the card as it is now; a row the window wrote keeps its cells.
    cards.Lookup("000001")->m_strName = "Zhao";
    EXPECT_EQ(list.GetItemText(0, 6), QStringLiteral("Zhao"));
    EXPECT_TRUE(list.SetItemText(1, 4, QStringLiteral("20991231")));
    cards.Lookup("000002")->m_strName = "Liu";
    EXPECT_EQ(list.GetItemText(1, 6), QStringLiteral("Li"));
    EXPECT_EQ(list.GetItemText(1, 4), QStringLiteral("20991231"));
    EXPECT_EQ(list.GetItemKey(1), "000002");
    const CListRow whole = list.GetRow(1);
    EXPECT_EQ(whole.CellCount(), kCardListColumns);
    EXPECT_EQ(whole.Cell(2), QStringLiteral("000002"));

    // A row whose card has left the register shows nothing, and keeps its key.
    cards.RemoveKey("000001");
    EXPECT_EQ(list.GetItemText(0, 6), QString());
    EXPECT_EQ(list.GetItemKey(0), "000001");
    EXPECT_EQ(list.GetRow(0).CellCount(), 0);
    EXPECT_TRUE(list.DeleteItem(0));
    EXPECT_EQ(list.GetItemKey(0), "000002");
    EXPECT_EQ(list.GetRow(5).CellCount(), 0);
    EXPECT_EQ(list.ItemKey(5), "");

    // Painted through the same path.
    list.resize(900, 200);
    list.show();
    EXPECT_FALSE(list.viewport()->grab().isNull());
    list.DeleteAllItems();
    EXPECT_EQ(list.GetItemCount(), 0);
}
