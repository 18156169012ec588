// The management-card dialog end to end against the card-reader emulator on a
// pseudo-terminal, driven as an operator would.

#include <gtest/gtest.h>

#include <QAccessibleActionInterface>
#include <QDateTimeEdit>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest/QTest>

#include <chrono>
#include <cstring>

#include "GuiTestUtil.h"
#include "TestUtil.h"
#include "WindowDriver.h"
#include "store/CardChange.h"
#include "store/Journal.h"
#include "ui/ManageCardDlg.h"
#include "ui/ManageCardIds.h"

namespace {

using namespace ManageCardIds;

const char* kPassword = "5820463917";

class ManageCardTest : public WindowTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(emulator.ready());
        ASSERT_TRUE(app.InitInstance());
        ASSERT_TRUE(app.m_comPort.IsOpen());
        ASSERT_TRUE(boxes.shown().empty());
        dialog = NewManageCardDialog(app);
        Open(dialog.get());
    }
    void TearDown() override {
        dialog.reset();
        app.ExitInstance();
    }
    // Clicks the command radio of that number (0 校时 ... 4 格式化管理卡).
    void Choose(int command) { Click(IDC_COMMANDS[command]); }
    std::vector<std::string> Received() const { return EmulatorFrames(dir / "emu.log"); }
    // The dialog's reply handler given `bytes` as the reader thread delivers them.
    void Reply(const std::string& bytes) {
        CardReply reply;
        reply.dwCount = static_cast<uint32_t>(bytes.size());
        std::memcpy(reply.data, bytes.data(), bytes.size());
        dialog->OnCardReply(reply);
    }

    CardEmulator emulator{CARDEMU, dir / "COM0", dir / "emu.log"};
    std::unique_ptr<CManageCardDlg> dialog;
};

TEST_F(ManageCardTest, OpeningStateAndEnableRules) {
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral(" 管理卡"));
    Screenshot(dialog.get(), "manage-card");
    EXPECT_EQ(app.m_replyHandoff.Receiver(), dialog.get());
    EXPECT_EQ(dialog->m_nCommand, 0);
    EXPECT_TRUE(Checked(IDC_SET_TIME));
    EXPECT_TRUE(dialog->m_strPassword.empty());
    EXPECT_EQ(dialog->m_timeClock.time().msec(), 0);
    auto* picker = Picker(IDC_CLOCK);
    auto* password = Control<QPushButton>(IDC_PASSWORD);
    auto* cardNo = Control<QLineEdit>(IDC_CARD_NO);
    struct Row {
        int choice;
        bool picker, password, cardNo;
    };
    const Row rows[] = {{1, false, true, false},
                        {2, false, false, true},
                        {3, false, false, true},
                        {4, false, false, false},
                        {0, true, false, false}};
    for (const Row& r : rows) {
        Choose(r.choice);
        EXPECT_EQ(dialog->m_nCommand, r.choice);
        EXPECT_EQ(picker->isEnabled(), r.picker) << r.choice;
        EXPECT_EQ(password->isEnabled(), r.password) << r.choice;
        EXPECT_EQ(cardNo->isEnabled(), r.cardNo) << r.choice;
    }
}

TEST_F(ManageCardTest, ChecksComeBeforeAnythingIsSent) {
    ClickButton("制卡");  // 校时 without a password
    EXPECT_EQ(Message(1), QStringLiteral("密码输入10个数字!"));
    Choose(2);  // 挂失 with an empty card number: the card number is checked first
    ClickButton("制卡");
    EXPECT_EQ(Message(2), QStringLiteral("卡号输入6个数字!"));
    Type(IDC_CARD_NO, QStringLiteral("12345"));
    ClickButton("制卡");
    EXPECT_EQ(Message(3), QStringLiteral("卡号输入6个数字!"));
    QTest::qWait(100);
    EXPECT_TRUE(Received().empty());
}

