// Reading, issuing and extending user cards from the user-card window, against the card
// reader/writer emulator on a pseudo-terminal.

#include <gtest/gtest.h>

#include <QDateTimeEdit>
#include <QtTest/QTest>

#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "StoreTestUtil.h"
#include "TestUtil.h"
#include "WindowDriver.h"
#include "app/CodePageText.h"
#include "base/PosixIo.h"
#include "protocol/Frame.h"
#include "register/Card.h"
#include "register/CardFields.h"
#include "register/RegisterFile.h"
#include "ui/UserCardDlg.h"
#include "ui/UserCardIds.h"

namespace {

using namespace UserCardIds;

// Where a symbolic link points.
std::string ReadLink(const std::string& path) {
    char target[256] = {};
    const ssize_t n = ::readlink(path.c_str(), target, sizeof target - 1);
    return n > 0 ? std::string(target, static_cast<size_t>(n)) : std::string();
}

const char* kPassword = "5820463917";  // the emulator's system password

// "000123" -> "00 01 23", as the emulator logs the bytes.
std::string Spaced(const std::string& digits) {
    std::string out;
    for (size_t i = 0; i < digits.size(); i += 2) {
        out += (i ? " " : "") + digits.substr(i, 2);
    }
    return out;
}

class UserCardDeviceTest : public UserCardTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(emulator.ready());
        if (!registerFile.empty()) {
            WriteFile(dir / "cardbook.kcd", registerFile);
        }
        ASSERT_TRUE(app.InitInstance());
        ASSERT_TRUE(app.m_comPort.IsOpen());
        ASSERT_TRUE(boxes.shown().empty());
        Open();
    }
    void TearDown() override {
        window.reset();
        if (!ended) {
            app.ExitInstance();
        }
    }
    void Open() { UserCardTest::Open(QSize(1280, 800)); }
    CCard& Add(const std::string& key, int number, uint8_t status = CARD_NOT_ISSUED) {
        CCard& card = UserCardTest::Add(key, number, status);
        card.m_strPassword = kPassword;
        card.m_strValidDate = "20301231";
        card.m_strRegDate = "20240105";
        return card;
    }
    std::vector<std::string> Received() const { return EmulatorFrames(dir / "emu.log"); }
    // Waits until the emulator has logged n frames.
    bool WaitForFrames(size_t n) const {
        return QTest::qWaitFor([&] { return Received().size() >= n; }, 10000);
    }
    // A new card in the form with the given number, the password set. "取消" first: after an
    // issue the form is still entering its card, which "新增" would save again.
    void EnterCard(const QString& cardNo) {
        Click(IDC_CANCEL);
        Click(IDC_NEW);
        Type(IDC_CARD_NO, cardNo);
        window->m_strPassword = kPassword;
    }

    std::string registerFile;  // set before SetUp to start with a register file
    bool ended = false;        // the test ran ExitInstance itself
    CardEmulator emulator{CARDEMU, dir / "COM0", dir / "emu.log"};
};

TEST_F(UserCardDeviceTest, IssueChecksStopBeforeSending) {
    Add("000002", 2, CARD_ISSUED);
    Add("000003", 3, CARD_LOST);
    struct Case {
        const char* cardNo;
        bool password;
        bool edit;
        const char* message;  // nullptr: sent
        bool focusOnCardNo;
    };
    const Case cases[] = {
        {"12345", true, false, "卡号输入6个数字!", true},
        {"12345a", true, false, "卡号输入6个数字!", true},
        {"000001", false, false, "密码输入10个数字!", false},
        {"000002", true, false, "此卡已经发行!", false},
        {"000002", true, true, nullptr, false},   // editing an issued card may write it again
        {"000003", true, false, nullptr, false},  // reported lost
        {"000001", true, false, nullptr, false},  // not in the register
    };
    size_t sent = 0;
    size_t shown = 0;
    for (const Case& c : cases) {
        Click(IDC_CANCEL);
        Click(IDC_NEW);
        if (c.edit) {
            Click(IDC_EDIT);
        }
        Type(IDC_CARD_NO, QString::fromLatin1(c.cardNo));
        window->m_strPassword = c.password ? kPassword : "";
        Click(IDC_ISSUE_CARD);
        ++shown;
        if (c.message != nullptr) {
            EXPECT_EQ(Message(shown), QString::fromUtf8(c.message)) << c.cardNo;
            if (c.focusOnCardNo) {
                EXPECT_EQ(window->focusWidget(), Control(IDC_CARD_NO)) << c.cardNo;
            }
        } else {
            ++sent;
            EXPECT_EQ(Message(shown), QStringLiteral("发卡成功并保存!")) << c.cardNo;
            ASSERT_EQ(Received().size(), sent) << c.cardNo;
            EXPECT_EQ(Received().back().substr(0, 17), "AA 15 A1 " + Spaced(c.cardNo)) << c.cardNo;
            EXPECT_EQ(Card(c.cardNo)->m_nStatus, CARD_ISSUED) << c.cardNo;
        }
    }
    EXPECT_EQ(Received().size(), 3u);
}

