// Entering, changing, deleting and copying card records in the user-card window, driven with
// mouse clicks and typing under the offscreen platform.

#include <gtest/gtest.h>

#include <QAccessibleActionInterface>
#include <QApplication>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest/QTest>

#include <unistd.h>

#include <algorithm>

#include "GuiTestUtil.h"
#include "TestUtil.h"
#include "WindowDriver.h"
#include "app/CodePageText.h"
#include "app/MainFrm.h"
#include "app/PasswordDlg.h"
#include "app/PasswordIds.h"
#include "register/Card.h"
#include "register/CardFields.h"
#include "register/RegisterFile.h"
#include "ui/CardWindows.h"
#include "ui/ListCtrlCl.h"
#include "ui/UserCardDlg.h"
#include "ui/UserCardIds.h"

namespace {

using namespace UserCardIds;

const char* kPassword = "5820463917";

class EditingTest : public UserCardTest {
protected:
    CCard& Add(const std::string& key, int number, uint8_t status = CARD_NOT_ISSUED) {
        CCard& card = UserCardTest::Add(key, number, status);
        card.m_strPassword = "1111111111";
        card.m_strValidDate = "20301231";
        card.m_strRegDate = "20240105";
        return card;
    }
    void Open() { UserCardTest::Open(QSize(1280, 800)); }
    // "密码": the dialog opens over the window and the operator types the password.
    void EnterPassword(const QString& password) {
        EXPECT_TRUE(ClickIntoDialog(IDC_PASSWORD, [&](QWidget& dialog) {
            ASSERT_NE(qobject_cast<CPasswordDlg*>(&dialog), nullptr);
            Type(PasswordIds::IDC_PASSWORD, password);
            ClickButton(QStringLiteral("确认"));
        }));
    }
    // "新增", then the card number (unless empty), the holder's name and the password.
    void NewCard(const QString& cardNo, const QString& name) {
        Click(IDC_NEW);
        if (!cardNo.isEmpty()) {
            Type(IDC_CARD_NO, cardNo);
        }
        Type(IDC_NAME, name);
        EnterPassword(QString::fromLatin1(kPassword));
    }
};

TEST_F(EditingTest, AutomaticCardNumbersFillTheGaps) {
    Add("000001", 1);
    Add("000002", 2);
    Add("000004", 3);
    Open();
    Click(IDC_AUTO_NUMBER);  // 新增卡号自动生成
    Click(IDC_NEW);
    EXPECT_EQ(Text(IDC_CARD_NO), QStringLiteral("000003"));
    EXPECT_EQ(Text(IDC_NUMBER), QStringLiteral("4"));
    EXPECT_TRUE(window->m_bNew);
    for (const int id : {IDC_SAVE, IDC_PASSWORD, IDC_NAME, IDC_CARD_NO, IDC_CARD_TYPE,
                         IDC_VALID_DATE, IdcPort(1), IDC_ALL_PORTS}) {
        EXPECT_TRUE(Enabled(id)) << id;
    }
    Type(IDC_NAME, QStringLiteral("张三"));
    EnterPassword(QString::fromLatin1(kPassword));
    Click(IDC_SAVE);
    EXPECT_TRUE(Messages().isEmpty()) << Messages().join('|').toStdString();
    const CCard* card = Card("000003");
    ASSERT_NE(card, nullptr);
    EXPECT_EQ(card->m_nNumber, 4);
    EXPECT_EQ(card->m_strPassword, kPassword);
    EXPECT_EQ(FromCodePage(card->m_strName), QStringLiteral("张三"));
    EXPECT_EQ(Cell(0, 2), QStringLiteral("000003"));
    EXPECT_EQ(Cell(0, 0), QStringLiteral("4"));
    EXPECT_EQ(Cell(0, 6), QStringLiteral("张三"));
    EXPECT_FALSE(window->m_bNew);
    EXPECT_FALSE(Enabled(IDC_SAVE));
    EXPECT_FALSE(Enabled(IDC_NAME));
    EXPECT_EQ(Text(IDC_NAME), QStringLiteral("张三"));  // the form keeps showing the saved card

    Click(IDC_NEW);
    EXPECT_EQ(Text(IDC_CARD_NO), QStringLiteral("000005"));
    EXPECT_EQ(Text(IDC_NUMBER), QStringLiteral("5"));
    EXPECT_TRUE(Text(IDC_NAME).isEmpty());
}

TEST_F(EditingTest, NewWithoutAutomaticNumberAndTheFormDefaults) {
    Add("000007", 41);
    Open();
    ClickRow(0);
    EXPECT_EQ(Text(IDC_CARD_NO), QStringLiteral("000007"));
    Click(IDC_NEW);
    EXPECT_TRUE(Text(IDC_CARD_NO).isEmpty());
    EXPECT_EQ(Text(IDC_NUMBER), QStringLiteral("42"));
    EXPECT_EQ(Picker(IDC_VALID_DATE)->date(), QDate(2099, 12, 31));
    EXPECT_EQ(Picker(IDC_REG_DATE)->date(), QDate::currentDate());
    EXPECT_EQ(Text(IDC_CARD_TYPE), QStringLiteral("免费卡"));
    EXPECT_EQ(Text(IDC_STATUS), QStringLiteral("未发行"));
    for (int port = 1; port <= 16; ++port) {
        EXPECT_FALSE(Checked(IdcPort(port))) << port;
    }
    // The password of the card last loaded stays the working password.
    Type(IDC_CARD_NO, QStringLiteral("000123"));
    Click(IDC_SAVE);
    EXPECT_TRUE(Messages().isEmpty());
    ASSERT_NE(Card("000123"), nullptr);
    EXPECT_EQ(Card("000123")->m_nNumber, 42);
    EXPECT_EQ(Card("000123")->m_strPassword, "1111111111");
    EXPECT_EQ(Card("000123")->m_strValidDate, "20991231");
    EXPECT_EQ(Card("000123")->m_strRegDate,
              QDate::currentDate().toString("yyyyMMdd").toStdString());
    EXPECT_EQ(app.m_nMaxNumber, 42u);
    EXPECT_EQ(Cell(0, 2), QStringLiteral("000123"));
    EXPECT_EQ(Cell(1, 2), QStringLiteral("000007"));
}

TEST_F(EditingTest, SaveChecksInOrder) {
    struct Case {
        const char* cardNo;
        const char* password;  // nullptr: never set in this window
        const char* paid;
        const char* monthFee;
        const char* yearFee;
        const char* message;  // nullptr: stored
        int focus;
    };
    const Case cases[] = {
        {"00012", kPassword, "", "", "", "卡号输入6个数字!", IDC_CARD_NO},
        {"00012a", kPassword, "", "", "", "卡号输入6个数字!", IDC_CARD_NO},
        {"", kPassword, "", "", "", "卡号输入6个数字!", IDC_CARD_NO},
        {"000012", nullptr, "", "", "", "密码输入10个数字!", 0},
        {"000012", kPassword, "0.5", "", "", "输入正确金额格式!", IDC_PAID},
        {"000012", kPassword, ".5", "", "", "输入正确金额格式!", IDC_PAID},
        {"000012", kPassword, "", "5.", "", "输入正确金额格式!", IDC_MONTH_FEE},
        {"000012", kPassword, "", "", "1.2.3", "输入正确金额格式!", IDC_YEAR_FEE},
        {"000012", kPassword, "12.5", "100", "1200", nullptr, 0},
        {"000012", kPassword, "", "", "", nullptr, 0},
    };
    for (const Case& c : cases) {
        app.m_mapCards.RemoveAll();
        boxes.clear();
        Open();
        Click(IDC_NEW);
        Type(IDC_CARD_NO, QString::fromLatin1(c.cardNo));
        Type(IDC_PAID, QString::fromLatin1(c.paid));
        Type(IDC_MONTH_FEE, QString::fromLatin1(c.monthFee));
        Type(IDC_YEAR_FEE, QString::fromLatin1(c.yearFee));
        if (c.password != nullptr) {
            EnterPassword(QString::fromLatin1(c.password));
        }
        Click(IDC_SAVE);
        const std::string label = std::string(c.cardNo) + "/" + c.paid + "/" + c.monthFee + "/" +
                                  c.yearFee + (c.password ? "" : "/no password");
        if (c.message == nullptr) {
            EXPECT_TRUE(Messages().isEmpty()) << label;
            ASSERT_NE(Card("000012"), nullptr) << label;
            EXPECT_EQ(Card("000012")->m_strPaid, c.paid);
            EXPECT_EQ(Card("000012")->m_strMonthFee, c.monthFee);
            EXPECT_EQ(Card("000012")->m_strYearFee, c.yearFee);
            EXPECT_FALSE(window->m_bNew) << label;
            continue;
        }
        ASSERT_EQ(Messages().size(), 1) << label;
        EXPECT_EQ(Messages()[0], QString::fromUtf8(c.message)) << label;
        EXPECT_EQ(boxes.shown()[0].icon, QMessageBox::NoIcon);
        EXPECT_EQ(boxes.shown()[0].buttons, QMessageBox::Ok);
        EXPECT_TRUE(app.m_mapCards.IsEmpty()) << label;
        EXPECT_EQ(Rows(), 0) << label;
        EXPECT_TRUE(window->m_bNew) << label;
        EXPECT_TRUE(Enabled(IDC_SAVE)) << label;
        if (c.focus != 0) {
            EXPECT_EQ(window->focusWidget(), Control(c.focus)) << label;
        }
    }
}

TEST_F(EditingTest, ExistingNumberIsOverwrittenOnlyAfterYes) {
    Add("000002", 2).m_strName = "old";
    Add("000005", 5);
    Open();
    NewCard(QStringLiteral("000002"), QStringLiteral("李四"));
    AnswerNext(QMessageBox::No);
    Click(IDC_SAVE);
    ASSERT_EQ(boxes.shown().size(), 1u);
    EXPECT_EQ(boxes.shown()[0].text, QStringLiteral("确认保存已存在卡号?"));
    EXPECT_EQ(boxes.shown()[0].caption, QStringLiteral("清空"));
    EXPECT_EQ(boxes.shown()[0].icon, QMessageBox::Question);
    EXPECT_EQ(boxes.shown()[0].buttons, QMessageBox::Yes | QMessageBox::No);
    EXPECT_EQ(Card("000002")->m_strName, "old");
    EXPECT_TRUE(window->m_bNew);
    EXPECT_EQ(Text(IDC_NAME), QStringLiteral("李四"));

    AnswerNext(QMessageBox::Yes);
    Click(IDC_SAVE);
    EXPECT_EQ(boxes.shown().size(), 2u);
    EXPECT_EQ(FromCodePage(Card("000002")->m_strName), QStringLiteral("李四"));
    EXPECT_EQ(Card("000002")->m_nNumber, 2);
    EXPECT_EQ(app.m_nMaxNumber, 5u);
    EXPECT_EQ(app.m_mapCards.GetCount(), 2u);
    ASSERT_EQ(Rows(), 2);
    EXPECT_EQ(Cell(0, 2), QStringLiteral("000002"));
    EXPECT_EQ(Cell(0, 0), QStringLiteral("2"));
    EXPECT_EQ(Cell(0, 6), QStringLiteral("李四"));
    EXPECT_EQ(Text(IDC_NUMBER), QStringLiteral("2"));
    EXPECT_FALSE(window->m_bNew);
}

TEST_F(EditingTest, EditingWithAChangedNumberCreatesASecondCard) {
    Add("000002", 2).m_strName = "A";
    Open();
    ClickRow(0);
    Click(IDC_EDIT);
    EXPECT_TRUE(window->m_bEdit);
    EXPECT_TRUE(Enabled(IDC_CARD_NO));
    EXPECT_EQ(Text(IDC_CARD_NO), QStringLiteral("000002"));
    Type(IDC_CARD_NO, QStringLiteral("000010"));
    Click(IDC_SAVE);
    EXPECT_TRUE(Messages().isEmpty());
    ASSERT_NE(Card("000010"), nullptr);
    EXPECT_EQ(Card("000010")->m_nNumber, 3);
    EXPECT_EQ(Card("000010")->m_strName, "A");
    EXPECT_EQ(Card("000010")->m_strPassword, "1111111111");
    EXPECT_NE(Card("000002"), nullptr);
    ASSERT_EQ(Rows(), 2);
    EXPECT_EQ(Cell(0, 2), QStringLiteral("000010"));
    EXPECT_FALSE(window->m_bEdit);
}

TEST_F(EditingTest, NewStopsWhenThePendingCardCannotBeSaved) {
    Add("000002", 2);
    Open();
    // A check fails: the message, and the typed card stays in the form.
    Click(IDC_NEW);
    Type(IDC_CARD_NO, QStringLiteral("12"));
    Type(IDC_NAME, QStringLiteral("王五"));
    Click(IDC_NEW);
    EXPECT_EQ(Messages(), QStringList{QStringLiteral("卡号输入6个数字!")});
    EXPECT_EQ(Text(IDC_CARD_NO), QStringLiteral("12"));
    EXPECT_EQ(Text(IDC_NAME), QStringLiteral("王五"));
    EXPECT_TRUE(window->m_bNew);

    // The operator answers No to overwriting: the form stays as well.
    Type(IDC_CARD_NO, QStringLiteral("000002"));
    EnterPassword(QString::fromLatin1(kPassword));
    AnswerNext(QMessageBox::No);
    Click(IDC_NEW);
    EXPECT_EQ(Messages().last(), QStringLiteral("确认保存已存在卡号?"));
    EXPECT_EQ(Text(IDC_NAME), QStringLiteral("王五"));
    EXPECT_EQ(app.m_mapCards.GetCount(), 1u);

    // A pending card that can be saved is saved, and the form starts afresh.
    Type(IDC_CARD_NO, QStringLiteral("000003"));
    boxes.clear();
    Click(IDC_NEW);
    EXPECT_TRUE(Messages().isEmpty());
    ASSERT_NE(Card("000003"), nullptr);
    EXPECT_EQ(FromCodePage(Card("000003")->m_strName), QStringLiteral("王五"));
    EXPECT_TRUE(Text(IDC_CARD_NO).isEmpty());
    EXPECT_TRUE(Text(IDC_NAME).isEmpty());
    EXPECT_EQ(Text(IDC_NUMBER), QStringLiteral("4"));
    EXPECT_TRUE(window->m_bNew);
}

TEST_F(EditingTest, CancelKeepsTheFormAndStoresNothing) {
    Open();
    NewCard(QStringLiteral("000009"), QStringLiteral("赵六"));
    Click(IDC_CANCEL);
    EXPECT_FALSE(window->m_bNew);
    EXPECT_FALSE(Enabled(IDC_SAVE));
    EXPECT_FALSE(Enabled(IDC_CARD_NO));
    EXPECT_EQ(Text(IDC_CARD_NO), QStringLiteral("000009"));
    EXPECT_TRUE(app.m_mapCards.IsEmpty());
    Click(IDC_SAVE);  // disabled: nothing happens
    EXPECT_TRUE(app.m_mapCards.IsEmpty());
}

TEST_F(EditingTest, PortsToAndFromThePermissionString) {
    struct Case {
        std::vector<int> ports;
        const char* rights;
    };
    const Case cases[] = {
        {{1, 16}, "1000000000000001"},
        {{2, 16}, "1000000000000010"},
        {{}, "0000000000000000"},
        {{7, 8, 9}, "0000000111000000"},
    };
    for (const Case& c : cases) {
        app.m_mapCards.RemoveAll();
        Open();
        NewCard(QStringLiteral("000001"), QStringLiteral("x"));
        for (const int port : c.ports) {
            Click(IdcPort(port));
        }
        Click(IDC_SAVE);
        ASSERT_NE(Card("000001"), nullptr) << c.rights;
        EXPECT_EQ(Card("000001")->m_strRights, c.rights);
    }

    // Loading: character i belongs to port 16 - i; a short string leaves the rest clear.
    const struct {
        const char* rights;
        std::vector<int> set;
    } loads[] = {
        {"1000000000000010", {16, 2}},
        {"101", {16, 14}},
        {"", {}},
        {"1x1?111111111111", {16, 14, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1}},
    };
    for (const auto& load : loads) {
        app.m_mapCards.RemoveAll();
        Add("000001", 1).m_strRights = load.rights;
        Open();
        ClickRow(0);
        for (int port = 1; port <= 16; ++port) {
            const bool expected =
                std::find(load.set.begin(), load.set.end(), port) != load.set.end();
            EXPECT_EQ(Checked(IdcPort(port)), expected) << load.rights << " port " << port;
        }
        EXPECT_EQ(Card("000001")->m_strRights, load.rights);
    }
}

TEST_F(EditingTest, SelectAllAndThePortBoxes) {
    Open();
    Click(IDC_NEW);
    for (int port = 1; port <= 16; ++port) {
        EXPECT_FALSE(Checked(IDC_ALL_PORTS)) << port;
        Click(IdcPort(port));
    }
    EXPECT_TRUE(Checked(IDC_ALL_PORTS));
    Click(IdcPort(5));
    EXPECT_FALSE(Checked(IDC_ALL_PORTS));
    Click(IDC_ALL_PORTS);
    for (int port = 1; port <= 16; ++port) {
        EXPECT_TRUE(Checked(IdcPort(port))) << port;
    }
    Click(IDC_ALL_PORTS);
    for (int port = 1; port <= 16; ++port) {
        EXPECT_FALSE(Checked(IdcPort(port))) << port;
    }

    // A loaded card's ports leave "全选" as it was.
    Add("000001", 1).m_strRights = "1111111111111111";
    Click(IDC_SHOW_ALL);
    ClickRow(0);
    EXPECT_TRUE(Checked(IdcPort(1)));
    EXPECT_FALSE(Checked(IDC_ALL_PORTS));
}

TEST_F(EditingTest, DeleteAsksAndRemovesCardAndRow) {
    Add("000001", 1);
    Add("000002", 2);
    Add("000003", 3);
    Open();
    Click(IDC_DELETE);
    EXPECT_EQ(Messages(), QStringList{QStringLiteral("先选择要删除的项")});

    ClickRow(1);
    boxes.clear();
    AnswerNext(QMessageBox::No);
    Click(IDC_DELETE);
    EXPECT_EQ(Messages(), QStringList{QStringLiteral("确认要删除选择的项?")});
    EXPECT_EQ(boxes.shown()[0].caption, QStringLiteral("清空"));
    EXPECT_EQ(Rows(), 3);
    EXPECT_NE(Card("000002"), nullptr);

    AnswerNext(QMessageBox::Yes);
    Click(IDC_DELETE);
    EXPECT_EQ(Card("000002"), nullptr);
    ASSERT_EQ(Rows(), 2);
    EXPECT_EQ(Cell(0, 2), QStringLiteral("000001"));
    EXPECT_EQ(Cell(1, 2), QStringLiteral("000003"));
    EXPECT_EQ(app.m_nMaxNumber, 3u);

    // A row whose card has left the register is still removed.
    app.m_mapCards.RemoveKey("000003");
    ClickRow(1);
    AnswerNext(QMessageBox::Yes);
    Click(IDC_DELETE);
    ASSERT_EQ(Rows(), 1);
    EXPECT_EQ(Cell(0, 2), QStringLiteral("000001"));
    EXPECT_EQ(app.m_mapCards.GetCount(), 1u);
}

TEST_F(EditingTest, AfterADeleteNoRowIsMarked) {
    Add("000001", 1);
    Add("000002", 2);
    Add("000003", 3);
    Open();
    ClickRow(0);
    AnswerNext(QMessageBox::Yes);
    Click(IDC_DELETE);
    ASSERT_EQ(Rows(), 2);
    EXPECT_EQ(window->m_list.GetSelectionMark(), -1);
    EXPECT_TRUE(window->m_list.selectionModel()->selectedRows().isEmpty());
    // A second "删除" asks for a row instead of deleting the one that moved up.
    boxes.clear();
    AnswerNext(QMessageBox::Yes);
    Click(IDC_DELETE);
    EXPECT_EQ(Messages(), QStringList{QStringLiteral("先选择要删除的项")});
    EXPECT_EQ(Rows(), 2);
    EXPECT_NE(Card("000002"), nullptr);
}

TEST_F(EditingTest, ARowLeadsToItsOwnCard) {
    // Keys brought in by an import: one that is no GB18030 text, one that differs from the
    // record's own card number.
    const std::string badKey =
        "12\xFF\xFE"
        "34";
    Add(badKey.c_str(), 1).m_strName = "bad key";
    CCard& other = Add("X1", 2);
    other.m_strCardNo = "000777";
    other.m_strName = "other key";
    Open();
    ASSERT_EQ(Rows(), 2);
    for (const auto& [key, name] :
         {std::pair{badKey, "bad key"}, {std::string("X1"), "other key"}}) {
        int row = -1;
        for (int r = 0; r < Rows(); ++r) {
            if (window->m_list.ItemKey(r) == key) {
                row = r;
            }
        }
        ASSERT_GE(row, 0);
        ClickRow(row);
        EXPECT_EQ(Text(IDC_NAME), QString::fromLatin1(name));
        if (key == badKey) {
            // Its card number does not come back from the form as six bytes: the exchange
            // fails and nothing is deleted until the operator has corrected the field.
            boxes.clear();
            Click(IDC_DELETE);
            EXPECT_EQ(Messages(), QStringList{QStringLiteral("请填入不多于6个的字符。")});
            ASSERT_NE(app.m_mapCards.Lookup(key), nullptr);
            Click(IDC_EDIT);
            Type(IDC_CARD_NO, QStringLiteral("123456"));
        }
        AnswerNext(QMessageBox::Yes);
        Click(IDC_DELETE);
        EXPECT_EQ(app.m_mapCards.Lookup(key), nullptr) << name;
    }
    EXPECT_EQ(Rows(), 0);
    EXPECT_TRUE(app.m_mapCards.IsEmpty());
}

TEST_F(EditingTest, EnterRunsNoCommand) {
    Add("000001", 1).m_strName = "old";
    Open();
    ClickRow(0);
    Click(IDC_EDIT);  // 编辑/修改
    Type(IDC_NAME, QStringLiteral("新名字"));
    for (const int id : {IDC_NAME, IDC_CARD_NO, IDC_PAID, IDC_QUERY_NAME, IDC_QUERY_CARD_NO}) {
        PressEnter(id);
    }
    // Nor on a button that has the focus.
    PressEnter(IDC_NEW);
    EXPECT_TRUE(Messages().isEmpty()) << Messages().join('|').toStdString();
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(app.m_mapCards.GetCount(), 1u);
    EXPECT_EQ(Card("000001")->m_strName, "old");
    EXPECT_TRUE(window->m_bEdit);
    EXPECT_EQ(Text(IDC_NAME), QStringLiteral("新名字"));
    // No button of the window is a default one.
    for (QPushButton* button : window->findChildren<QPushButton*>()) {
        EXPECT_FALSE(button->isDefault() || button->autoDefault()) << button->text().toStdString();
    }
}

TEST_F(EditingTest, ScreenReaderTogglesRunTheHandlers) {
    Open();
    Click(IDC_NEW);
    const QString toggle = QAccessibleActionInterface::toggleAction();
    for (int port = 1; port <= 16; ++port) {
        ASSERT_TRUE(AccessibleAction(Control(IdcPort(port)), toggle)) << port;
    }
    EXPECT_TRUE(Checked(IDC_ALL_PORTS));  // "全选" follows the sixteen boxes
    EXPECT_TRUE(window->m_bAllPorts);
    ASSERT_TRUE(AccessibleAction(Control(IdcPort(7)), toggle));
    EXPECT_FALSE(Checked(IDC_ALL_PORTS));
    ASSERT_TRUE(AccessibleAction(Control(IDC_ALL_PORTS), toggle));
    for (int port = 1; port <= 16; ++port) {
        EXPECT_TRUE(Checked(IdcPort(port))) << port;
    }
    ASSERT_TRUE(AccessibleAction(Control(IDC_ALL_PORTS), toggle));
    for (int port = 1; port <= 16; ++port) {
        EXPECT_FALSE(Checked(IdcPort(port))) << port;
    }
    // The space bar on a focused box as well.
    QTest::keyClick(Control(IdcPort(3)), Qt::Key_Space);
    EXPECT_TRUE(window->m_bPort[3]);

    // The mode radios switch the groups.
    ASSERT_TRUE(AccessibleAction(Control(IDC_MODE_EXTEND), toggle));
    EXPECT_EQ(window->m_nMode, 1);
    EXPECT_FALSE(Enabled(IDC_NEW));
    EXPECT_FALSE(Enabled(IDC_NAME));
    EXPECT_TRUE(Enabled(IDC_READ_CARD));
    ASSERT_TRUE(AccessibleAction(Control(IDC_MODE_ISSUE), toggle));
    EXPECT_EQ(window->m_nMode, 0);
    EXPECT_TRUE(Enabled(IDC_NEW));
    EXPECT_FALSE(Enabled(IDC_READ_CARD));
    EXPECT_FALSE(Enabled(IDC_SAVE));
    EXPECT_TRUE(Messages().isEmpty()) << Messages().join('|').toStdString();
}

TEST_F(EditingTest, ClickingARowLoadsItsCard) {
    CCard& card = Add("000004", 9, CARD_LOST);
    card.m_nCardType = CARD_ANNUAL;
    card.m_strName = "Wang";
    card.m_strPhone = "13800000000";
    card.m_strPaid = "120";
    card.m_strPassword = "2222222222";
    Open();
    Click(IDC_AUTO_NUMBER);
    ClickRow(0);
    EXPECT_EQ(Text(IDC_CARD_NO), QStringLiteral("000004"));
    EXPECT_EQ(Text(IDC_NUMBER), QStringLiteral("9"));
    EXPECT_EQ(Text(IDC_NAME), QStringLiteral("Wang"));
    EXPECT_EQ(Text(IDC_PHONE), QStringLiteral("13800000000"));
    EXPECT_EQ(Text(IDC_PAID), QStringLiteral("120"));
    EXPECT_EQ(Text(IDC_STATUS), QStringLiteral("挂失"));
    EXPECT_EQ(Text(IDC_CARD_TYPE), QStringLiteral("年卡"));
    EXPECT_EQ(Picker(IDC_VALID_DATE)->date(), QDate(2030, 12, 31));
    EXPECT_EQ(Picker(IDC_REG_DATE)->date(), QDate(2024, 1, 5));
    EXPECT_EQ(window->m_strPassword, "2222222222");
    EXPECT_TRUE(Checked(IDC_AUTO_NUMBER));  // other controls keep their state
    EXPECT_FALSE(Enabled(IDC_NAME));

    // In the middle of entering, a click replaces the form and keeps the state.
    Click(IDC_NEW);
    EXPECT_EQ(Text(IDC_CARD_NO), QStringLiteral("000001"));
    ClickRow(0);
    EXPECT_EQ(Text(IDC_CARD_NO), QStringLiteral("000004"));
    EXPECT_TRUE(window->m_bNew);
    EXPECT_TRUE(Enabled(IDC_NAME));

    // A click beside the rows, with no row marked, says so and leaves the form.
    Open();
    QTest::mouseClick(window->m_list.viewport(), Qt::LeftButton, {},
                      QPoint(5, window->m_list.viewport()->height() - 5));
    EXPECT_EQ(Messages().last(), QStringLiteral("先选择的项"));
    EXPECT_TRUE(Text(IDC_CARD_NO).isEmpty());
}

TEST_F(EditingTest, UnreadableStoredValuesSurviveASave) {
    CCard& card = Add("000004", 4);
    card.m_strValidDate = "00000000";
    card.m_strRegDate = "20230231";  // no such day
    card.m_nStatus = 7;
    card.m_nCardType = 9;
    Open();
    EXPECT_EQ(Cell(0, 1), QStringLiteral("7"));
    ClickRow(0);
    // The pickers show the stored texts.
    EXPECT_EQ(Picker(IDC_VALID_DATE)->text(), QStringLiteral("00000000"));
    EXPECT_EQ(Picker(IDC_REG_DATE)->text(), QStringLiteral("20230231"));
    Click(IDC_EDIT);
    Type(IDC_NAME, QStringLiteral("kept"));
    AnswerNext(QMessageBox::Yes);
    Click(IDC_SAVE);
    EXPECT_EQ(Card("000004")->m_strName, "kept");
    EXPECT_EQ(Card("000004")->m_strValidDate, "00000000");
    EXPECT_EQ(Card("000004")->m_strRegDate, "20230231");
    EXPECT_EQ(Card("000004")->m_nStatus, 7);
    EXPECT_EQ(Card("000004")->m_nCardType, 9);

    // A date picked by the operator replaces the stored text.
    Click(IDC_EDIT);
    Picker(IDC_VALID_DATE)->setDate(QDate(2031, 6, 30));
    Control<QComboBox>(IDC_CARD_TYPE)->setCurrentIndex(1);
    AnswerNext(QMessageBox::Yes);
    Click(IDC_SAVE);
    EXPECT_EQ(Card("000004")->m_strValidDate, "20310630");
    EXPECT_EQ(Card("000004")->m_strRegDate, "20230231");
    EXPECT_EQ(Card("000004")->m_nCardType, CARD_MONTHLY);
    EXPECT_EQ(Picker(IDC_VALID_DATE)->text(), QStringLiteral("2031-06-30"));
}

TEST_F(EditingTest, NewCardWithTheSameInformation) {
    Open();
    Click(IDC_NEW_SAME_INFO);
    EXPECT_EQ(Messages(), QStringList{QStringLiteral("请选择需要新增相同信息卡!")});
    EXPECT_TRUE(app.m_mapCards.IsEmpty());

    CCard& card = Add("000001", 1, CARD_ISSUED);
    card.m_strName = "Li";
    card.m_strRights = "0000000000000011";
    card.m_strMonthFee = "30";
    Add("000002", 2);
    Open();
    ClickRow(0);
    boxes.clear();
    Click(IDC_NEW_SAME_INFO);
    EXPECT_TRUE(Messages().isEmpty());
    const CCard* copy = Card("000003");
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->m_nNumber, 3);
    EXPECT_EQ(copy->m_nStatus, CARD_ISSUED);
    EXPECT_EQ(copy->m_strName, "Li");
    EXPECT_EQ(copy->m_strRights, "0000000000000011");
    EXPECT_EQ(copy->m_strMonthFee, "30");
    EXPECT_EQ(copy->m_strPassword, "1111111111");
    EXPECT_EQ(copy->m_strValidDate, "20301231");
    EXPECT_EQ(copy->m_strRegDate, "20240105");
    EXPECT_EQ(Cell(0, 2), QStringLiteral("000003"));
    EXPECT_EQ(Cell(0, 1), QStringLiteral("已发行"));
    EXPECT_EQ(Text(IDC_CARD_NO), QStringLiteral("000003"));
    EXPECT_FALSE(window->m_bNew);
}

