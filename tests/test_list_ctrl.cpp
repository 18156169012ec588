// The coloured card list, its gradient header and the model that shows register cards as the
// card store reports their changes.

#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QImage>
#include <QSignalSpy>
#include <QStringDecoder>
#include <QtTest/QTest>

#include "TestUtil.h"
#include "app/CodePageText.h"
#include "cards/CardList.h"
#include "register/Card.h"
#include "register/CardFields.h"
#include "store/FileCardStore.h"
#include "ui/HeaderCtrlCl.h"
#include "ui/ListCtrlCl.h"
#include "ui/UserCardDlg.h"

namespace {

using Tester = QAbstractItemModelTester;

std::unique_ptr<CCard> Holder(const std::string& cardNo, const char* name, int number = 1) {
    auto card = MakeCard(cardNo, number);
    card->m_strName = name;
    return card;
}

// A card list as the user-card window sets it up, over a register changed through a store
// (in memory: no journal attached), with the model checked after every change.
class CardListTest : public ::testing::Test {
protected:
    explicit CardListTest(int cards = 0) {
        for (int n = 1; n <= cards; ++n) {
            map.SetAt(CardNoText(n), Holder(CardNoText(n), "holder", n));
        }
        maxNumber = static_cast<uint32_t>(cards);
        ApplyCardListStyle(list);
        for (int c = 0; c < kCardListColumns; ++c) {
            list.InsertColumn(c, QString::fromUtf8(kCardListTitles[c]), 2, 60);
        }
        list.SetRowSource(&map, CardRow, [this] { return CardListOrder(map); });
        list.Watch(store);
        list.AppendEntries(CardListOrder(map));
    }
    CListModel& Model() { return *list.Model(); }
    QColor Back(int row, int column) {
        return Model().data(Model().index(row, column), Qt::BackgroundRole).value<QBrush>().color();
    }
    QColor Fore(int row, int column) {
        return Model().data(Model().index(row, column), Qt::ForegroundRole).value<QBrush>().color();
    }
    QStringList Keys() {
        QStringList keys;
        for (int row = 0; row < list.GetItemCount(); ++row) {
            keys << QString::fromStdString(std::string(list.ItemKey(row)));
        }
        return keys;
    }
    void Commit(CCardChange change) {
        std::string error;
        ASSERT_EQ(store.Commit(std::move(change), CommitMode::Refusable, error),
                  CommitResult::Durable);
    }
    void Put(const std::string& key, std::unique_ptr<CCard> card) {
        CCardChange change(CardOperation::Save, maxNumber);
        change.Put(key, std::move(card));
        Commit(std::move(change));
    }
    void Remove(const std::string& key) {
        CCardChange change(CardOperation::Delete, maxNumber);
        change.Remove(key);
        Commit(std::move(change));
    }