TEST_F(UserCardDeviceTest, IssueSendsTheFormAndStoresTheCard) {
    EnterCard(QStringLiteral("000123"));
    Type(IDC_NAME, QStringLiteral("钱八"));
    Click(IdcPort(1));
    Click(IdcPort(16));
    Click(IDC_ISSUE_CARD);
    EXPECT_EQ(Message(1), QStringLiteral("发卡成功并保存!"));
    ASSERT_EQ(Received().size(), 1u);
    EXPECT_EQ(Received()[0],
              "AA 15 A1 00 01 23 99 12 31 58 20 46 39 17 10 00 00 00 00 00 00 01 55");
    const CCard* card = Card("000123");
    ASSERT_NE(card, nullptr);
    EXPECT_EQ(card->m_nStatus, CARD_ISSUED);
    EXPECT_EQ(card->m_nNumber, 1);
    EXPECT_EQ(card->m_strRights, "1000000000000001");
    EXPECT_EQ(card->m_strValidDate, "20991231");
    EXPECT_EQ(FromCodePage(card->m_strName), QStringLiteral("钱八"));
    EXPECT_EQ(Cell(0, 1), QStringLiteral("已发行"));
    EXPECT_EQ(Text(IDC_STATUS), QStringLiteral("已发行"));

    // The device refuses: nothing changes.
    EnterCard(QStringLiteral("000124"));
    emulator.Control("fault fail");
    Click(IDC_ISSUE_CARD);
    EXPECT_EQ(Message(2), QStringLiteral("发卡失败!"));
    EXPECT_EQ(Card("000124"), nullptr);
}

TEST_F(UserCardDeviceTest, ValidityThatACardCannotHoldIsNotSent) {
    EnterCard(QStringLiteral("000001"));
    Picker(IDC_VALID_DATE)->setDate(QDate(2100, 1, 1));
    Click(IDC_ISSUE_CARD);
    EXPECT_EQ(Message(1), QStringLiteral("有效期须为2000-01-01至2099-12-31之间的日期!"));
    EXPECT_EQ(window->focusWidget(), Control(IDC_VALID_DATE));
    Picker(IDC_VALID_DATE)->setDate(QDate(1999, 12, 31));
    Click(IDC_ISSUE_CARD);
    EXPECT_EQ(Message(2), QStringLiteral("有效期须为2000-01-01至2099-12-31之间的日期!"));

    // A stored validity that is no day (the picker shows its text) is not sent either.
    Add("000009", 9).m_strValidDate = "00000000";
    Click(IDC_SHOW_ALL);
    Click(IDC_CANCEL);
    ClickRow(0);
    Click(IDC_ISSUE_CARD);
    EXPECT_EQ(Message(3), QStringLiteral("有效期须为2000-01-01至2099-12-31之间的日期!"));
    EXPECT_TRUE(Received().empty());
}