TEST_F(EditingTest, IssuedCardIsStoredAndTheNextRowLoaded) {
    for (int n = 1; n <= 5; ++n) {
        Add(CardNoText(n).c_str(), n).m_strName = "holder" + std::to_string(n);
    }
    Open();
    ClickRow(3);
    EXPECT_EQ(Text(IDC_CARD_NO), QStringLiteral("000004"));
    window->StoreIssuedCard();
    window->ShowNextCard();
    EXPECT_EQ(Card("000004")->m_nStatus, CARD_ISSUED);
    EXPECT_EQ(Cell(3, 1), QStringLiteral("已发行"));
    EXPECT_EQ(Cell(3, 0), QStringLiteral("4"));
    EXPECT_EQ(Text(IDC_CARD_NO), QStringLiteral("000005"));
    EXPECT_EQ(Text(IDC_NAME), QStringLiteral("holder5"));
    EXPECT_EQ(window->m_list.GetSelectionMark(), 4);
    EXPECT_EQ(Rows(), 5);

    // On the last row nothing moves.
    window->StoreIssuedCard();
    window->ShowNextCard();
    EXPECT_EQ(Card("000005")->m_nStatus, CARD_ISSUED);
    EXPECT_EQ(Text(IDC_CARD_NO), QStringLiteral("000005"));
    EXPECT_EQ(window->m_list.GetSelectionMark(), 4);

    // A card number that is not in the register becomes a new card at the top.
    Click(IDC_NEW);
    Type(IDC_CARD_NO, QStringLiteral("000777"));
    window->StoreIssuedCard();
    ASSERT_NE(Card("000777"), nullptr);
    EXPECT_EQ(Card("000777")->m_nStatus, CARD_ISSUED);
    EXPECT_EQ(Card("000777")->m_nNumber, 6);
    EXPECT_EQ(Cell(0, 2), QStringLiteral("000777"));
    EXPECT_TRUE(window->m_bNew);  // the editing state is left alone
    EXPECT_EQ(Text(IDC_STATUS), QStringLiteral("已发行"));
}

