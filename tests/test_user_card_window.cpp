// The user-card window's layout, opening state, card list and mode switching.

#include <gtest/gtest.h>

#include <QComboBox>
#include <QDateTimeEdit>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QtTest/QTest>

#include "GuiTestUtil.h"
#include "TestUtil.h"
#include "app/CodePageText.h"
#include "app/MessageBox.h"
#include "app/OrvaneApp.h"
#include "bench/SampleCards.h"
#include "ui/RecordDate.h"
#include "ui/UserCardDlg.h"
#include "ui/UserCardIds.h"

namespace {

using namespace UserCardIds;

class UserCardWindowTest : public ::testing::Test {
protected:
    UserCardWindowTest() { app.m_strAppDir = dir.path(); }
    void Add(const char* key, int number, uint8_t status = 0) {
        auto card = MakeCard(key, number);
        card->m_nStatus = status;
        app.m_mapCards.SetAt(key, std::move(card));
        app.m_nMaxNumber = std::max<uint32_t>(app.m_nMaxNumber, static_cast<uint32_t>(number));
    }
    TempDir dir;
    Msg::Recorder boxes;
    COrvaneApp app{dir.path()};
};

TEST_F(UserCardWindowTest, EmptyRegisterOpensEmpty) {
    CUserCardDlg window;
    EXPECT_EQ(window.windowTitle(), QStringLiteral("发卡"));
    EXPECT_EQ(window.m_list.GetItemCount(), 0);
    EXPECT_EQ(static_cast<QLineEdit*>(window.Control(IDC_NUMBER))->text(), QStringLiteral("1"));
    EXPECT_EQ(window.m_list.Model()->columnCount(), 12);
    EXPECT_EQ(window.m_list.m_ctlHeader.m_strAlign, QStringLiteral("111111111111"));
    EXPECT_TRUE(boxes.shown().empty());
}

TEST_F(UserCardWindowTest, ListInCardNumberOrderThenTheOtherKeys) {
    Add("000007", 2);
    Add("000003", 5, CARD_LOST);
    Add("000000", 3);
    Add("ABC", 4, 7);  // a key brought in by an import, a status without text
    CUserCardDlg window;
    ASSERT_EQ(window.m_list.GetItemCount(), 4);
    EXPECT_EQ(window.m_list.GetItemText(0, 2), QStringLiteral("000003"));
    EXPECT_EQ(window.m_list.GetItemText(1, 2), QStringLiteral("000007"));
    const QString last2 = window.m_list.GetItemText(2, 2) + window.m_list.GetItemText(3, 2);
    EXPECT_TRUE(last2 == QStringLiteral("000000ABC") || last2 == QStringLiteral("ABC000000"));
    EXPECT_EQ(window.m_list.GetItemText(0, 0), QStringLiteral("5"));
    EXPECT_EQ(window.m_list.GetItemText(0, 1), QStringLiteral("挂失"));
    EXPECT_EQ(window.m_list.GetItemText(0, 3), QStringLiteral("免费卡"));
    EXPECT_EQ(window.m_list.GetItemText(0, 4), QStringLiteral("00000000"));
    EXPECT_EQ(window.m_list.GetItemText(0, 5), QStringLiteral("00000000"));
    for (int row = 2; row < 4; ++row) {
        if (window.m_list.GetItemText(row, 2) == QStringLiteral("ABC")) {
            EXPECT_EQ(window.m_list.GetItemText(row, 1), QStringLiteral("7"));
        }
    }
    EXPECT_EQ(static_cast<QLineEdit*>(window.Control(IDC_NUMBER))->text(), QStringLiteral("6"));
}

TEST_F(UserCardWindowTest, OpeningStateAndModes) {
    auto window = std::make_unique<CUserCardDlg>();
    window->show();
    EXPECT_EQ(app.m_hReplyWnd.data(), window.get());
    EXPECT_EQ(window->m_nMode, 0);
    EXPECT_TRUE(static_cast<QRadioButton*>(window->Control(IDC_MODE_ISSUE))->isChecked());
    const auto enabled = [&](int id) { return window->Control(id)->isEnabled(); };
    for (const int id : {IDC_NEW, IDC_EDIT, IDC_DELETE, IDC_CANCEL, IDC_ISSUE_CARD, IDC_AUTO_NUMBER,
                         IDC_NEW_SAME_INFO, IDC_QUERY, IDC_SHOW_ALL, IDC_IMPORT, IDC_EXPORT,
                         IDC_EXPORT_EXCEL, IDC_CARD_LIST}) {
        EXPECT_TRUE(enabled(id)) << id;
    }
    for (const int id : {IDC_SAVE, IDC_PASSWORD, IDC_NAME, IDC_CARD_NO, IDC_CARD_TYPE,
                         IDC_VALID_DATE, IdcPort(1), IdcPort(16), IDC_ALL_PORTS, IDC_READ_CARD,
                         IDC_EXTEND, IDC_EXTEND_DATE, IDC_EXTEND_FEE, IDC_EXTEND_DATE_LABEL,
                         IDC_EXTEND_FEE_LABEL, IDC_EXTEND_FEE_UNIT, IDC_NUMBER, IDC_STATUS}) {
        EXPECT_FALSE(enabled(id)) << id;
    }
    EXPECT_FALSE(window->Control(IDC_RETURN_CARD)->isVisibleTo(window.get()));
    EXPECT_FALSE(window->Control(IDC_EXTEND_WITHOUT_CARD)->isVisibleTo(window.get()));
    EXPECT_FALSE(window->Control(IDC_SEX)->isVisibleTo(window.get()));
    const QDate today = QDate::currentDate();
    for (const int id : {IDC_REG_DATE, IDC_EXTEND_DATE, IDC_QUERY_FROM, IDC_QUERY_TO}) {
        EXPECT_EQ(static_cast<QDateTimeEdit*>(window->Control(id))->date(), today) << id;
    }
    EXPECT_EQ(static_cast<QDateTimeEdit*>(window->Control(IDC_VALID_DATE))->date(),
              QDate(2099, 12, 31));
    EXPECT_EQ(window->m_dateValid, QDateTime(QDate(2099, 12, 31), QTime(10, 20, 30)));

    QTest::mouseClick(window->Control(IDC_MODE_EXTEND), Qt::LeftButton, {}, QPoint(4, 4));
    EXPECT_EQ(window->m_nMode, 1);
    for (const int id :
         {IDC_READ_CARD, IDC_EXTEND, IDC_EXTEND_DATE, IDC_EXTEND_FEE, IDC_EXTEND_DATE_LABEL}) {
        EXPECT_TRUE(enabled(id)) << id;
    }
    for (const int id : {IDC_NEW, IDC_EDIT, IDC_DELETE, IDC_SAVE, IDC_CANCEL, IDC_ISSUE_CARD,
                         IDC_AUTO_NUMBER, IDC_NAME}) {
        EXPECT_FALSE(enabled(id)) << id;
    }
    QTest::mouseClick(window->Control(IDC_MODE_ISSUE), Qt::LeftButton, {}, QPoint(4, 4));
    EXPECT_EQ(window->m_nMode, 0);
    EXPECT_TRUE(enabled(IDC_NEW));
    EXPECT_FALSE(enabled(IDC_SAVE));  // 保存 stays disabled
    EXPECT_FALSE(enabled(IDC_NAME));  // and so do the record fields
    EXPECT_FALSE(enabled(IDC_READ_CARD));

    window->resize(1280, 760);
    Screenshot(window.get(), "user-card");
    window.reset();
    EXPECT_EQ(app.m_hReplyWnd.data(), nullptr);
}

TEST_F(UserCardWindowTest, TypingStopsAtTheByteLimits) {
    CUserCardDlg window;
    window.show();
    window.EnableRecordFields();
    const auto edit = [&](int id) { return static_cast<QLineEdit*>(window.Control(id)); };
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
        TypeInto(edit(c.id), c.typed);
        EXPECT_EQ(edit(c.id)->text(), c.kept) << c.id << " " << c.typed.toStdString();
    }
    // A paste is cut to what fits, at the cursor.
    edit(IDC_CARD_NO)->setText(QStringLiteral("12"));
    edit(IDC_CARD_NO)->setCursorPosition(1);
    edit(IDC_CARD_NO)->insert(QStringLiteral("abcdefg"));
    EXPECT_EQ(edit(IDC_CARD_NO)->text(), QStringLiteral("1abcd2"));
    EXPECT_EQ(edit(IDC_CARD_NO)->cursorPosition(), 5);
    // The extension's payment, enabled as in mode "延期退卡".
    window.Control(IDC_EXTEND_FEE)->setEnabled(true);
    TypeInto(edit(IDC_EXTEND_FEE), QStringLiteral("99999999999"));
    EXPECT_EQ(edit(IDC_EXTEND_FEE)->text(), QStringLiteral("9999999999"));
    EXPECT_TRUE(boxes.shown().empty());
}