TEST_F(UserCardDeviceTest, FiveCardsIssuedOneAfterTheOther) {
    for (int n = 1; n <= 5; ++n) {
        Add(CardNoText(n), n).m_strRights = n % 2 ? "0000000000000001" : "1000000000000000";
    }
    Open();
    ClickRow(0);
    for (int n = 1; n <= 5; ++n) {
        Click(IDC_ISSUE_CARD);
        EXPECT_EQ(Message(static_cast<size_t>(n)), QStringLiteral("发卡成功并保存!")) << n;
    }
    const std::vector<std::string> frames = Received();
    ASSERT_EQ(frames.size(), 5u);
    for (int n = 1; n <= 5; ++n) {
        const std::string& frame = frames[static_cast<size_t>(n - 1)];
        EXPECT_EQ(frame.substr(9, 8), Spaced(CardNoText(n))) << frame;
        EXPECT_EQ(frame.substr(14 * 3, 2), n % 2 ? "00" : "10") << frame;  // R0: doors 16, 15
        EXPECT_EQ(Card(CardNoText(n))->m_nStatus, CARD_ISSUED) << n;
        EXPECT_EQ(Cell(n - 1, 1), QStringLiteral("已发行")) << n;
    }
    // After the last row the form and the mark stay there.
    EXPECT_EQ(Text(IDC_CARD_NO), QStringLiteral("000005"));
    EXPECT_EQ(window->m_list.GetSelectionMark(), 4);
    EXPECT_EQ(app.m_mapCards.GetCount(), 5u);
}

TEST_F(UserCardDeviceTest, ReadingACardFillsTheForm) {
    CCard& card = Add("000007", 7, CARD_ISSUED);
    card.m_strName = "Zhou";
    card.m_strPaid = "100";
    card.m_strRights = "1111111111111111";
    card.m_strValidDate = "20250101";
    card.m_strRegDate = "20230405";
    window->m_strPassword = kPassword;
    Click(IDC_MODE_EXTEND);
    emulator.Control("place user 000007 301231 0000000000000011");
    Click(IDC_READ_CARD);
    EXPECT_EQ(Message(1), QStringLiteral("卡号[000007]读卡成功!"));
    EXPECT_EQ(Received(), std::vector<std::string>{"AA 07 A2 58 20 46 39 17 55"});
    EXPECT_EQ(Text(IDC_CARD_NO), QStringLiteral("000007"));
    EXPECT_EQ(Picker(IDC_VALID_DATE)->date(), QDate(2030, 12, 31));  // the card's, not the record's
    EXPECT_TRUE(Checked(IdcPort(1)));
    EXPECT_TRUE(Checked(IdcPort(2)));
    EXPECT_FALSE(Checked(IdcPort(3)));
    EXPECT_FALSE(Checked(IDC_ALL_PORTS));
    EXPECT_EQ(Text(IDC_NAME), QStringLiteral("Zhou"));
    EXPECT_EQ(Text(IDC_PAID), QStringLiteral("100"));
    EXPECT_EQ(Text(IDC_NUMBER), QStringLiteral("7"));
    EXPECT_EQ(Picker(IDC_REG_DATE)->date(), QDate(2023, 4, 5));
    EXPECT_EQ(window->m_strPassword, kPassword);
    EXPECT_EQ(Card("000007")->m_strRights, "1111111111111111");  // the register is unchanged

    // A card that the register does not know: number, validity and doors only.
    emulator.Control("place user 000042 281130 1111111111111111");
    Click(IDC_READ_CARD);
    EXPECT_EQ(Message(2), QStringLiteral("卡号[000042]读卡成功!"));
    EXPECT_EQ(Text(IDC_CARD_NO), QStringLiteral("000042"));
    EXPECT_EQ(Picker(IDC_VALID_DATE)->date(), QDate(2028, 11, 30));
    EXPECT_TRUE(Checked(IDC_ALL_PORTS));
    EXPECT_EQ(Text(IDC_NAME), QStringLiteral("Zhou"));
    EXPECT_EQ(Card("000042"), nullptr);

    // No user card on the device: the time-out reply.
    emulator.Control("remove");
    Click(IDC_READ_CARD);
    EXPECT_EQ(Message(3), QStringLiteral("读取超时!"));
    EXPECT_EQ(Text(IDC_CARD_NO), QStringLiteral("000042"));

    // Without a password nothing is sent.
    window->m_strPassword.clear();
    Click(IDC_READ_CARD);
    EXPECT_EQ(Message(4), QStringLiteral("密码输入10个数字!"));
    EXPECT_EQ(Received().size(), 3u);
}