TEST_F(ManageCardTest, EachCommandsBytesAndReplies) {
    dialog->m_strPassword = kPassword;
    Picker(IDC_CLOCK)->setDateTime(QDateTime(QDate(2026, 3, 9), QTime(14, 5, 30)));
    ClickButton("制卡");
    EXPECT_EQ(Message(1), QStringLiteral("校时成功!"));
    ClickButton("读卡");
    EXPECT_EQ(Message(2), QStringLiteral("读设定信息校时成功!"));
    Choose(1);
    ClickButton("制卡");
    EXPECT_EQ(Message(3), QStringLiteral("设定密码成功!"));
    Choose(4);
    ClickButton("制卡");
    EXPECT_EQ(Message(4), QStringLiteral("清除设定信息成功!"));
    ClickButton("读卡");
    EXPECT_EQ(Message(5), QStringLiteral("读设定信息失败!"));
    const std::vector<std::string> expected = {
        "AA 0C A4 26 03 09 14 05 58 20 46 39 17 55",  // seconds are not sent
        "AA 07 A8 00 00 00 00 00 55",
        "AA 07 A5 58 20 46 39 17 55",
        "AA 07 A9 00 00 00 00 00 55",
        "AA 07 A8 00 00 00 00 00 55",
    };
    EXPECT_EQ(Received(), expected);
    // The clock read back came into the picker.
    EXPECT_EQ(dialog->m_timeClock, QDateTime(QDate(2026, 3, 9), QTime(14, 5, 0)));
}

TEST_F(ManageCardTest, ReportLostAndUnlockChangeTheRegisteredCard) {
    auto card = MakeCard("000123");
    card->m_nStatus = CARD_ISSUED;
    app.m_mapCards.SetAt("000123", std::move(card));
    app.m_mapCards.SetAt("999999", MakeCard("999999"));
    dialog->m_strPassword = kPassword;
    Choose(2);
    Type(IDC_CARD_NO, QStringLiteral("000123"));
    ClickButton("制卡");
    // Typed after sending, before the reply: the reply acts on the number that was sent.
    Control<QLineEdit>(IDC_CARD_NO)->setText(QStringLiteral("999999"));
    EXPECT_EQ(Message(1), QStringLiteral("挂失成功!"));
    EXPECT_EQ(app.m_mapCards.Lookup("000123")->m_nStatus, CARD_LOST);
    // On disk before the message: the journal's last change is the card reported lost.
    CJournal::Contents journal;
    std::string error;
    ASSERT_TRUE(CJournal::Read(dir / "cardbook.kcd.journal", journal, error)) << error;
    ASSERT_FALSE(journal.records.empty());
    CCardChange last;
    std::string_view encoded;
    std::string_view history;
    ASSERT_TRUE(CJournal::ChangeOf(journal.records.back(), encoded, history));
    ASSERT_TRUE(CCardChange::Decode(encoded, last));
    EXPECT_EQ(last.Operation(), CardOperation::ReportLost);
    ASSERT_EQ(last.Steps().size(), 1u);
    EXPECT_EQ(last.Steps()[0].key, "000123");
    EXPECT_EQ(last.Steps()[0].card->m_nStatus, CARD_LOST);
    EXPECT_EQ(app.m_mapCards.Lookup("999999")->m_nStatus, CARD_NOT_ISSUED);

    ClickButton("读卡");  // the management card holds the lost card's number
    EXPECT_EQ(Message(2), QStringLiteral("读设定信息挂失卡号成功!"));
    EXPECT_EQ(Text(IDC_CARD_NO), QStringLiteral("000123"));
    Choose(3);
    ClickButton("制卡");
    EXPECT_EQ(Message(3), QStringLiteral("解挂成功!"));
    EXPECT_EQ(app.m_mapCards.Lookup("000123")->m_nStatus, CARD_ISSUED);
    EXPECT_EQ(Received().back(), "AA 0A A7 00 01 23 58 20 46 39 17 55");

    Type(IDC_CARD_NO, QStringLiteral("555555"));  // not registered: success all the same
    ClickButton("制卡");
    EXPECT_EQ(Message(4), QStringLiteral("解挂成功!"));
    EXPECT_EQ(app.m_mapCards.GetCount(), 2u);
}