TEST_F(EditingTest, PasswordButtonSetsTheWorkingPassword) {
    app.m_strSysPassword = "0000000000";
    Open();
    EXPECT_FALSE(Enabled(IDC_PASSWORD));
    Click(IDC_NEW);
    EnterPassword(QStringLiteral("9876543210"));
    EXPECT_EQ(window->m_strPassword, "9876543210");
    EXPECT_EQ(app.m_strSysPassword, "9876543210");
    EXPECT_TRUE(window->m_bNew);
}

// The rows of the list that are selected, top to bottom.
std::vector<int> Marked(const CListCtrlCl& list) {
    std::vector<int> rows;
    for (const QModelIndex& index : list.selectionModel()->selectedRows()) {
        rows.push_back(index.row());
    }
    std::sort(rows.begin(), rows.end());
    return rows;
}

// Whether the row is in the list's view.
bool InView(const CListCtrlCl& list, int row) {
    return list.viewport()->rect().contains(list.visualRect(list.Model()->index(row, 0)).center());
}

// The list marks the card that the form shows, and nothing once a delete has cleared the form.
TEST_F(EditingTest, TheHighlightFollowsTheForm) {
    for (int n = 1; n <= 60; ++n) {
        Add(CardNoText(n), n).m_strName = "holder" + std::to_string(n);
    }
    Open();
    CListCtrlCl& list = window->m_list;
    ClickRow(2);
    EXPECT_EQ(Marked(list), std::vector<int>{2});

    // "新增" clears the form: no row shows its card. Once saved, the card's row is at the top.
    list.scrollToBottom();
    NewCard(QStringLiteral("000100"), QStringLiteral("新"));
    EXPECT_TRUE(Marked(list).empty());
    Click(IDC_SAVE);
    EXPECT_EQ(Cell(0, 2), QStringLiteral("000100"));
    EXPECT_EQ(Marked(list), std::vector<int>{0});
    EXPECT_EQ(list.GetSelectionMark(), 0);
    EXPECT_TRUE(InView(list, 0));

    // A copy with the same information: the copy's row.
    ClickRow(40);
    Click(IDC_NEW_SAME_INFO);
    EXPECT_EQ(Text(IDC_CARD_NO), QStringLiteral("000061"));
    EXPECT_EQ(Cell(0, 2), QStringLiteral("000061"));
    EXPECT_EQ(Marked(list), std::vector<int>{0});
    EXPECT_TRUE(InView(list, 0));

    // Saving an existing card keeps its row marked; the row shows the change.
    ClickRow(45);
    Click(IDC_EDIT);
    Type(IDC_NAME, QStringLiteral("改"));
    list.scrollToTop();
    AnswerNext(QMessageBox::Yes);
    Click(IDC_SAVE);
    EXPECT_EQ(Cell(45, 6), QStringLiteral("改"));
    EXPECT_EQ(Marked(list), std::vector<int>{45});
    EXPECT_TRUE(InView(list, 45));

    // "删除": the row goes, the form is cleared, no row is marked.
    const std::string deleted(list.ItemKey(45));
    AnswerNext(QMessageBox::Yes);
    Click(IDC_DELETE);
    EXPECT_EQ(Card(deleted), nullptr);
    EXPECT_EQ(Rows(), 61);
    EXPECT_TRUE(Text(IDC_CARD_NO).isEmpty());
    EXPECT_TRUE(Text(IDC_NAME).isEmpty());
    EXPECT_EQ(Text(IDC_NUMBER), QString::number(app.m_nMaxNumber + 1));
    EXPECT_TRUE(Marked(list).empty());
    EXPECT_EQ(list.GetSelectionMark(), -1);

    // A list built anew marks the form's card again.
    ClickRow(10);
    const std::string shown(list.ItemKey(10));
    Click(IDC_SHOW_ALL);
    ASSERT_EQ(Marked(list).size(), 1u);
    EXPECT_EQ(list.ItemKey(Marked(list)[0]), shown);
    EXPECT_TRUE(InView(list, Marked(list)[0]));
}