TEST_F(UserCardDeviceTest, ExtendingUpdatesFormRegisterListAndPayment) {
    Add("000007", 7, CARD_ISSUED).m_strPaid = "100";
    Add("000008", 8, CARD_ISSUED);
    Open();
    window->m_strPassword = kPassword;
    Click(IDC_MODE_EXTEND);
    emulator.Control("place user 000007 251231 1111111111111111");
    Click(IDC_READ_CARD);
    EXPECT_EQ(Message(1), QStringLiteral("卡号[000007]读卡成功!"));
    Picker(IDC_EXTEND_DATE)->setDate(QDate(2031, 3, 15));
    Type(IDC_EXTEND_FEE, QStringLiteral("12.5"));
    Click(IDC_EXTEND);
    EXPECT_EQ(Message(2), QStringLiteral("延期设定成功!"));
    ASSERT_EQ(Received().size(), 2u);
    EXPECT_EQ(Received()[1], "AA 0A A3 31 03 15 58 20 46 39 17 55");
    EXPECT_EQ(Picker(IDC_VALID_DATE)->date(), QDate(2031, 3, 15));
    EXPECT_EQ(Card("000007")->m_strValidDate, "20310315");
    EXPECT_EQ(Card("000007")->m_strPaid, "112.5");
    EXPECT_EQ(Text(IDC_PAID), QStringLiteral("112.5"));
    EXPECT_EQ(Text(IDC_EXTEND_FEE), QString());  // recorded, so not recorded again
    EXPECT_EQ(Cell(0, 4), QStringLiteral("20310315"));
    EXPECT_EQ(Cell(1, 4), QStringLiteral("20301231"));
    EXPECT_EQ(boxes.shown().size(), 2u);

    // The device refuses.
    emulator.Control("fault fail");
    Click(IDC_EXTEND);
    EXPECT_EQ(Message(3), QStringLiteral("延期设定失败!"));
    EXPECT_EQ(Card("000007")->m_strPaid, "112.5");

    // A card without a record: only the form's validity, and the payment is not recorded.
    emulator.Control("place user 000099 251231 1111111111111111");
    Click(IDC_READ_CARD);
    EXPECT_EQ(Message(4), QStringLiteral("卡号[000099]读卡成功!"));
    Picker(IDC_EXTEND_DATE)->setDate(QDate(2032, 1, 2));
    Type(IDC_EXTEND_FEE, QStringLiteral("12.5"));
    Click(IDC_EXTEND);
    EXPECT_EQ(Message(5), QStringLiteral("延期设定成功!"));
    EXPECT_EQ(Message(6), QStringLiteral("卡号[000099]没有登记,缴费12.5元只记入了操作记录!"));
    EXPECT_EQ(Picker(IDC_VALID_DATE)->date(), QDate(2032, 1, 2));
    EXPECT_EQ(app.m_mapCards.GetCount(), 2u);
    EXPECT_EQ(Card("000008")->m_strValidDate, "20301231");
}

TEST_F(UserCardDeviceTest, ThePaymentRecordedIsTheOneSentAndOnlyOnce) {
    Add("000007", 7, CARD_ISSUED).m_strPaid = "100";
    Open();
    window->m_strPassword = kPassword;
    Click(IDC_MODE_EXTEND);
    emulator.Control("place user 000007 251231 1111111111111111");
    Click(IDC_READ_CARD);
    EXPECT_EQ(Message(1), QStringLiteral("卡号[000007]读卡成功!"));
    // The device takes its time: the operator types the next amount before the reply.
    emulator.Control("fault silent");
    Type(IDC_EXTEND_FEE, QStringLiteral("12.5"));
    Click(IDC_EXTEND);
    ASSERT_TRUE(WaitForFrames(2));
    Type(IDC_EXTEND_FEE, QStringLiteral("20"));
    emulator.Control("fault reply AA 03 A3 01 55");
    Click(IDC_READ_CARD);  // its answer is the late extension reply
    EXPECT_EQ(Message(2), QStringLiteral("延期设定成功!"));
    EXPECT_EQ(Card("000007")->m_strPaid, "112.5");
    EXPECT_EQ(Text(IDC_EXTEND_FEE), QStringLiteral("20"));  // typed since: kept

    // A second extension with nothing typed records nothing.
    Type(IDC_EXTEND_FEE, QString());
    Click(IDC_EXTEND);
    EXPECT_EQ(Message(3), QStringLiteral("延期设定成功!"));
    EXPECT_EQ(Card("000007")->m_strPaid, "112.5");
    // Nor does a reply that comes without an extension sent with money.
    emulator.Control("fault reply AA 03 A3 01 55");
    Click(IDC_READ_CARD);
    EXPECT_EQ(Message(4), QStringLiteral("延期设定成功!"));
    EXPECT_EQ(Card("000007")->m_strPaid, "112.5");
    EXPECT_EQ(boxes.shown().size(), 4u);
}