TEST_F(ManageCardTest, PasswordReadBackFromACardPassesTheCheck) {
    dialog->m_strPassword = "0123456789";
    Choose(1);
    ClickButton("制卡");  // the emulator takes any new password onto the management card
    EXPECT_EQ(Message(1), QStringLiteral("设定密码成功!"));
    dialog->m_strPassword.clear();
    ClickButton("读卡");
    EXPECT_EQ(Message(2), QStringLiteral("读设定信息密码成功!"));
    EXPECT_EQ(dialog->m_strPassword, "0123456789");
}

TEST_F(ManageCardTest, FaultsFromTheDevice) {
    dialog->m_strPassword = kPassword;
    emulator.Control("fault garbage");
    ClickButton("制卡");
    EXPECT_EQ(Message(1), QStringLiteral("接收数据格式帧头错误!"));
    emulator.Control("fault fail");
    ClickButton("制卡");
    EXPECT_EQ(Message(2), QStringLiteral("校时失败!"));
    // A reply in two pieces is one reply.
    emulator.Control("fault split");
    ClickButton("制卡");
    EXPECT_EQ(Message(3), QStringLiteral("校时成功!"));
    // No reply at all: the operator is told once the reply time has run out, and the dialog
    // goes on as after a failure.
    app.m_replyHandoff.SetReplyTimeout(std::chrono::milliseconds(1000));
    emulator.Control("fault silent");
    ClickButton("制卡");
    EXPECT_EQ(Message(4), QStringLiteral("读卡器没有回应,请检查读卡器和连接。"));
    EXPECT_EQ(boxes.shown()[3].icon, QMessageBox::Warning);
    ClickButton("读卡");
    EXPECT_EQ(Message(5), QStringLiteral("读设定信息校时成功!"));
    EXPECT_EQ(boxes.shown().size(), 5u);
}

// Without a serial link every command says so, after the dialog's own checks.
class ManageCardNoPortTest : public WindowTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(app.InitInstance());  // no COM0 in the folder: reported at start-up
        ASSERT_EQ(boxes.shown().size(), 1u);
        boxes.clear();
        ASSERT_FALSE(app.m_comPort.IsOpen());
        dialog = NewManageCardDialog(app);
        Open(dialog.get());
    }
    void TearDown() override {
        dialog.reset();
        app.ExitInstance();
    }
    std::unique_ptr<CManageCardDlg> dialog;
};

TEST_F(ManageCardNoPortTest, EveryCommandSaysThatThePortIsNotOpen) {
    const QString noPort = QStringLiteral("端口没有打开,请在端口设置中选择读卡器的端口。");
    const struct {
        int command;  // -1: 读卡
        const char* password;
        const char* cardNo;
        QString message;
    } cases[] = {
        {0, "", "", QStringLiteral("密码输入10个数字!")},
        {0, kPassword, "", noPort},
        {1, kPassword, "", noPort},
        {2, kPassword, "12345", QStringLiteral("卡号输入6个数字!")},
        {2, kPassword, "000123", noPort},
        {3, kPassword, "000123", noPort},
        {4, "", "", noPort},
        {-1, "", "", noPort},
    };
    size_t shown = 0;
    for (const auto& c : cases) {
        dialog->m_strPassword = c.password;
        if (c.command >= 0) {
            Click(IDC_COMMANDS[c.command]);
            if (*c.cardNo != '\0') {
                Type(IDC_CARD_NO, QString::fromLatin1(c.cardNo));
            }
            ClickButton("制卡");
        } else {
            ClickButton("读卡");
        }
        EXPECT_EQ(Message(++shown), c.message) << c.command << " " << c.cardNo;
        EXPECT_EQ(boxes.shown().back().icon, QMessageBox::Warning);
    }
    EXPECT_EQ(boxes.shown().size(), shown);
    EXPECT_FALSE(app.m_replyHandoff.AwaitingReply());
}

