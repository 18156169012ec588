// The query panel of the user-card window over one register: each criterion, the date range
// as the pickers hold it, and "显示全部".

#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QGroupBox>
#include <QLineEdit>
#include <QtTest/QTest>

#include <set>

#include "TestUtil.h"
#include "WindowDriver.h"
#include "app/CodePageText.h"
#include "register/Card.h"
#include "ui/UserCardDlg.h"
#include "ui/UserCardIds.h"

namespace {

using namespace UserCardIds;

std::string DateText(const QDate& date) {
    return date.toString(QStringLiteral("yyyyMMdd")).toStdString();
}

class UserCardQueryTest : public UserCardTest {
protected:
    UserCardQueryTest() {
        const QDate today = QDate::currentDate();
        struct Row {
            const char* cardNo;
            const char* name;
            uint8_t status;
            const char* phone;
            const char* house;
            std::string regDate;
        };
        const Row rows[] = {
            {"000012", "Zhang San", CARD_NOT_ISSUED, "13800000001", "1-101", DateText(today)},
            {"000013", "Zhang San Feng", CARD_ISSUED, "13800000002", "1-102", DateText(today)},
            {"000014", "Li Si", CARD_LOST, "13800000003", "1-101", "00000000"},
            {"000015", "Wang Wu", CARD_LOST, "13800000001", "2-201", DateText(today.addDays(-1))},
            {"000016", "Zhao Liu", CARD_ISSUED, "13800000004", "2-202", DateText(today.addDays(1))},
            {"000017", "zhang san", CARD_NOT_ISSUED, "13800000005", "1-101", DateText(today)},
        };
        int number = 0;
        for (const Row& r : rows) {
            CCard& card = Add(r.cardNo, ++number, r.status);
            card.m_strName = r.name;
            card.m_strPhone = r.phone;
            card.m_strHouseNo = r.house;
            card.m_strRegDate = r.regDate;
        }
        Open();
    }
};

TEST_F(UserCardQueryTest, Criteria) {
    const QDate today = QDate::currentDate();
    struct Case {
        const char* what;
        const char* cardNo;
        const char* name;
        int status;  // combo index, -1 none
        const char* phone;
        const char* house;
        int fromDays;  // from and to, in days from today
        int toDays;
        std::set<std::string> expected;
    };
    const Case cases[] = {
        {"today, nothing else", "", "", -1, "", "", 0, 0, {"000012", "000013", "000017"}},
        {"card number", "000012", "", -1, "", "", 0, 0, {"000012"}},
        {"card number is whole text", "12", "", -1, "", "", 0, 0, {}},
        {"name", "", "Zhang San", -1, "", "", 0, 0, {"000012"}},
        {"name is whole text", "", "Zhang", -1, "", "", 0, 0, {}},
        {"name as stored", "", "zhang san", -1, "", "", 0, 0, {"000017"}},
        {"status", "", "", 1, "", "", -1, 1, {"000013", "000016"}},
        {"lost", "", "", 2, "", "", -1, 1, {"000015"}},
        {"phone", "", "", -1, "13800000001", "", -1, 1, {"000012", "000015"}},
        {"house number", "", "", -1, "", "1-101", -1, 1, {"000012", "000017"}},
        {"all together", "", "Wang Wu", 2, "13800000001", "2-201", -1, 0, {"000015"}},
        {"range", "", "", -1, "", "", -1, 1, {"000012", "000013", "000015", "000016", "000017"}},
        {"range excludes both sides", "", "", -1, "", "", -2, -2, {}},
        {"from after to", "", "", -1, "", "", 1, 0, {}},
    };
    for (const Case& c : cases) {
        Type(IDC_QUERY_CARD_NO, c.cardNo);
        Type(IDC_QUERY_NAME, c.name);
        Control<QComboBox>(IDC_QUERY_STATUS)->setCurrentIndex(c.status);
        Type(IDC_QUERY_PHONE, c.phone);
        Type(IDC_QUERY_HOUSE_NO, c.house);
        Picker(IDC_QUERY_FROM)->setDate(today.addDays(c.fromDays));
        Picker(IDC_QUERY_TO)->setDate(today.addDays(c.toDays));
        Click(IDC_QUERY);
        EXPECT_EQ(Listed(), InRegisterOrder(c.expected)) << c.what;
        EXPECT_TRUE(boxes.shown().empty()) << c.what;
    }
}

TEST_F(UserCardQueryTest, StatusFilterGoesBackToAnyStatus) {
    auto* combo = Control<QComboBox>(IDC_QUERY_STATUS);
    const std::set<std::string> today = {"000012", "000013", "000017"};
    const auto query = [&] {
        Click(IDC_QUERY);
        const std::vector<std::string> listed = Listed();
        return std::set<std::string>(listed.begin(), listed.end());
    };
    // Chosen from the list, as the operator does with the drop-down.
    combo->showPopup();
    QTest::keyClick(combo->view(), Qt::Key_Down);
    QTest::keyClick(combo->view(), Qt::Key_Return);
    EXPECT_EQ(combo->currentIndex(), 1);
    EXPECT_EQ(query(), (std::set<std::string>{"000013"}));
    // Emptying the text means any status again.
    Type(IDC_QUERY_STATUS, QString());
    EXPECT_EQ(combo->currentIndex(), -1);
    EXPECT_EQ(query(), today);
    // An entry's text typed in chooses it; any other text chooses none and is never added.
    Type(IDC_QUERY_STATUS, QStringLiteral("未发行"));
    EXPECT_EQ(combo->currentIndex(), 0);
    EXPECT_EQ(query(), (std::set<std::string>{"000012", "000017"}));
    Type(IDC_QUERY_STATUS, QStringLiteral("作废"));
    PressEnter(IDC_QUERY_STATUS);
    EXPECT_EQ(combo->count(), 3);
    EXPECT_EQ(combo->currentIndex(), -1);
    EXPECT_EQ(query(), today);
    EXPECT_TRUE(boxes.shown().empty());
}

TEST_F(UserCardQueryTest, TimeOfDayOfThePickersCounts) {
    const QDate today = QDate::currentDate();
    Picker(IDC_QUERY_FROM)->setDateTime(QDateTime(today, QTime(23, 0)));
    Picker(IDC_QUERY_TO)->setDateTime(QDateTime(today, QTime(8, 0)));
    Click(IDC_QUERY);
    EXPECT_TRUE(Listed().empty());
    Picker(IDC_QUERY_FROM)->setDateTime(QDateTime(today, QTime(8, 0)));
    Click(IDC_QUERY);
    EXPECT_EQ(Listed(), InRegisterOrder({"000012", "000013", "000017"}));

    // As the window opens, the range is today's.
    Create();
    Click(IDC_QUERY);
    EXPECT_EQ(Listed(), InRegisterOrder({"000012", "000013", "000017"}));
}

TEST_F(UserCardQueryTest, ShowAllAfterAQuery) {
    Type(IDC_QUERY_CARD_NO, "000012");
    Click(IDC_QUERY);
    ASSERT_EQ(Listed(), std::vector<std::string>{"000012"});

    // A card that the query left out is saved without a row appearing.
    app.m_mapCards.Lookup("000013")->m_strPassword = "1111111111";
    window->m_strPassword = "1111111111";
    Click(IDC_EDIT);
    Type(IDC_CARD_NO, QStringLiteral("000013"));
    Type(IDC_NAME, QStringLiteral("changed"));
    AnswerNext(QMessageBox::Yes);
    Click(IDC_SAVE);
    EXPECT_EQ(app.m_mapCards.Lookup("000013")->m_strName, "changed");
    EXPECT_EQ(Listed(), std::vector<std::string>{"000012"});

    Click(IDC_SHOW_ALL);
    EXPECT_EQ(Listed(), InRegisterOrder());
    EXPECT_EQ(Text(IDC_QUERY_CARD_NO), QStringLiteral("000012"));
    for (int row = 0; row < Rows(); ++row) {
        if (Cell(row, 2) == QStringLiteral("000013")) {
            EXPECT_EQ(Cell(row, 6), QStringLiteral("changed"));
        }
    }
}

TEST_F(UserCardQueryTest, EmptyRegister) {
    app.m_mapCards.RemoveAll();
    Click(IDC_QUERY);
    EXPECT_TRUE(Listed().empty());
    Click(IDC_SHOW_ALL);
    EXPECT_TRUE(Listed().empty());
}

// "快速查找:" over five holders; two of them registered today, so that "查询" lists those.
class QuickFindTest : public UserCardTest {
protected:
    QuickFindTest() {
        const std::string today = DateText(QDate::currentDate());
        struct Holder {
            const char* cardNo;
            QString name;
            QString house;
            const char* phone;
            const char* idNo;
            bool today;
        };
        const Holder holders[] = {
            {"000101", "赵一", "3栋2单元501", "13912345678", "110101199001011234", true},
            {"000102", "赵一鸣", "5栋1单元101", "13698765432", "220202198505054321", false},
            {"000203", "钱二", "3栋1单元302", "13755556666", "330303197001010011", true},
            {"000204", "Sun Li", "A-12", "13544447777", "44040419990101777x", false},
            // The second byte of "卆" in GB18030 is the letter 'a'.
            {"000305", "卆", "B-1", "13322228888", "550505200001018888", false},
        };
        int number = 0;
        for (const Holder& h : holders) {
            CCard& card = Add(h.cardNo, ++number);
            card.m_strName = ToCodePage(h.name);
            card.m_strHouseNo = ToCodePage(h.house);
            card.m_strPhone = h.phone;
            card.m_strIdNo = h.idNo;
            card.m_strRegDate = h.today ? today : "20200101";
        }
        Open();
        find = Control<QLineEdit>(IDC_QUICK_FIND);
    }
    // Typed at the end of the field: keys where there are keys, input-method text for the
    // Chinese characters.
    void TypeOn(const QString& text) {
        find->setFocus();
        for (const QChar c : text) {
            if (c.unicode() < 0x80) {
                QTest::keyClicks(find, QString(c));
            } else {
                find->insert(QString(c));
            }
        }
    }
    void Clear() {
        find->setFocus();
        QTest::keyClick(find, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(find, Qt::Key_Backspace);
    }
    QString Count() const { return Text(IDC_QUICK_FIND_COUNT); }

    QLineEdit* find = nullptr;
};

TEST_F(QuickFindTest, FindsPartsOfTheCardFields) {
    QAbstractItemModelTester tester(window->m_list.Model(),
                                    QAbstractItemModelTester::FailureReportingMode::Fatal);
    const std::vector<std::string> all = {"000101", "000102", "000203", "000204", "000305"};
    ASSERT_EQ(Listed(), all);
    EXPECT_EQ(Count(), QStringLiteral("共5张"));
    const struct {
        const char* what;
        QString typed;
        std::vector<std::string> expected;
    } cases[] = {
        {"card number part", "0002", {"000203", "000204"}},
        {"name part", "赵一", {"000101", "000102"}},
        {"house number part", "3栋", {"000101", "000203"}},
        {"phone part", "5555", {"000203"}},
        {"identity number part", "19990101", {"000204"}},
        {"Latin letters in either case", "sUN lI", {"000204"}},
        {"identity number letter", "777X", {"000204"}},
        {"a letter is no half of a Chinese character", "a", {"000204"}},
        {"nothing", "zzz", {}},
        {"empty", "", all},
    };
    for (const auto& c : cases) {
        Clear();
        TypeOn(c.typed);
        EXPECT_EQ(find->text(), c.typed) << c.what;
        EXPECT_EQ(Listed(), c.expected) << c.what;
        EXPECT_EQ(Count(), QStringLiteral("共%1张").arg(c.expected.size())) << c.what;
    }
    // As the operator types on, and back.
    Clear();
    const struct {
        const char* key;
        std::vector<std::string> expected;
    } steps[] = {{"1", all},
                 {"3", {"000101", "000102", "000203", "000204", "000305"}},
                 {"9", {"000101"}},
                 {"\b", {"000101", "000102", "000203", "000204", "000305"}},
                 {"7", {"000203"}}};
    for (const auto& step : steps) {
        if (step.key[0] == '\b') {
            QTest::keyClick(find, Qt::Key_Backspace);
        } else {
            QTest::keyClicks(find, QString::fromLatin1(step.key));
        }
        EXPECT_EQ(Listed(), step.expected) << find->text().toStdString();
    }
    EXPECT_TRUE(boxes.shown().empty());
}

TEST_F(QuickFindTest, AnEmptyFieldShowsTheRowsOfTheLastQuery) {
    Click(IDC_QUERY);  // registered today
    ASSERT_EQ(Listed(), (std::vector<std::string>{"000101", "000203"}));
    EXPECT_EQ(Count(), QStringLiteral("共2张"));
    TypeOn(QStringLiteral("赵"));
    EXPECT_EQ(Listed(), std::vector<std::string>{"000101"});
    EXPECT_EQ(Count(), QStringLiteral("共1张"));
    Clear();
    EXPECT_EQ(Listed(), (std::vector<std::string>{"000101", "000203"}));
    EXPECT_EQ(Count(), QStringLiteral("共2张"));

    // A query while text is typed lists what it finds, narrowed by that text.
    TypeOn(QStringLiteral("3栋"));
    Click(IDC_SHOW_ALL);
    EXPECT_EQ(Listed(), InRegisterOrder({"000101", "000203"}));
    Clear();
    EXPECT_EQ(Listed(), InRegisterOrder());
    EXPECT_EQ(Count(), QStringLiteral("共5张"));
}

TEST_F(QuickFindTest, TheQuickFindCoversNothingAndSitsAboveTheList) {
    window->resize(1280, 760);
    QApplication::processEvents();
    const QRect findRect = find->geometry();
    const QRect list = window->m_list.geometry();
    EXPECT_LT(findRect.bottom(), list.top());
    EXPECT_EQ(Text(IDC_QUICK_FIND_COUNT), QStringLiteral("共5张"));
    for (QWidget* w : window->findChildren<QWidget*>()) {
        if (w->parentWidget() != window.get() || !w->isVisible() || w == find ||
            qobject_cast<QGroupBox*>(w) != nullptr) {
            continue;
        }
        for (QWidget* mine : {static_cast<QWidget*>(find), Control(IDC_QUICK_FIND_COUNT)}) {
            if (w != mine) {
                EXPECT_FALSE(w->geometry().intersects(mine->geometry()))
                    << w->objectName().toStdString() << " / " << mine->objectName().toStdString();
            }
        }
        EXPECT_FALSE(w != &window->m_list && w->geometry().intersects(list))
            << w->objectName().toStdString();
    }
}

}  // namespace