TEST_F(UserCardDeviceTest, ANumberLongerThanSixIsShownWholeAndStopsReadAndExtend) {
    // Another card whose number is the first six characters of the one on the device.
    Add("010111", 5, CARD_ISSUED);
    Open();
    window->m_strPassword = kPassword;
    Click(IDC_MODE_EXTEND);
    emulator.Control("fault reply AA 10 A2 01 0B CD 30 12 31 11 11 11 11 11 11 11 11 55");
    Click(IDC_READ_CARD);
    EXPECT_EQ(Message(1), QStringLiteral("卡号[010111213]读卡成功!"));
    EXPECT_EQ(Text(IDC_CARD_NO), QStringLiteral("010111213"));
    Click(IDC_EXTEND);  // 延期
    EXPECT_EQ(Message(2), QStringLiteral("请填入不多于6个的字符。"));
    Click(IDC_READ_CARD);  // 读卡
    EXPECT_EQ(Message(3), QStringLiteral("请填入不多于6个的字符。"));
    QTest::qWait(200);
    EXPECT_EQ(Received().size(), 1u);
    EXPECT_EQ(Card("010111")->m_strValidDate, "20301231");
    EXPECT_EQ(boxes.shown().size(), 3u);
}

TEST_F(UserCardDeviceTest, ExtensionPaymentChecks) {
    window->m_strPassword = kPassword;
    Click(IDC_MODE_EXTEND);
    emulator.Control("place user 000007 251231 1111111111111111");
    const struct {
        const char* fee;
        bool passes;
    } cases[] = {{"12.5", true}, {"10", true},     {"", true},    {"0.5", false}, {".5", false},
                 {"5.", false},  {"1.2.3", false}, {"-5", false}, {"0", false}};
    size_t shown = 0;
    size_t sent = 0;
    for (const auto& c : cases) {
        Type(IDC_EXTEND_FEE, QString::fromLatin1(c.fee));
        Click(IDC_EXTEND);
        ++shown;
        if (c.passes) {
            ++sent;
            EXPECT_EQ(Message(shown), QStringLiteral("延期设定成功!")) << c.fee;
            if (*c.fee != '\0') {
                EXPECT_EQ(Message(++shown), QStringLiteral("卡号[]没有登记,缴费%1元只记入了操作记录!")
                                                .arg(QString::fromLatin1(c.fee)))
                    << c.fee;
            }
        } else {
            EXPECT_EQ(Message(shown), QStringLiteral("输入正确金额格式!")) << c.fee;
            EXPECT_EQ(window->focusWidget(), Control(IDC_EXTEND_FEE)) << c.fee;
        }
        EXPECT_EQ(Received().size(), sent) << c.fee;
    }
}

TEST_F(UserCardDeviceTest, RepliesThatChangeNothing) {
    struct Case {
        const char* reply;
        int button;
        const char* message;  // nullptr: ignored
    };
    const Case cases[] = {
        {"AA 03 A1 02 55", IDC_ISSUE_CARD, nullptr},  // result neither 0 nor 1
        {"AA 03 A3 07 55", IDC_EXTEND, nullptr},      //
        {"AA 03 A4 01 55", IDC_ISSUE_CARD, nullptr},  // another command's reply
        {"AA 03 A8 00 55", IDC_EXTEND, nullptr},      //
        {"AA 03 A1 01 54", IDC_ISSUE_CARD, "接收数据格式帧尾错误!"},
        {"55 03 A1 01 55", IDC_ISSUE_CARD, "接收数据格式帧头错误!"},
        {"AA 02 A1 01 55", IDC_ISSUE_CARD, "接收数据格式帧头错误!"},  // more than LEN says
        // LEN promises a byte more, which never comes.
        {"AA 04 A1 01 55", IDC_ISSUE_CARD, "读卡器没有回应,请检查读卡器和连接。"},
        {"AA 03 A1 00 55", IDC_ISSUE_CARD, "发卡失败!"},
        {"AA 03 A3 00 55", IDC_EXTEND, "延期设定失败!"},
        {"AA 03 A2 00 55", IDC_READ_CARD, "读取超时!"},
    };
    app.m_replyHandoff.SetReplyTimeout(std::chrono::milliseconds(1000));
    window->m_strPassword = kPassword;
    for (const Case& c : cases) {
        boxes.clear();
        const size_t before = Received().size();
        Click(c.button == IDC_ISSUE_CARD ? IDC_MODE_ISSUE : IDC_MODE_EXTEND);
        Click(IDC_CANCEL);
        Click(IDC_NEW);
        Type(IDC_CARD_NO, QStringLiteral("000555"));
        window->m_strPassword = kPassword;
        emulator.Control(std::string("fault reply ") + c.reply);
        Click(c.button);
        ASSERT_TRUE(WaitForFrames(before + 1)) << c.reply;
        if (c.message == nullptr) {
            // A read afterwards is answered; nothing came before its message.
            Click(IDC_MODE_EXTEND);
            emulator.Control("remove");
            Click(IDC_READ_CARD);
            EXPECT_EQ(Message(1), QStringLiteral("读取超时!")) << c.reply;
            EXPECT_EQ(boxes.shown().size(), 1u) << c.reply;
        } else {
            EXPECT_EQ(Message(1), QString::fromUtf8(c.message)) << c.reply;
        }
        EXPECT_EQ(Card("000555"), nullptr) << c.reply;
    }
}