    CCardMap map;
    uint32_t maxNumber = 0;
    CFileCardStore store{map, maxNumber};
    CListCtrlCl list;
    Tester tester{list.Model(), Tester::FailureReportingMode::Fatal};
};

class FiveCards : public CardListTest {
protected:
    FiveCards() : CardListTest(5) {}
};

TEST_F(FiveCards, ColoursComeFromTheModelFirstEntryWins) {
    list.SetColumnBackColor(0, QColor(1, 2, 3));  // stored, never found
    list.SetColumnForeColor(2, QColor(8, 8, 8));  // likewise
    struct Case {
        int row, column;
        QColor back, fore;
    };
    const Case cases[] = {
        {0, 0, QColor(10, 150, 20), QColor(0, 255, 255)},
        {0, 1, QColor(50, 10, 10), QColor(0, 255, 255)},
        {0, 2, QColor(30, 100, 90), QColor(255, 255, 100)},
        {0, 7, QColor(50, 10, 10), QColor(0, 255, 255)},
        {4, 2, QColor(30, 100, 90), QColor(255, 255, 100)},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Back(c.row, c.column), c.back) << c.row << "," << c.column;
        EXPECT_EQ(Fore(c.row, c.column), c.fore) << c.row << "," << c.column;
    }
    EXPECT_EQ(Model().m_lstColumnBack.size(), 3u);
    EXPECT_EQ(Model().m_lstColumnFore.size(), 2u);
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

TEST(ListCtrl, Columns) {
    CListCtrlCl list;
    Tester tester(list.Model(), Tester::FailureReportingMode::Fatal);
    EXPECT_EQ(list.InsertColumn(0, QStringLiteral("编号"), 0, 50), 0);
    EXPECT_EQ(list.InsertColumn(1, QStringLiteral("状态"), 1, 60), 1);
    EXPECT_EQ(list.InsertColumn(2, QStringLiteral("卡号"), 2, 70), 2);
    EXPECT_EQ(list.InsertColumn(3, QStringLiteral("其他"), 7, 80), 3);
    EXPECT_EQ(list.m_ctlHeader.m_strAlign, QStringLiteral("0211"));
    EXPECT_EQ(list.m_ctlHeader.m_astrTitle.size(), 4);
    EXPECT_EQ(list.columnWidth(2), 70);
    EXPECT_EQ(list.m_ctlHeader.sectionResizeMode(0), QHeaderView::Fixed);
    for (int c = 4; c < CListRow::kMaxCells; ++c) {
        EXPECT_EQ(list.InsertColumn(c, QString::number(c), 2, 40), c);
    }
    EXPECT_EQ(list.InsertColumn(CListRow::kMaxCells, QStringLiteral("x"), 2, 40), -1);
}

TEST_F(FiveCards, RowOperationsAndRowHeight) {
    EXPECT_EQ(list.GetItemCount(), 5);
    EXPECT_EQ(list.GetItemText(1, 2), QStringLiteral("000002"));
    EXPECT_EQ(list.GetItemText(9, 0), QString());
    EXPECT_EQ(list.GetSelectionMark(), -1);
    list.MarkRow(2);
    EXPECT_EQ(list.GetSelectionMark(), 2);
    EXPECT_EQ(list.selectionModel()->selectedRows().size(), 1);
    EXPECT_TRUE(list.DeleteItem(0));  // the row only: the card stays in the register
    EXPECT_FALSE(list.DeleteItem(5));
    EXPECT_EQ(list.GetItemText(0, 2), QStringLiteral("000002"));
    EXPECT_EQ(list.GetSelectionMark(), 1);  // the marked row moved up with its card
    EXPECT_EQ(map.GetCount(), 5u);
    list.MarkRow(-1);
    EXPECT_EQ(list.GetSelectionMark(), -1);
    EXPECT_TRUE(list.selectionModel()->selectedRows().isEmpty());
    list.DeleteAllItems();
    EXPECT_EQ(list.GetItemCount(), 0);

    CListCtrlCl own;
    own.InsertColumn(0, QStringLiteral("卡号"), 2, 60);
    own.SetRowSource(&map, CardRow, nullptr);
    own.SetRowHeight(0);  // keeps the list's own row height
    own.AppendEntries(CardListOrder(map));
    EXPECT_GT(own.rowHeight(0), 0);
    list.AppendEntries(CardListOrder(map));
    EXPECT_EQ(list.rowHeight(0), 25);
}

// One row at a time, however the operator clicks.
TEST_F(FiveCards, OneRowIsSelected) {
    list.resize(800, 300);
    list.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&list));
    const auto click = [&](int row, Qt::KeyboardModifiers modifiers) {
        QTest::mouseClick(list.viewport(), Qt::LeftButton, modifiers,
                          list.visualRect(Model().index(row, 3)).center());
    };
    const struct {
        int row;
        Qt::KeyboardModifiers modifiers;
    } clicks[] = {{0, {}},
                  {2, Qt::ControlModifier},
                  {4, Qt::ControlModifier},
                  {1, Qt::ShiftModifier},
                  {3, Qt::ShiftModifier | Qt::ControlModifier}};
    for (const auto& c : clicks) {
        click(c.row, c.modifiers);
        const QModelIndexList selected = list.selectionModel()->selectedRows();
        ASSERT_EQ(selected.size(), 1) << c.row;
        EXPECT_EQ(selected[0].row(), c.row);
        EXPECT_EQ(list.GetSelectionMark(), c.row);
    }
}

TEST_F(FiveCards, PaintsTheConfiguredColours) {
    list.resize(900, 200);
    list.show();
    list.MarkRow(1);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&list));
    const QByteArray shots = qgetenv("ORVANE_SCREENSHOT_DIR");
    if (!shots.isEmpty()) {
        list.grab().save(QString::fromUtf8(shots) + "/list.png");
    }
    const QImage cells = list.viewport()->grab().toImage();
    const auto pixel = [&](int row, int column) {  // a corner of the cell, away from text
        const QRect r = list.visualRect(Model().index(row, column));
        return cells.pixelColor(r.left() + 4, r.top() + 3);
    };
    EXPECT_EQ(pixel(0, 0), QColor(10, 150, 20));
    EXPECT_EQ(pixel(0, 1), QColor(50, 10, 10));
    EXPECT_EQ(pixel(0, 2), QColor(30, 100, 90));
    // A selected row: the highlight in every column, also the coloured ones.
    const QColor highlight = list.palette().color(QPalette::Active, QPalette::Highlight);
    EXPECT_EQ(pixel(1, 0), highlight);
    EXPECT_EQ(pixel(1, 2), highlight);
    EXPECT_EQ(list.rowHeight(0), 25);

    const QImage header = list.horizontalHeader()->viewport()->grab().toImage();
    EXPECT_EQ(header.pixelColor(3, 0), QColor(100, 255, 100));
    EXPECT_EQ(header.pixelColor(3, 1), QColor(92, 247, 92));
    EXPECT_NE(header.pixelColor(60, 1),
              QColor(92, 247, 92));  // each item's first column: unpainted
    // Right of the last column the gradient starts again.
    EXPECT_EQ(header.pixelColor(12 * 60 + 10, 1), QColor(92, 247, 92));
    EXPECT_EQ(list.horizontalHeader()->height(),
              CHeaderCtrlCl::ScaledHeight(list.horizontalHeader()->QHeaderView::sizeHint().height(),
                                          1.5f));
}