TEST_F(ManageCardTest, RepliesToEveryCommandCode) {
    struct Case {
        std::string bytes;
        const char* message;  // nullptr: ignored
    };
    const Case cases[] = {
        {FromHex("AA 03 A1 01 55"), "发卡成功!"},
        {FromHex("AA 03 A1 00 55"), "发卡失败!"},
        {FromHex("AA 03 A2 00 55"), "读取超时!"},
        {FromHex("AA 10 A2 00 45 67 26 12 31 00 00 00 00 00 00 00 00 55"), "读卡成功!"},
        {FromHex("AA 03 A3 01 55"), "延期设定成功!"},
        {FromHex("AA 03 A3 00 55"), "延期设定失败!"},
        {FromHex("AA 03 A4 02 55"), nullptr},
        {FromHex("AA 04 A4 01 00 55"), "校时失败!"},
        {FromHex("AA 06 A8 A7 00 12 34 55"), "读设定信息解挂卡号成功!"},
        {FromHex("AA 06 A8 B0 00 12 34 55"), nullptr},
        {FromHex("AA 03 A9 00 55"), "清除设定信息失败!"},
        {FromHex("AA 03 B1 01 55"), nullptr},
        {FromHex("AA 03 A9 01 56"), "接收数据格式帧尾错误!"},
    };
    for (const Case& c : cases) {
        boxes.clear();
        Reply(c.bytes);
        if (c.message == nullptr) {
            EXPECT_TRUE(boxes.shown().empty());
        } else {
            ASSERT_EQ(boxes.shown().size(), 1u) << c.message;
            EXPECT_EQ(boxes.shown()[0].text, QString::fromUtf8(c.message));
        }
    }
    EXPECT_EQ(dialog->m_strCardNo, "001234");  // from the unlock setting read back
}

TEST_F(ManageCardTest, EnterInTheCardNumberSendsNothing) {
    dialog->m_strPassword = kPassword;
    Choose(2);
    Type(IDC_CARD_NO, QStringLiteral("000123"));
    ClickButton("制卡");  // the mouse leaves the focus on "制卡"
    EXPECT_EQ(Message(1), QStringLiteral("挂失成功!"));
    PressEnter(IDC_CARD_NO);
    QTest::qWait(200);
    EXPECT_EQ(Received().size(), 1u);
    EXPECT_EQ(boxes.shown().size(), 1u);
    // Enter is the dialog's "确定".
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
}

TEST_F(ManageCardTest, ScreenReaderActionsChooseTheCommand) {
    auto* password = Control<QPushButton>(IDC_PASSWORD);
    auto* cardNo = Control<QLineEdit>(IDC_CARD_NO);
    auto* picker = Picker(IDC_CLOCK);
    ASSERT_TRUE(AccessibleAction(Control<QRadioButton>(IDC_SET_PASSWORD),
                                 QAccessibleActionInterface::toggleAction()));
    EXPECT_EQ(dialog->m_nCommand, 1);
    EXPECT_TRUE(password->isEnabled());
    EXPECT_FALSE(picker->isEnabled());
    ASSERT_TRUE(AccessibleAction(Control<QRadioButton>(IDC_UNLOCK),
                                 QAccessibleActionInterface::toggleAction()));
    EXPECT_EQ(dialog->m_nCommand, 3);
    EXPECT_TRUE(cardNo->isEnabled());
    EXPECT_FALSE(password->isEnabled());
    // The space bar on a focused choice as well.
    QTest::keyClick(Control<QRadioButton>(IDC_CLEAR), Qt::Key_Space);
    EXPECT_EQ(dialog->m_nCommand, 4);
    EXPECT_FALSE(cardNo->isEnabled());
}