TEST_F(UserCardDeviceTest, ReplyInTwoBurstsAndReplyAfterTheWindowHasGone) {
    // The reader wrote the card and its reply came in two pieces: one reply, the card issued.
    EnterCard(QStringLiteral("000001"));
    emulator.Control("fault split");
    Click(IDC_ISSUE_CARD);
    EXPECT_EQ(Message(1), QStringLiteral("发卡成功并保存!"));
    ASSERT_NE(Card("000001"), nullptr);
    EXPECT_EQ(Card("000001")->m_nStatus, CARD_ISSUED);
    // The card data too, and bytes that cannot begin a frame are still reported.
    Click(IDC_MODE_EXTEND);
    emulator.Control("place user 000042 281130 1111111111111111");
    emulator.Control("fault split");
    Click(IDC_READ_CARD);
    EXPECT_EQ(Message(2), QStringLiteral("卡号[000042]读卡成功!"));
    emulator.Control("fault garbage");
    Click(IDC_READ_CARD);
    EXPECT_EQ(Message(3), QStringLiteral("接收数据格式帧头错误!"));
    EXPECT_EQ(boxes.shown().size(), 3u);

    window.reset();
    EXPECT_EQ(app.m_replyHandoff.Receiver(), nullptr);
    app.m_replyHandoff.Write(BuildReadCardFrame(kPassword));
    ASSERT_TRUE(WaitForFrames(4));
    QTest::qWait(200);
    EXPECT_EQ(boxes.shown().size(), 3u);
}

TEST_F(UserCardDeviceTest, NoReplyIsToldAndTheWindowGoesOnAsAfterAFailure) {
    app.m_replyHandoff.SetReplyTimeout(std::chrono::milliseconds(1000));
    const QString noReply = QStringLiteral("读卡器没有回应,请检查读卡器和连接。");
    EnterCard(QStringLiteral("000001"));
    emulator.Control("fault silent");
    Click(IDC_ISSUE_CARD);
    EXPECT_EQ(Message(1), noReply);
    EXPECT_EQ(Card("000001"), nullptr);
    // The device's next answer is as before.
    Click(IDC_ISSUE_CARD);
    EXPECT_EQ(Message(2), QStringLiteral("发卡成功并保存!"));
    EXPECT_EQ(Card("000001")->m_nStatus, CARD_ISSUED);

    // An extension whose reply does not come records no payment; the next one does.
    Add("000007", 7, CARD_ISSUED).m_strPaid = "100";
    window->m_strPassword = kPassword;
    Click(IDC_MODE_EXTEND);
    emulator.Control("place user 000007 251231 1111111111111111");
    Click(IDC_READ_CARD);
    EXPECT_EQ(Message(3), QStringLiteral("卡号[000007]读卡成功!"));
    Type(IDC_EXTEND_FEE, QStringLiteral("10"));
    emulator.Control("mode silent");
    Click(IDC_EXTEND);
    EXPECT_EQ(Message(4), noReply);
    EXPECT_EQ(Card("000007")->m_strPaid, "100");
    emulator.Control("mode split 100");
    Click(IDC_EXTEND);
    EXPECT_EQ(Message(5), QStringLiteral("延期设定成功!"));
    EXPECT_EQ(Card("000007")->m_strPaid, "110");
    EXPECT_EQ(boxes.shown().size(), 5u);
}