// "发行卡片" against the card reader emulator: the form moves on to the next card, and the
// highlight with it.
class IssueHighlightTest : public UserCardTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(emulator.ready());
        ASSERT_TRUE(app.InitInstance());
        ASSERT_TRUE(app.m_comPort.IsOpen());
    }
    void TearDown() override {
        window.reset();
        app.ExitInstance();
    }

    CardEmulator emulator{CARDEMU, dir / "COM0", dir / "emu.log"};
};

TEST_F(IssueHighlightTest, TheHighlightMovesOnWithTheForm) {
    for (int n = 1; n <= 40; ++n) {
        CCard& card = Add(CardNoText(n), n);
        card.m_strPassword = kPassword;
        card.m_strValidDate = "20301231";
    }
    Open(QSize(1280, 800));
    CListCtrlCl& list = window->m_list;
    ClickRow(30);
    list.scrollToTop();
    Click(IDC_ISSUE_CARD);
    EXPECT_EQ(Message(1), QStringLiteral("发卡成功并保存!"));
    EXPECT_EQ(Card("000031")->m_nStatus, CARD_ISSUED);
    EXPECT_EQ(Cell(30, 1), QStringLiteral("已发行"));
    EXPECT_EQ(Text(IDC_CARD_NO), QStringLiteral("000032"));
    EXPECT_EQ(Marked(list), std::vector<int>{31});
    EXPECT_EQ(list.GetSelectionMark(), 31);
    EXPECT_TRUE(InView(list, 31));

    Click(IDC_ISSUE_CARD);
    EXPECT_EQ(Message(2), QStringLiteral("发卡成功并保存!"));
    EXPECT_EQ(Text(IDC_CARD_NO), QStringLiteral("000033"));
    EXPECT_EQ(Marked(list), std::vector<int>{32});

    // A card read while another row is highlighted: the highlight goes to the card's row.
    ClickRow(4);
    list.scrollToTop();
    Click(IDC_MODE_EXTEND);
    emulator.Control("place user 000032 301231 1111111111111111");
    Click(IDC_READ_CARD);
    EXPECT_EQ(Message(3), QStringLiteral("卡号[000032]读卡成功!"));
    EXPECT_EQ(Text(IDC_CARD_NO), QStringLiteral("000032"));
    EXPECT_EQ(Marked(list), std::vector<int>{31});
    EXPECT_TRUE(InView(list, 31));
}