TEST_F(ManageCardTest, TypingStopsAtSixBytesAndALongerNumberReadBackIsNotCut) {
    auto* edit = Control<QLineEdit>(IDC_CARD_NO);
    Choose(2);
    Type(IDC_CARD_NO, QStringLiteral("12345678"));
    EXPECT_EQ(edit->text(), QStringLiteral("123456"));
    Type(IDC_CARD_NO, QStringLiteral("一二三四"));
    EXPECT_EQ(edit->text(), QStringLiteral("一二三"));
    // A lost-card setting whose number has nibbles above 9: shown whole, and "制卡" refuses it
    // instead of sending the first six characters (another card's number).
    dialog->m_strPassword = kPassword;
    const std::string bytes = FromHex("AA 06 A8 A6 01 0B CD 55");
    Reply(bytes);
    EXPECT_EQ(Message(1), QStringLiteral("读设定信息挂失卡号成功!"));
    EXPECT_EQ(edit->text(), QStringLiteral("010111213"));
    Choose(3);
    ClickButton("制卡");
    EXPECT_EQ(Message(2), QStringLiteral("卡号输入6个数字!"));
    QTest::qWait(100);
    EXPECT_TRUE(Received().empty());
}

TEST_F(ManageCardTest, ClockReadBackIsNormalisedOrRefused) {
    struct Case {
        const char* clock;   // YY MM DD hh mm
        QDateTime expected;  // invalid: no valid time on the card
    };
    const Case cases[] = {
        {"26 03 09 14 05", QDateTime(QDate(2026, 3, 9), QTime(14, 5))},
        {"26 13 01 10 00", QDateTime(QDate(2027, 1, 1), QTime(10, 0))},   // month 13
        {"26 02 28 25 00", QDateTime(QDate(2026, 3, 1), QTime(1, 0))},    // hour 25
        {"26 02 30 00 00", QDateTime(QDate(2026, 3, 2), QTime(0, 0))},    // 30 February
        {"26 00 10 00 61", QDateTime(QDate(2025, 12, 10), QTime(1, 1))},  // month 0, minute 61
        {"26 1A 01 00 00", QDateTime()},
        {"26 01 01 0F 00", QDateTime()},
    };
    for (const Case& c : cases) {
        boxes.clear();
        const QDateTime before(QDate(2020, 5, 5), QTime(5, 5));
        dialog->m_timeClock = before;
        const std::string bytes = FromHex(std::string("AA 08 A8 A4 ") + c.clock + " 55");
        Reply(bytes);
        ASSERT_EQ(boxes.shown().size(), 1u) << c.clock;
        if (c.expected.isValid()) {
            EXPECT_EQ(boxes.shown()[0].text, QStringLiteral("读设定信息校时成功!")) << c.clock;
            EXPECT_EQ(dialog->m_timeClock, c.expected) << c.clock;
            EXPECT_EQ(Picker(IDC_CLOCK)->dateTime(), c.expected);
        } else {
            EXPECT_EQ(boxes.shown()[0].text, QStringLiteral("管理卡中没有有效的校时时间!"))
                << c.clock;
            EXPECT_EQ(dialog->m_timeClock, before) << c.clock;
        }
    }
}

TEST_F(ManageCardTest, ClockOutsideTheCardsCenturyIsRefused) {
    dialog->m_strPassword = kPassword;
    auto* picker = Picker(IDC_CLOCK);
    size_t shown = 0;
    for (const QDateTime& t :
         {QDateTime(QDate(2150, 1, 1), QTime(8, 0)), QDateTime(QDate(1999, 12, 31), QTime(23, 59)),
          QDateTime(QDate(2100, 1, 1), QTime(0, 0))}) {
        picker->setDateTime(t);
        ClickButton("制卡");
        EXPECT_EQ(Message(++shown), QStringLiteral("有效期须为2000-01-01至2099-12-31之间的日期!"))
            << t.toString().toStdString();
        EXPECT_EQ(dialog->focusWidget(), picker);
    }
    QTest::qWait(100);
    EXPECT_TRUE(Received().empty());
    picker->setDateTime(QDateTime(QDate(2099, 12, 31), QTime(23, 59)));
    ClickButton("制卡");
    EXPECT_EQ(Message(++shown), QStringLiteral("校时成功!"));
    EXPECT_EQ(Received(), std::vector<std::string>{"AA 0C A4 99 12 31 23 59 58 20 46 39 17 55"});
}

}  // namespace