TEST_F(UserCardWindowTest, ALongerStoredTextIsShownWholeAndStopsTheExchange) {
    auto card = MakeCard("000001", 1);
    card->m_strPaid = ToCodePage(QStringLiteral("一二三四五六"));  // 12 bytes, from an import
    app.m_mapCards.SetAt("000001", std::move(card));
    CUserCardDlg window;
    window.show();
    ClickListRow(window.m_list, 0);
    auto* paid = static_cast<QLineEdit*>(window.Control(IDC_PAID));
    EXPECT_EQ(paid->text(), QStringLiteral("一二三四五六"));
    EXPECT_FALSE(window.UpdateData(true));
    ASSERT_EQ(boxes.shown().size(), 1u);
    EXPECT_EQ(boxes.shown()[0].text, QStringLiteral("请填入不多于10个的字符。"));
    EXPECT_EQ(window.m_strPaid, app.m_mapCards.Lookup("000001")->m_strPaid);  // as loaded
    // The operator can shorten it, not lengthen it.
    window.EnableRecordFields();
    paid->setFocus();
    paid->setCursorPosition(6);
    QTest::keyClicks(paid, QStringLiteral("7"));
    EXPECT_EQ(paid->text(), QStringLiteral("一二三四五六"));
    QTest::keyClick(paid, Qt::Key_Backspace);
    EXPECT_EQ(paid->text(), QStringLiteral("一二三四五"));
    EXPECT_TRUE(window.UpdateData(true));
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
    CUserCardDlg window;
    int fields = 0;
    for (QWidget* w : window.findChildren<QWidget*>()) {
        if (!qobject_cast<QLineEdit*>(w) && !qobject_cast<QComboBox*>(w) &&
            !qobject_cast<QDateTimeEdit*>(w)) {
            continue;
        }
        if (w->parentWidget() != &window) {
            continue;  // the editors inside combos and pickers
        }
        ++fields;
        bool labelled = !w->accessibleName().isEmpty();
        for (QLabel* label : window.findChildren<QLabel*>()) {
            labelled = labelled || label->buddy() == w;
        }
        EXPECT_TRUE(labelled) << w->objectName().toStdString();
    }
    EXPECT_EQ(fields, 25);  // 16 edits, 4 combos, 5 date pickers
}

// The window as the operator sees it with a few dozen holders, one of them loaded.
TEST_F(UserCardWindowTest, FilledWindowScreenshot) {
    FillSampleCards(app.m_mapCards, 36);
    app.m_nMaxNumber = 36;
    CUserCardDlg window;
    window.show();
    ASSERT_EQ(window.m_list.GetItemCount(), 36);
    const QModelIndex third = window.m_list.Model()->index(2, 2);
    QTest::mouseClick(window.m_list.viewport(), Qt::LeftButton, {},
                      window.m_list.visualRect(third).center());
    EXPECT_EQ(static_cast<QLineEdit*>(window.Control(IDC_CARD_NO))->text(),
              window.m_list.GetItemText(2, 2));
    QTest::qWait(50);
    Screenshot(&window, "user-card-filled");
}

}  // namespace