// The whole path: the main window's command opens the window over a register file, the
// operator edits, closes the window and ends the program; the file then holds the edits.
TEST(UserCardCommandTest, EditsReachTheRegisterFileAtExit) {
    TempDir dir;
    PseudoTerminal device;
    ASSERT_EQ(::symlink(device.slave.c_str(), (dir / "COM0").c_str()), 0);
    {
        CCardMap map;
        for (int n = 1; n <= 3; ++n) {
            map.SetAt(CardNoText(n), MakeCard(CardNoText(n), n));
        }
        WriteFile(dir / "cardbook.kcd", RegisterBytes(map));
    }
    WindowDriver driver;
    COrvaneApp app(dir.path());
    ASSERT_TRUE(app.InitInstance());
    bool operated = false;
    QTimer::singleShot(0, [&] {
        auto* window = qobject_cast<CUserCardDlg*>(QApplication::activeModalWidget());
        ASSERT_NE(window, nullptr);
        driver.Drive(window);
        EXPECT_TRUE(window->isMaximized());
        EXPECT_EQ(window->windowTitle(), QStringLiteral("发卡"));
        ASSERT_EQ(driver.Rows(), 3);
        // Row 1 gets a holder and port 3; card 000003 is deleted; a new card takes its number.
        driver.ClickRow(1);
        window->m_strPassword = kPassword;
        driver.Click(IDC_EDIT);
        driver.Type(IDC_NAME, QStringLiteral("周七"));
        driver.Click(IdcPort(3));
        driver.AnswerNext(QMessageBox::Yes);
        driver.Click(IDC_SAVE);
        driver.ClickRow(2);
        driver.AnswerNext(QMessageBox::Yes);
        driver.Click(IDC_DELETE);
        // The deleted number is the lowest free one again; loading a row took its password.
        window->m_strPassword = kPassword;
        driver.Click(IDC_AUTO_NUMBER);
        driver.Click(IDC_NEW);
        driver.Click(IDC_SAVE);
        operated = true;
        window->close();
    });
    ConnectCardWindows(app);
    app.MainFrame()->Command(ID_USER_CARD)->trigger();
    EXPECT_TRUE(operated);
    EXPECT_EQ(app.m_replyHandoff.Receiver(), nullptr);
    EXPECT_EQ(app.ExitInstance(), 0);

    CCardMap saved;
    uint32_t maxNumber = 0;
    ASSERT_TRUE(LoadsWhole(dir / "cardbook.kcd", saved, &maxNumber));
    EXPECT_EQ(saved.GetCount(), 3u);
    ASSERT_NE(saved.Lookup("000002"), nullptr);
    EXPECT_EQ(FromCodePage(saved.Lookup("000002")->m_strName), QStringLiteral("周七"));
    EXPECT_EQ(saved.Lookup("000002")->m_strRights, "0000000000000100");
    EXPECT_EQ(saved.Lookup("000002")->m_strPassword, kPassword);
    ASSERT_NE(saved.Lookup("000003"), nullptr);
    EXPECT_EQ(saved.Lookup("000003")->m_nNumber, 4);
    EXPECT_EQ(saved.Lookup("000003")->m_strPassword, kPassword);
    EXPECT_EQ(maxNumber, 4u);
    EXPECT_EQ(driver.boxes.shown().size(), 2u);
}

}  // namespace