TEST_F(UserCardDeviceTest, AnUnpluggedReaderIsToldAndOpenedAgainWhenItIsBack) {
    const QString noPort = QStringLiteral("端口没有打开,请在端口设置中选择读卡器的端口。");
    EnterCard(QStringLiteral("000001"));
    // The emulator ends: its end of the line closes and the program's hangs up.
    const std::string oldDevice = ReadLink(dir / "COM0");
    ASSERT_TRUE(emulator.Control("quit"));
    EXPECT_EQ(Message(1), QStringLiteral("读卡器连接已断开,请检查读卡器和连接。"
                                         "程序会在读卡器重新连接后自动打开端口。"));
    EXPECT_FALSE(app.m_comPort.IsOpen());
    Click(IDC_ISSUE_CARD);
    EXPECT_EQ(Message(2), noPort);
    // The entry still leads to the device that has gone: nothing opens.
    ASSERT_EQ(::symlink(oldDevice.c_str(), (dir / "COM0").c_str()), 0);
    QTest::qWait(1500);
    EXPECT_FALSE(app.m_comPort.IsOpen());

    // The reader is back behind the same entry, pointed at its new line.
    CardEmulator back{CARDEMU, dir / "COM0", dir / "emu2.log"};
    ASSERT_TRUE(back.ready());
    ASSERT_TRUE(QTest::qWaitFor([&] { return app.m_comPort.IsOpen(); }, 10000));
    Click(IDC_ISSUE_CARD);
    EXPECT_EQ(Message(3), QStringLiteral("发卡成功并保存!"));
    EXPECT_EQ(Card("000001")->m_nStatus, CARD_ISSUED);
    EXPECT_EQ(EmulatorFrames(dir / "emu2.log").size(), 1u);
    EXPECT_EQ(boxes.shown().size(), 3u);
}

TEST_F(UserCardDeviceTest, APortThatFailsToCloseIsToldAtExit) {
    window.reset();
    ended = true;
    ScopedIoOverride io;
    FailNextCloseOf(app.m_comPort.Descriptor());
    EXPECT_EQ(app.ExitInstance(), 0);
    ASSERT_EQ(boxes.shown().size(), 1u);
    EXPECT_EQ(boxes.shown()[0].text,
              QStringLiteral("读卡器的端口关闭时出错:设备读写错误 (errno 5)"));
    EXPECT_FALSE(app.m_comPort.IsOpen());
}

// Without a serial link: the form's checks first, then the port's state where the frame
// would be sent.
class UserCardNoPortTest : public UserCardTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(app.InitInstance());  // no COM0 in the folder
        ASSERT_EQ(boxes.shown().size(), 1u);
        startUp = boxes.shown()[0].text;
        boxes.clear();
        Open(QSize(1280, 800));
    }
    void TearDown() override {
        window.reset();
        app.ExitInstance();
    }
    QString startUp;
};

TEST_F(UserCardNoPortTest, StartUpNamesThePortAndEveryButtonSaysThatItIsNotOpen) {
    EXPECT_EQ(
        startUp,
        QStringLiteral("打开连接失败,请检查端口设置.\n\n端口号:0\n设备:%1\n%2")
            .arg(QString::fromStdString(dir / "COM0"),
                 QStringLiteral("找不到这个设备:读卡器可能没有插上,或者端口号不对。 (errno 2)")));
    const QString noPort = QStringLiteral("端口没有打开,请在端口设置中选择读卡器的端口。");
    const struct {
        int mode;
        int button;
        const char* cardNo;
        const char* password;
        QString message;
    } cases[] = {
        {IDC_MODE_ISSUE, IDC_ISSUE_CARD, "12345", kPassword, QStringLiteral("卡号输入6个数字!")},
        {IDC_MODE_ISSUE, IDC_ISSUE_CARD, "000001", "", QStringLiteral("密码输入10个数字!")},
        {IDC_MODE_ISSUE, IDC_ISSUE_CARD, "000001", kPassword, noPort},
        {IDC_MODE_EXTEND, IDC_READ_CARD, "", "", QStringLiteral("密码输入10个数字!")},
        {IDC_MODE_EXTEND, IDC_READ_CARD, "", kPassword, noPort},
        {IDC_MODE_EXTEND, IDC_EXTEND, "000001", kPassword, noPort},
    };
    size_t shown = 0;
    for (const auto& c : cases) {
        Click(c.mode);
        if (c.mode == IDC_MODE_ISSUE) {
            Click(IDC_CANCEL);
            Click(IDC_NEW);
            Type(IDC_CARD_NO, QString::fromLatin1(c.cardNo));
        }
        window->m_strPassword = c.password;
        Click(c.button);
        EXPECT_EQ(Message(++shown), c.message) << c.button << " " << c.cardNo;
    }
    EXPECT_EQ(boxes.shown().size(), shown);
    EXPECT_EQ(Card("000001"), nullptr);
}

