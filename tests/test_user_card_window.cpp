// The user-card window's layout, opening state, card list and mode switching.

#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QtTest/QTest>

#include "GuiTestUtil.h"
#include "TestUtil.h"
#include "WindowDriver.h"
#include "app/CodePageText.h"
#include "app/ControlId.h"
#include "bench/SampleCards.h"
#include "register/CardFields.h"
#include "register/RegisterFile.h"
#include "ui/HistoryDlg.h"
#include "ui/RecordDate.h"
#include "ui/UserCardDlg.h"
#include "ui/UserCardIds.h"

namespace {

using namespace UserCardIds;

using UserCardWindowTest = UserCardTest;

TEST_F(UserCardWindowTest, EmptyRegisterOpensEmpty) {
    Create();
    EXPECT_EQ(window->windowTitle(), QStringLiteral("发卡"));
    EXPECT_EQ(Rows(), 0);
    EXPECT_EQ(Text(IDC_NUMBER), QStringLiteral("1"));
    EXPECT_EQ(window->m_list.Model()->columnCount(), 12);
    EXPECT_EQ(window->m_list.m_ctlHeader.m_strAlign, QStringLiteral("111111111111"));
    EXPECT_TRUE(boxes.shown().empty());
}

TEST_F(UserCardWindowTest, ListInCardNumberOrderThenTheOtherKeys) {
    Add("000007", 2);
    Add("000003", 5, CARD_LOST);
    Add("000000", 3);
    Add("ABC", 4, 7);  // a key brought in by an import, a status without text
    Create();
    ASSERT_EQ(Rows(), 4);
    EXPECT_EQ(Cell(1, 2), QStringLiteral("000007"));
    const QString last2 = Cell(2, 2) + Cell(3, 2);
    EXPECT_TRUE(last2 == QStringLiteral("000000ABC") || last2 == QStringLiteral("ABC000000"));
    EXPECT_EQ(Row(0).mid(0, 6),
              (QStringList{"5", "挂失", "000003", "免费卡", "00000000", "00000000"}));
    for (int row = 2; row < 4; ++row) {
        if (Cell(row, 2) == QStringLiteral("ABC")) {
            EXPECT_EQ(Cell(row, 1), QStringLiteral("7"));
        }
    }
    EXPECT_EQ(Text(IDC_NUMBER), QStringLiteral("6"));
}

TEST_F(UserCardWindowTest, OpeningStateAndModes) {
    Open();
    EXPECT_EQ(app.m_replyHandoff.Receiver(), window.get());
    EXPECT_EQ(window->m_nMode, 0);
    EXPECT_TRUE(Checked(IDC_MODE_ISSUE));
    for (const int id : {IDC_NEW, IDC_EDIT, IDC_DELETE, IDC_CANCEL, IDC_ISSUE_CARD, IDC_AUTO_NUMBER,
                         IDC_NEW_SAME_INFO, IDC_QUERY, IDC_SHOW_ALL, IDC_IMPORT, IDC_EXPORT,
                         IDC_EXPORT_EXCEL, IDC_CARD_LIST}) {
        EXPECT_TRUE(Enabled(id)) << id;
    }
    for (const int id : {IDC_SAVE, IDC_PASSWORD, IDC_NAME, IDC_CARD_NO, IDC_CARD_TYPE,
                         IDC_VALID_DATE, IdcPort(1), IdcPort(16), IDC_ALL_PORTS, IDC_READ_CARD,
                         IDC_EXTEND, IDC_EXTEND_DATE, IDC_EXTEND_FEE, IDC_EXTEND_DATE_LABEL,
                         IDC_EXTEND_FEE_LABEL, IDC_EXTEND_FEE_UNIT, IDC_NUMBER, IDC_STATUS}) {
        EXPECT_FALSE(Enabled(id)) << id;
    }
    for (const int id : {IDC_RETURN_CARD, IDC_EXTEND_WITHOUT_CARD, IDC_SEX}) {
        EXPECT_FALSE(Control(id)->isVisibleTo(window.get())) << id;
    }
    const QDate today = QDate::currentDate();
    for (const int id : {IDC_REG_DATE, IDC_EXTEND_DATE, IDC_QUERY_FROM, IDC_QUERY_TO}) {
        EXPECT_EQ(Picker(id)->date(), today) << id;
    }
    EXPECT_EQ(Picker(IDC_VALID_DATE)->date(), QDate(2099, 12, 31));
    EXPECT_EQ(window->m_dateValid, QDateTime(QDate(2099, 12, 31), QTime(10, 20, 30)));

    Click(IDC_MODE_EXTEND);
    EXPECT_EQ(window->m_nMode, 1);
    for (const int id :
         {IDC_READ_CARD, IDC_EXTEND, IDC_EXTEND_DATE, IDC_EXTEND_FEE, IDC_EXTEND_DATE_LABEL}) {
        EXPECT_TRUE(Enabled(id)) << id;
    }
    for (const int id : {IDC_NEW, IDC_EDIT, IDC_DELETE, IDC_SAVE, IDC_CANCEL, IDC_ISSUE_CARD,
                         IDC_AUTO_NUMBER, IDC_NAME}) {
        EXPECT_FALSE(Enabled(id)) << id;
    }
    Click(IDC_MODE_ISSUE);
    EXPECT_EQ(window->m_nMode, 0);
    EXPECT_TRUE(Enabled(IDC_NEW));
    EXPECT_FALSE(Enabled(IDC_SAVE));  // 保存 stays disabled
    EXPECT_FALSE(Enabled(IDC_NAME));  // and so do the record fields
    EXPECT_FALSE(Enabled(IDC_READ_CARD));

    window->resize(1280, 760);
    Screenshot(window.get(), "user-card");
    window.reset();
    EXPECT_EQ(app.m_replyHandoff.Receiver(), nullptr);
}

TEST_F(UserCardWindowTest, TypingStopsAtTheByteLimits) {
    Open();
    window->EnableRecordFields();
    struct Case {
        int id;
        QString typed;
        QString kept;
    };
    const Case cases[] = {
        {IDC_CARD_NO, QStringLiteral("1234567"), QStringLiteral("123456")},
        {IDC_CARD_NO, QStringLiteral("一二三四五六"), QStringLiteral("一二三")},  // two bytes each
        {IDC_CARD_NO, QStringLiteral("12345一"), QStringLiteral("12345")},
        {IDC_PAID, QStringLiteral("12345678901"), QStringLiteral("1234567890")},
        {IDC_MONTH_FEE, QStringLiteral("一二三四五六"), QStringLiteral("一二三四五")},
        {IDC_YEAR_FEE, QStringLiteral("1234567890"), QStringLiteral("1234567890")},
        {IDC_NAME, QStringLiteral("一二三四五六七八九十"), QStringLiteral("一二三四五六七八九十")},
    };
    for (const Case& c : cases) {
        Type(c.id, c.typed);
        EXPECT_EQ(Text(c.id), c.kept) << c.id << " " << c.typed.toStdString();
    }
    // A paste is cut to what fits, at the cursor.
    auto* cardNo = Control<QLineEdit>(IDC_CARD_NO);
    cardNo->setText(QStringLiteral("12"));
    cardNo->setCursorPosition(1);
    cardNo->insert(QStringLiteral("abcdefg"));
    EXPECT_EQ(cardNo->text(), QStringLiteral("1abcd2"));
    EXPECT_EQ(cardNo->cursorPosition(), 5);
    // The extension's payment, enabled as in mode "延期退卡".
    Control(IDC_EXTEND_FEE)->setEnabled(true);
    Type(IDC_EXTEND_FEE, QStringLiteral("99999999999"));
    EXPECT_EQ(Text(IDC_EXTEND_FEE), QStringLiteral("9999999999"));
    EXPECT_TRUE(boxes.shown().empty());
}

TEST_F(UserCardWindowTest, ALongerStoredTextIsShownWholeAndStopsTheExchange) {
    Add("000001", 1).m_strPaid =
        ToCodePage(QStringLiteral("一二三四五六"));  // 12 bytes, from an import
    Open();
    ClickRow(0);
    auto* paid = Control<QLineEdit>(IDC_PAID);
    EXPECT_EQ(paid->text(), QStringLiteral("一二三四五六"));
    EXPECT_FALSE(window->UpdateData(true));
    EXPECT_EQ(Messages(), QStringList{QStringLiteral("请填入不多于10个的字符。")});
    EXPECT_EQ(window->m_strPaid, Card("000001")->m_strPaid);  // as loaded
    // The operator can shorten it, not lengthen it.
    window->EnableRecordFields();
    paid->setFocus();
    paid->setCursorPosition(6);
    QTest::keyClicks(paid, QStringLiteral("7"));
    EXPECT_EQ(paid->text(), QStringLiteral("一二三四五六"));
    QTest::keyClick(paid, Qt::Key_Backspace);
    EXPECT_EQ(paid->text(), QStringLiteral("一二三四五"));
    EXPECT_TRUE(window->UpdateData(true));
}

// An operation whose exchange fails stops there: what the operator typed stays, and nothing
// is done.
TEST_F(UserCardWindowTest, AFailedExchangeStopsTheOperation) {
    Add("000001", 1).m_strPaid = ToCodePage(QStringLiteral("一二三四五六"));  // 12 bytes
    Add("000002", 2);
    Open();
    ClickRow(0);
    const struct {
        const char* what;
        int id;
    } operations[] = {
        {"查询", IDC_QUERY},
        {"显示全部", IDC_SHOW_ALL},
        {"删除", IDC_DELETE},
        {"新增", IDC_NEW},
        {"新增相同信息卡", IDC_NEW_SAME_INFO},
        {"延期退卡", IDC_MODE_EXTEND},
        {"全选", IDC_ALL_PORTS},
    };
    for (const auto& op : operations) {
        boxes.clear();
        Type(IDC_QUERY_NAME, QStringLiteral("张"));
        if (op.id == IDC_ALL_PORTS) {
            window->EnableRecordFields();
        }
        Click(op.id);
        EXPECT_EQ(Messages(), QStringList{QStringLiteral("请填入不多于10个的字符。")}) << op.what;
        EXPECT_EQ(Text(IDC_QUERY_NAME), QStringLiteral("张")) << op.what;
        EXPECT_EQ(Listed(), (std::vector<std::string>{"000001", "000002"})) << op.what;
        EXPECT_EQ(app.m_mapCards.GetCount(), 2u) << op.what;
        EXPECT_EQ(Text(IDC_CARD_NO), QStringLiteral("000001")) << op.what;
        EXPECT_EQ(window->m_nMode, 0) << op.what;
        EXPECT_TRUE(Checked(IDC_MODE_ISSUE)) << op.what;
        EXPECT_FALSE(window->m_bNew) << op.what;
    }
}

TEST(RecordDateTest, TextsAndDates) {
    const struct {
        const char* text;
        QDate date;  // null: no valid date
    } cases[] = {
        {"20991231", QDate(2099, 12, 31)},
        {"20240229", QDate(2024, 2, 29)},
        {"20230229", QDate()},
        {"00000000", QDate()},
        {"20241301", QDate()},
        {"2024010", QDate()},
    };
    for (const auto& c : cases) {
        const QDateTime dt = DateFromRecord(c.text);
        EXPECT_EQ(dt.isValid(), c.date.isValid()) << c.text;
        if (c.date.isValid()) {
            EXPECT_EQ(dt, QDateTime(c.date, QTime(0, 0, 0))) << c.text;
            EXPECT_EQ(RecordDate(dt), c.text);
        }
    }
    EXPECT_EQ(RecordDate(QDateTime(QDate(2099, 12, 31), QTime(10, 20, 30))), "20991231");
    EXPECT_EQ(RecordDate(QDateTime(QDate(987, 1, 2), QTime())), "09870102");
}

// Every field that the operator fills in is named for a screen reader by its label.
TEST_F(UserCardWindowTest, EveryFieldCarriesItsLabel) {
    Create();
    int fields = 0;
    for (QWidget* w : window->findChildren<QWidget*>()) {
        if (!qobject_cast<QLineEdit*>(w) && !qobject_cast<QComboBox*>(w) &&
            !qobject_cast<QDateTimeEdit*>(w)) {
            continue;
        }
        if (w->parentWidget() != window.get()) {
            continue;  // the editors inside combos and pickers
        }
        ++fields;
        bool labelled = !w->accessibleName().isEmpty();
        for (QLabel* label : window->findChildren<QLabel*>()) {
            labelled = labelled || label->buddy() == w;
        }
        EXPECT_TRUE(labelled) << w->objectName().toStdString();
    }
    EXPECT_EQ(fields, 26);  // 17 edits (one the quick find), 4 combos, 5 date pickers
}

// The window as the operator sees it with a few dozen holders, one of them loaded.
TEST_F(UserCardWindowTest, FilledWindowScreenshot) {
    FillSampleCards(app.m_mapCards, 36);
    app.m_nMaxNumber = 36;
    Open();
    ASSERT_EQ(Rows(), 36);
    ClickRow(2);
    EXPECT_EQ(Text(IDC_CARD_NO), Cell(2, 2));
    QTest::qWait(50);
    Screenshot(window.get(), "user-card-filled");
}

// Changes that other code commits through the store (a management card reporting a card
// lost, a batch enrolment, an import) show in the open window's list.
TEST_F(UserCardWindowTest, ChangesCommittedElsewhereShowInTheList) {
    for (int n = 1; n <= 4; ++n) {
        Add(CardNoText(n), n).m_strName = "holder" + std::to_string(n);
    }
    Open();
    QAbstractItemModelTester tester(window->m_list.Model(),
                                    QAbstractItemModelTester::FailureReportingMode::Fatal);
    QSignalSpy repainted(window->m_list.Model(), &QAbstractItemModel::dataChanged);
    const auto commit = [&](CCardChange change) {
        std::string error;
        ASSERT_EQ(app.Desk().store.Commit(std::move(change), CommitMode::DeviceDone, error),
                  CommitResult::Durable);
    };

    auto lost = CopyOfCard(*Card("000002"));
    lost->m_nStatus = CARD_LOST;
    CCardChange reportLost(CardOperation::ReportLost, app.m_nMaxNumber);
    reportLost.Put("000002", std::move(lost));
    commit(std::move(reportLost));
    EXPECT_EQ(Cell(1, 1), QStringLiteral("挂失"));
    ASSERT_EQ(repainted.size(), 1);
    EXPECT_EQ(repainted[0][0].value<QModelIndex>().row(), 1);
    EXPECT_TRUE(repainted[0][2].value<QList<int>>().isEmpty());  // its colours as well
    EXPECT_EQ(window->m_list.Model()
                  ->data(window->m_list.Model()->index(1, 2), Qt::BackgroundRole)
                  .value<QBrush>()
                  .color(),
              QColor(30, 100, 90));

    // A batch: two new cards at the top, one removed.
    CCardChange enrol(CardOperation::Enrol, 6);
    enrol.Put("000005", MakeCard("000005", 5));
    enrol.Remove("000003");
    enrol.Put("000006", MakeCard("000006", 6));
    commit(std::move(enrol));
    EXPECT_EQ(Listed(),
              (std::vector<std::string>{"000005", "000006", "000001", "000002", "000004"}));
    EXPECT_EQ(Text(IDC_QUICK_FIND_COUNT), QStringLiteral("共5张"));

    // An import replaces the register: listed anew, by card number.
    CCardMap imported;
    for (const int n : {9, 7, 8}) {
        imported.SetAt(CardNoText(n), MakeCard(CardNoText(n), n));
    }
    WriteFile(dir / "import.kcd", RegisterBytes(imported));
    ASSERT_EQ(app.LoadRegister(dir / "import.kcd"), RegisterLoad::Loaded);
    EXPECT_EQ(Listed(), (std::vector<std::string>{"000007", "000008", "000009"}));
    EXPECT_EQ(Text(IDC_QUICK_FIND_COUNT), QStringLiteral("共3张"));
}

}  // namespace

namespace {

// "操作记录" opens the history for the card in the form; with no card, for every card.
TEST_F(UserCardWindowTest, CardHistoryButtonOpensTheHistoryOfTheFormsCard) {
    Add("000007", 2);
    Create();
    for (const QString& expected : {QString(), QStringLiteral("000007")}) {
        if (!expected.isEmpty()) {
            ClickRow(0);
        }
        QString title;
        QString cardNo;
        EXPECT_TRUE(ClickIntoDialog(IDC_CARD_HISTORY, [&](QWidget& dialog) {
            title = dialog.windowTitle();
            if (auto* edit = FindControl<QLineEdit>(&dialog, HistoryIds::IDC_HISTORY_CARDNO)) {
                cardNo = edit->text();
            }
            static_cast<QDialog&>(dialog).reject();
        }));
        EXPECT_EQ(title, QStringLiteral("操作记录"));
        EXPECT_EQ(cardNo, expected);
    }
    EXPECT_TRUE(boxes.shown().empty());
}

}  // namespace