class HundredThousandCards : public CardListTest {
protected:
    HundredThousandCards() : CardListTest(100000) {}
};

TEST_F(HundredThousandCards, ShownAndScrolled) {
    EXPECT_EQ(list.GetItemCount(), 100000);
    EXPECT_EQ(list.GetItemText(99999, 2), QStringLiteral("100000"));
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
    for (int c = row.CellCount(); c < CListRow::kMaxCells + 3; ++c) {
        row.AddCell(u"more");
    }
    EXPECT_EQ(row.CellCount(), CListRow::kMaxCells);
    EXPECT_EQ(row.Cell(CListRow::kMaxCells - 1), u"more");
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

class ThreeCards : public CardListTest {
protected:
    ThreeCards() {
        map.SetAt("000001", Holder("000001", "Zhang", 1));
        map.SetAt("000002", Holder("000002", "Li", 2));
        map.SetAt("LONGKEY0001", Holder("000003", "Wang", 3));  // longer than a row keeps inline
        maxNumber = 3;
        list.AppendEntries(CardListOrder(map));
    }
};

TEST_F(ThreeCards, RowsShowTheirCardsAsTheStoreChangesThem) {
    ASSERT_EQ(Keys(), (QStringList{"000001", "000002", "LONGKEY0001"}));
    EXPECT_EQ(list.GetItemText(0, 6), QStringLiteral("Zhang"));
    EXPECT_EQ(list.GetItemText(2, 2), QStringLiteral("000003"));

    // A card changed by any code: its row is repainted with its new cells and colours.
    QSignalSpy changed(&Model(), &QAbstractItemModel::dataChanged);
    auto lost = Holder("000002", "Liu", 2);
    lost->m_nStatus = CARD_LOST;
    Put("000002", std::move(lost));
    ASSERT_EQ(changed.size(), 1);
    const auto top = changed[0][0].value<QModelIndex>();
    const auto bottom = changed[0][1].value<QModelIndex>();
    EXPECT_EQ(top.row(), 1);
    EXPECT_EQ(bottom.row(), 1);
    EXPECT_EQ(top.column(), 0);
    EXPECT_EQ(bottom.column(), kCardListColumns - 1);
    EXPECT_TRUE(changed[0][2].value<QList<int>>().isEmpty());  // every role, colours too
    EXPECT_EQ(list.GetItemText(1, 6), QStringLiteral("Liu"));
    EXPECT_EQ(list.GetItemText(1, 1), QStringLiteral("挂失"));
    EXPECT_EQ(Back(1, 2), QColor(30, 100, 90));
    const CListRow whole = list.GetRow(1);
    EXPECT_EQ(whole.CellCount(), kCardListColumns);
    EXPECT_EQ(whole.Cell(2), QStringLiteral("000002"));

    // A card new to the register comes at the top; its key may be long.
    Put("000009", Holder("000009", "Zhao", 9));
    Put("ANOTHERLONGKEY", Holder("000010", "Qian", 10));
    EXPECT_EQ(Keys(), (QStringList{"ANOTHERLONGKEY", "000009", "000001", "000002", "LONGKEY0001"}));
    EXPECT_EQ(list.GetItemText(0, 6), QStringLiteral("Qian"));

    // A removed card's row goes, whoever removed it; a removal of a key that the register
    // lacks takes out its row as well.
    Remove("LONGKEY0001");
    EXPECT_EQ(Keys(), (QStringList{"ANOTHERLONGKEY", "000009", "000001", "000002"}));
    map.RemoveKey("000001");  // behind the store's back: the row shows nothing
    EXPECT_EQ(list.GetItemText(2, 6), QString());
    EXPECT_EQ(list.GetRow(2).CellCount(), 0);
    Remove("000001");
    EXPECT_EQ(Keys(), (QStringList{"ANOTHERLONGKEY", "000009", "000002"}));
    EXPECT_EQ(list.GetRow(5).CellCount(), 0);
    EXPECT_EQ(list.ItemKey(5), "");

    // A change of several cards at once.
    CCardChange batch(CardOperation::Enrol, 12);
    batch.Put("000011", Holder("000011", "A", 11));
    batch.Put("000002", Holder("000002", "B", 2));
    batch.Remove("000009");
    batch.Put("000012", Holder("000012", "C", 12));
    Commit(std::move(batch));
    EXPECT_EQ(Keys(), (QStringList{"000011", "000012", "ANOTHERLONGKEY", "000002"}));
    EXPECT_EQ(list.GetItemText(3, 6), QStringLiteral("B"));

    // Painted through the same path.
    list.resize(900, 200);
    list.show();
    EXPECT_FALSE(list.viewport()->grab().isNull());
}

TEST_F(ThreeCards, AWholeRegisterReplacedIsListedAnew) {
    TempDir dir;
    store.Locate(dir / "cardbook.kcd");
    list.DeleteItem(0);
    CCardMap imported;
    imported.SetAt("000005", Holder("000005", "E", 5));
    imported.SetAt("000004", Holder("000004", "D", 4));
    std::string error;
    ASSERT_TRUE(store.ReplaceAll(std::move(imported), 5, error)) << error;
    EXPECT_EQ(Keys(), (QStringList{"000004", "000005"}));
    EXPECT_EQ(list.GetItemText(1, 6), QStringLiteral("E"));
}

TEST_F(ThreeCards, AFilterNarrowsTheListedRows) {
    Model().SetFilter([](const CCard& card) { return card.m_strName.view() != "Li"; }, false);
    EXPECT_EQ(Keys(), (QStringList{"000001", "LONGKEY0001"}));
    // Narrowing tries only the rows shown: "Li" stays out.
    Model().SetFilter([](const CCard& card) { return card.m_strName.view() != "Wang"; }, true);
    EXPECT_EQ(Keys(), (QStringList{"000001"}));
    // Changes reach the rows shown and those listed behind the filter alike.
    Put("000002", Holder("000002", "Lu", 2));
    Remove("000001");
    EXPECT_EQ(Keys(), QStringList());
    Put("000007", Holder("000007", "New", 7));  // new: shown whatever the filter
    EXPECT_EQ(Keys(), QStringList{"000007"});
    list.DeleteItem(0);
    EXPECT_EQ(Keys(), QStringList());
    Model().SetFilter(nullptr, false);
    EXPECT_EQ(Keys(), (QStringList{"000002", "LONGKEY0001"}));
    EXPECT_EQ(list.GetItemText(0, 6), QStringLiteral("Lu"));
}

TEST(ListCtrl, TheListStopsListeningWhenItGoes) {
    CCardMap map;
    uint32_t maxNumber = 0;
    CFileCardStore store(map, maxNumber);
    int told = 0;
    CCardSubscription counting = store.Listen([&told](const CCardNotice&) { ++told; });
    {
        CListCtrlCl list;
        list.SetRowSource(&map, CardRow, nullptr);
        list.Watch(store);
    }
    std::string error;
    CCardChange change(CardOperation::Add, 1);
    change.Put("000001", Holder("000001", "x"));
    EXPECT_EQ(store.Commit(std::move(change), CommitMode::Refusable, error), CommitResult::Durable);
    EXPECT_EQ(told, 1);
    counting.Cancel();
    CCardChange again(CardOperation::Delete, 1);
    again.Remove("000001");
    EXPECT_EQ(store.Commit(std::move(again), CommitMode::Refusable, error), CommitResult::Durable);
    EXPECT_EQ(told, 1);

    // While a notice is told, a listener may end another's subscription (it is told no more)
    // and start one (told from the next notice on).
    std::vector<std::string> heard;
    CCardSubscription second;
    CCardSubscription third;
    CCardSubscription first = store.Listen([&](const CCardNotice& notice) {
        heard.push_back("first " + notice.keys.at(0));
        second.Cancel();
        if (!third.Active()) {
            third = store.Listen(
                [&](const CCardNotice& later) { heard.push_back("third " + later.keys.at(0)); });
        }
    });
    second = store.Listen([&](const CCardNotice&) { heard.push_back("second"); });
    for (const char* key : {"000002", "000003"}) {
        CCardChange change(CardOperation::Add, 1);
        change.Put(key, Holder(key, "y"));
        EXPECT_EQ(store.Commit(std::move(change), CommitMode::Refusable, error),
                  CommitResult::Durable);
    }
    EXPECT_EQ(heard, (std::vector<std::string>{"first 000002", "first 000003", "third 000003"}));
}

}  // namespace