// The extension reaches the register file when the program ends.
class UserCardDeviceFileTest : public UserCardDeviceTest {
protected:
    void SetUp() override {
        CCardMap map;
        auto card = MakeCard("000007", 7);
        card->m_nStatus = CARD_ISSUED;
        card->m_strValidDate = "20251231";
        map.SetAt("000007", std::move(card));
        registerFile = RegisterBytes(map);
        UserCardDeviceTest::SetUp();
    }
};

TEST_F(UserCardDeviceFileTest, ExtensionIsInTheRegisterFileAfterExit) {
    ASSERT_NE(Card("000007"), nullptr);
    window->m_strPassword = kPassword;
    Click(IDC_MODE_EXTEND);
    emulator.Control("place user 000007 251231 1111111111111111");
    Click(IDC_READ_CARD);
    EXPECT_EQ(Message(1), QStringLiteral("卡号[000007]读卡成功!"));
    Picker(IDC_EXTEND_DATE)->setDate(QDate(2029, 9, 9));
    Click(IDC_EXTEND);
    EXPECT_EQ(Message(2), QStringLiteral("延期设定成功!"));
    window.reset();
    ended = true;
    EXPECT_EQ(app.ExitInstance(), 0);

    CCardMap saved;
    ASSERT_TRUE(LoadsWhole(dir / "cardbook.kcd", saved));
    ASSERT_NE(saved.Lookup("000007"), nullptr);
    EXPECT_EQ(saved.Lookup("000007")->m_strValidDate, "20290909");
    EXPECT_EQ(saved.Lookup("000007")->m_nStatus, CARD_ISSUED);
}

// The reader has written both cards and the program then ends without its shut-down: the
// journal holds the extension with its payment and the issued card.
TEST_F(UserCardDeviceFileTest, ExtensionAndIssueAreOnDiskBeforeTheyAreConfirmed) {
    window->m_strPassword = kPassword;
    Click(IDC_MODE_EXTEND);
    emulator.Control("place user 000007 251231 1111111111111111");
    Click(IDC_READ_CARD);
    EXPECT_EQ(Message(1), QStringLiteral("卡号[000007]读卡成功!"));
    Picker(IDC_EXTEND_DATE)->setDate(QDate(2029, 9, 9));
    Type(IDC_EXTEND_FEE, QStringLiteral("30"));
    Click(IDC_EXTEND);
    EXPECT_EQ(Message(2), QStringLiteral("延期设定成功!"));
    Click(IDC_MODE_ISSUE);
    EnterCard(QStringLiteral("000010"));
    Type(IDC_NAME, QStringLiteral("孙九"));
    Click(IDC_ISSUE_CARD);
    EXPECT_EQ(Message(3), QStringLiteral("发卡成功并保存!"));

    const std::string registerBefore = ReadFile(dir / "cardbook.kcd");
    Restarted restarted(dir / "cardbook.kcd");
    ASSERT_TRUE(restarted.opened) << restarted.error;
    EXPECT_EQ(restarted.report.replayed, 2u);
    const CCard* extended = restarted.map.Lookup("000007");
    ASSERT_NE(extended, nullptr);
    EXPECT_EQ(extended->m_strValidDate, "20290909");
    EXPECT_EQ(extended->m_strPaid, "30");
    const CCard* issued = restarted.map.Lookup("000010");
    ASSERT_NE(issued, nullptr);
    EXPECT_EQ(issued->m_nStatus, CARD_ISSUED);
    EXPECT_EQ(ReadFile(dir / "cardbook.kcd"), registerBefore);  // only the journal was written
}

}  // namespace
