// The application object's start-up and shut-down with real files in a temporary folder.

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>
#include <QtTest/QTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "SerialDeviceFolder.h"
#include "TestUtil.h"
#include "WindowDriver.h"
#include "app/AppIcon.h"
#include "app/MainFrm.h"
#include "app/OrvaneApp.h"
#include "app/OrvaneView.h"
#include "app/PortSetDlg.h"
#include "app/PortSetIds.h"
#include "base/PosixIo.h"
#include "protocol/Frame.h"
#include "register/Archive.h"
#include "register/RegisterFile.h"

namespace {

std::string RegisterOf(std::initializer_list<std::pair<const char*, int>> cards) {
    CCardMap map;
    for (const auto& [key, number] : cards) {
        map.SetAt(key, MakeCard(key, number));
    }
    return RegisterBytes(map);
}

// A program folder whose port 0 ("COM0") is linked to a pseudo-terminal playing the device.
class AppTest : public ::testing::Test, public WindowDriver {
protected:
    void SetUp() override {
        ASSERT_FALSE(device.slave.empty());
        ASSERT_EQ(::symlink(device.slave.c_str(), (dir / "COM0").c_str()), 0);
    }
    TempDir dir;
    PseudoTerminal device;
};

TEST_F(AppTest, MainWindowAsTheOperatorSeesIt) {
    COrvaneApp app(dir.path());
    ASSERT_TRUE(app.InitInstance());
    CMainFrame* frame = app.MainFrame();
    ASSERT_NE(frame, nullptr);
    EXPECT_TRUE(frame->isVisible());
    EXPECT_TRUE(frame->windowState() & Qt::WindowMaximized);
    EXPECT_EQ(frame->windowTitle(), QStringLiteral("发卡软件"));
    // The program's own icon, on the main window and on every window without one of its own.
    const QImage icon = AppIconPixmap(48).toImage();
    EXPECT_EQ(frame->windowIcon().pixmap(48).toImage(), icon);
    EXPECT_EQ(QApplication::windowIcon().pixmap(48).toImage(), icon);

    const QList<QAction*> menus = frame->menuBar()->actions();
    ASSERT_EQ(menus.size(), 1);
    EXPECT_EQ(menus[0]->text(), QStringLiteral("设置"));
    const QList<QAction*> entries = menus[0]->menu()->actions();
    ASSERT_EQ(entries.size(), 11);
    const char* const expected[] = {"用户卡",    "管理卡", "端口设置",  "卡片登记位置…",
                                    "批量登记…", "",       "操作记录…", "收费汇总…",
                                    "即将到期…", "",       "退出(&X)"};
    for (int i = 0; i < 11; ++i) {
        EXPECT_EQ(entries[i]->text(), QString::fromUtf8(expected[i])) << i;
        EXPECT_TRUE(entries[i]->isEnabled()) << i;
    }
    EXPECT_EQ(entries[3]->data().toInt(), ID_REGISTER_PLACE);
    EXPECT_EQ(entries[4]->data().toInt(), ID_BATCH_ENROL);
    EXPECT_TRUE(entries[5]->isSeparator());
    EXPECT_EQ(entries[6]->data().toInt(), ID_HISTORY);
    EXPECT_EQ(entries[7]->data().toInt(), ID_FEE_SUMMARY);
    EXPECT_EQ(entries[8]->data().toInt(), ID_EXPIRING);
    EXPECT_TRUE(entries[9]->isSeparator());

    QToolBar* toolBar = frame->ToolBar();
    EXPECT_EQ(toolBar->iconSize(), QSize(32, 32));
    const QList<QAction*> buttons = toolBar->actions();
    ASSERT_EQ(buttons.size(), 4);
    const int ids[] = {ID_USER_CARD, ID_MANAGE_CARD, ID_PORT_SET, ID_APP_ABOUT};
    const char* tips[] = {"用户卡", "管理卡", "端口设置", "关于"};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(buttons[i]->data().toInt(), ids[i]);
        EXPECT_EQ(buttons[i]->toolTip(), QString::fromUtf8(tips[i]));
        EXPECT_FALSE(buttons[i]->icon().pixmap(32, 32).isNull());
    }
    EXPECT_EQ(frame->Command(ID_APP_ABOUT)->statusTip(),
              QStringLiteral("显示程序信息，版本号和版权"));

    auto* idle = frame->statusBar()->findChild<QLabel*>("idleText");
    ASSERT_NE(idle, nullptr);
    EXPECT_EQ(idle->text(), QStringLiteral("就绪"));
    const char* indicators[] = {"大写", "数字", "滚动"};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(frame->Indicator(i)->text(), QString::fromUtf8(indicators[i]));
        EXPECT_TRUE(frame->Indicator(i)->isVisible());
    }

    auto* view = qobject_cast<COrvaneView*>(frame->centralWidget());
    ASSERT_NE(view, nullptr);
    const QImage image = view->grab().toImage();
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.pixelColor(image.width() / 2, image.height() / 2), QColor(220, 220, 220));

    EXPECT_TRUE(boxes.shown().empty());
    app.ExitInstance();
}

TEST_F(AppTest, ExitCommandClosesTheMainWindow) {
    COrvaneApp app(dir.path());
    ASSERT_TRUE(app.InitInstance());
    app.MainFrame()->Command(ID_APP_EXIT)->trigger();
    EXPECT_FALSE(app.MainFrame()->isVisible());
    app.ExitInstance();
    EXPECT_TRUE(FileExists(dir / "set.ini"));
}

TEST_F(AppTest, FreshFolderStartsWithDefaultsAndExitCreatesOnlyThePassword) {
    {
        COrvaneApp app(dir.path());
        ASSERT_TRUE(app.InitInstance());
        EXPECT_EQ(app.m_strAppDir, dir.path());
        EXPECT_EQ(app.m_nComPort, 0);
        EXPECT_EQ(app.m_strSysPassword, "5820463917");
        EXPECT_TRUE(app.m_mapCards.IsEmpty());
        EXPECT_EQ(app.m_mapCards.GetHashTableSize(), 12001u);
        EXPECT_EQ(app.m_nMaxNumber, 0u);
        EXPECT_EQ(app.ExitInstance(), 0);
    }
    EXPECT_EQ(ReadFile(dir / "set.ini"), "[set]\r\npass=5820463917\r\n");
    // Beside the settings only the journal (empty) and the lock that one program holds.
    EXPECT_EQ(ListDir(dir.path()),
              (std::vector<std::string>{"COM0", "cardbook.kcd.history", "cardbook.kcd.journal",
                                        "cardbook.kcd.lock", "set.ini"}));
    EXPECT_TRUE(boxes.shown().empty());
}

TEST_F(AppTest, SettingsAreReadAndThePasswordWrittenBack) {
    WriteFile(dir / "set.ini", "[set]\r\ncom=12\r\npass=123456789012\r\n; keep me\r\n");
    COrvaneApp app(dir.path());
    ASSERT_TRUE(app.InitInstance());
    EXPECT_EQ(app.m_nComPort, 12);
    EXPECT_EQ(app.m_strSysPassword, "123456789012");
    app.m_strSysPassword = "0123456789";
    app.ExitInstance();
    EXPECT_EQ(ReadFile(dir / "set.ini"), "[set]\r\ncom=12\r\npass=0123456789\r\n; keep me\r\n");
}

TEST_F(AppTest, RegisterIsLoadedAndWrittenAtExitWithBackup) {
    const std::string original = RegisterOf({{"000005", 5}, {"000017", 17}, {"000009", 9}});
    WriteFile(dir / "cardbook.kcd", original);
    WriteFile(dir / "cardbook.kcd.old", "previous backup");
    {
        COrvaneApp app(dir.path());
        ASSERT_TRUE(app.InitInstance());
        EXPECT_EQ(app.m_mapCards.GetCount(), 3u);
        EXPECT_EQ(app.m_nMaxNumber, 17u);
        app.m_mapCards.SetAt("000018", MakeCard("000018", 18));
        app.ExitInstance();
    }
    EXPECT_TRUE(SameBytes(ReadFile(dir / "cardbook.kcd.old"), original));
    EXPECT_TRUE(
        SameBytes(ReadFile(dir / "cardbook.kcd"),
                  RegisterOf({{"000005", 5}, {"000017", 17}, {"000009", 9}, {"000018", 18}})));
    EXPECT_EQ(ListDir(dir.path()),
              (std::vector<std::string>{"COM0", "cardbook.kcd", "cardbook.kcd.history",
                                        "cardbook.kcd.journal", "cardbook.kcd.lock",
                                        "cardbook.kcd.old", "set.ini"}));
}

TEST_F(AppTest, AnEmptiedRegisterIsNotWritten) {
    const std::string original = RegisterOf({{"000001", 1}});
    WriteFile(dir / "cardbook.kcd", original);
    {
        COrvaneApp app(dir.path());
        ASSERT_TRUE(app.InitInstance());
        app.m_mapCards.RemoveKey("000001");
        app.ExitInstance();
    }
    EXPECT_TRUE(SameBytes(ReadFile(dir / "cardbook.kcd"), original));
    EXPECT_FALSE(FileExists(dir / "cardbook.kcd.old"));
}

TEST_F(AppTest, DamagedRegisterIsReportedAndNeverOverwritten) {
    const std::string damaged = OneCardFile().substr(0, 70);
    WriteFile(dir / "cardbook.kcd", damaged);
    WriteFile(dir / "cardbook.kcd.old", "good old backup");
    {
        // Nothing to save: the damaged file stays where it is.
        COrvaneApp app(dir.path());
        ASSERT_TRUE(app.InitInstance());
        ASSERT_EQ(boxes.shown().size(), 1u);
        const QString text = boxes.shown()[0].text;
        EXPECT_TRUE(text.contains(QString::fromStdString(dir / "cardbook.kcd")))
            << text.toStdString();
        EXPECT_TRUE(text.contains(QStringLiteral("偏移"))) << text.toStdString();
        EXPECT_EQ(boxes.shown()[0].caption, QStringLiteral("orvane"));
        EXPECT_EQ(boxes.shown()[0].icon, QMessageBox::Warning);
        EXPECT_TRUE(app.m_mapCards.IsEmpty());
        app.ExitInstance();
    }
    EXPECT_TRUE(SameBytes(ReadFile(dir / "cardbook.kcd"), damaged));
    boxes.clear();
    {
        // New cards to save: the damaged file is first kept under a name of its own.
        COrvaneApp app(dir.path());
        ASSERT_TRUE(app.InitInstance());
        app.m_mapCards.SetAt("000001", MakeCard("000001"));
        app.ExitInstance();
    }
    std::string keptName;
    for (const std::string& name : ListDir(dir.path())) {
        if (name.rfind("cardbook.kcd.damaged-", 0) == 0) {
            keptName = name;
        }
    }
    ASSERT_FALSE(keptName.empty());
    EXPECT_TRUE(SameBytes(ReadFile(dir / keptName), damaged));
    EXPECT_TRUE(SameBytes(ReadFile(dir / "cardbook.kcd"), OneCardFile()));
    EXPECT_EQ(ReadFile(dir / "cardbook.kcd.old"), "good old backup");
    ASSERT_EQ(boxes.shown().size(), 2u);
    EXPECT_TRUE(boxes.shown()[1].text.contains(QString::fromStdString(keptName)));
}

int FailRename(const char*, const char*) {
    errno = EIO;
    return -1;
}

TEST_F(AppTest, FailedSaveAtExitIsReportedAndCanBeRetried) {
    const std::string original = RegisterOf({{"000001", 1}});
    WriteFile(dir / "cardbook.kcd", original);
    COrvaneApp app(dir.path());
    ASSERT_TRUE(app.InitInstance());
    app.m_mapCards.SetAt("000002", MakeCard("000002", 2));
    {
        ScopedIoOverride restore;
        Io().rename = FailRename;
        AnswerNext(QMessageBox::Ok);
        AnswerNext(QMessageBox::No);
        app.ExitInstance();
    }
    // The password's file is replaced the same way, so it fails too and says so.
    ASSERT_EQ(boxes.shown().size(), 3u);
    EXPECT_TRUE(boxes.shown()[0].text.contains(QStringLiteral("卡片登记无法保存")));
    EXPECT_TRUE(boxes.shown()[0].text.contains(QString::fromStdString(dir / "cardbook.kcd")));
    EXPECT_EQ(boxes.shown()[1].buttons, QMessageBox::Yes | QMessageBox::No);
    EXPECT_TRUE(boxes.shown()[2].text.contains(QStringLiteral("系统密码")));
    EXPECT_TRUE(SameBytes(ReadFile(dir / "cardbook.kcd"), original));
    EXPECT_FALSE(FileExists(dir / "cardbook.kcd.old"));

    // The operator fixes the problem and answers Yes: the second try saves.
    boxes.clear();
    COrvaneApp again(dir.path());
    ASSERT_TRUE(again.InitInstance());
    again.m_mapCards.SetAt("000002", MakeCard("000002", 2));
    {
        ScopedIoOverride restore;
        static int failures;
        failures = 1;
        Io().rename = [](const char* a, const char* b) {
            return failures-- > 0 ? FailRename(a, b) : ::rename(a, b);
        };
        AnswerNext(QMessageBox::Ok);
        AnswerNext(QMessageBox::Yes);
        again.ExitInstance();
    }
    EXPECT_EQ(boxes.shown().size(), 2u);
    EXPECT_TRUE(
        SameBytes(ReadFile(dir / "cardbook.kcd"), RegisterOf({{"000001", 1}, {"000002", 2}})));
}

TEST_F(AppTest, PasswordThatCannotBeWrittenIsReported) {
    ::mkdir((dir / "set.ini").c_str(), 0755);
    COrvaneApp app(dir.path());
    ASSERT_TRUE(app.InitInstance());
    app.ExitInstance();
    ASSERT_EQ(boxes.shown().size(), 1u);
    EXPECT_TRUE(boxes.shown()[0].text.contains(QStringLiteral("系统密码")));
}

// A window in the receiver slot; the hand-off gives it a copy of each reply.
class TestReceiver : public QWidget, public CReplyReceiver {
public:
    void OnCardReply(const CardReply& reply) override { replies.push_back(reply); }
    std::vector<CardReply> replies;
};

TEST_F(AppTest, RepliesReachTheReceiverAndFramesReachTheDevice) {
    COrvaneApp app(dir.path());
    ASSERT_TRUE(app.InitInstance());
    EXPECT_TRUE(boxes.shown().empty());
    ASSERT_TRUE(app.m_comPort.IsOpen());
    TestReceiver receiver;
    app.m_replyHandoff.SetReceiver(&receiver);

    EXPECT_TRUE(app.m_replyHandoff.Write(BuildReadCardFrame("5820463917")));
    device.Send({0xAA, 0x03, 0xA2, 0x00, 0x55});
    ASSERT_TRUE(QTest::qWaitFor([&] { return receiver.replies.size() == 1; }, 10000));
    EXPECT_EQ(receiver.replies[0].dwCount, 5u);
    EXPECT_EQ(receiver.replies[0].data[2], 0xA2);
    device.Send({0xAA, 0x03, 0xA1, 0x01, 0x55});
    ASSERT_TRUE(QTest::qWaitFor([&] { return receiver.replies.size() == 2; }, 10000));

    // A closed receiver gets nothing, and the program still closes at once.
    app.m_replyHandoff.ReleaseReceiver(&receiver);
    device.Send({0xAA, 0x03, 0xA3, 0x01, 0x55});
    QTest::qWait(100);
    EXPECT_EQ(receiver.replies.size(), 2u);
    app.ExitInstance();
    EXPECT_FALSE(app.m_comPort.IsOpen());
}

TEST_F(AppTest, FramesAreWrittenToTheDevice) {
    COrvaneApp app(dir.path());
    ASSERT_TRUE(app.InitInstance());
    const Frame frame = BuildReadSettingsFrame();
    EXPECT_TRUE(app.m_replyHandoff.Write(frame));
    std::string received;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            received += device.Received();
            return received.size() >= frame.size();
        },
        10000));
    EXPECT_EQ(received, std::string(frame.begin(), frame.end()));
    app.ExitInstance();
}

TEST_F(AppTest, ShutDownWhileAReplyWaitsForTheWindowDoesNotHang) {
    COrvaneApp app(dir.path());
    ASSERT_TRUE(app.InitInstance());
    TestReceiver receiver;
    app.m_replyHandoff.SetReceiver(&receiver);
    // The reply is queued for the user-interface thread, which goes straight to shut-down.
    device.Send({0xAA, 0x03, 0xA1, 0x01, 0x55});
    for (int i = 0; i < 10000 && app.m_replyHandoff.Posted() == 0; ++i) {
        ::usleep(1000);  // no events handled meanwhile: the notification stays queued
    }
    ASSERT_EQ(app.m_replyHandoff.Posted(), 1u);
    app.ExitInstance();
    QTest::qWait(50);  // a notification still queued must do nothing now
    EXPECT_TRUE(receiver.replies.empty());
    EXPECT_EQ(app.m_replyHandoff.Handled(), 0u);
}

TEST_F(AppTest, MissingDeviceIsReportedAndTheProgramRunsOn) {
    ::unlink((dir / "COM0").c_str());
    COrvaneApp app(dir.path());
    ASSERT_TRUE(app.InitInstance());
    ASSERT_EQ(boxes.shown().size(), 1u);
    EXPECT_TRUE(boxes.shown()[0].text.startsWith(QStringLiteral("打开连接失败,请检查端口设置.")))
        << boxes.shown()[0].text.toStdString();
    EXPECT_EQ(boxes.shown()[0].icon, QMessageBox::Warning);
    EXPECT_FALSE(app.m_comPort.IsOpen());
    EXPECT_FALSE(app.m_replyHandoff.Write(BuildReadSettingsFrame()));
    EXPECT_TRUE(app.MainFrame()->isVisible());
    app.ExitInstance();
}

// The configured port cannot be opened: the USB adapters present decide what start-up offers.
TEST_F(AppTest, AReaderFoundOnItsOwnIsOffered) {
    ::unlink((dir / "COM0").c_str());
    const std::string byId = "usb-Acme_CardReader_0001-if00-port0";
    const QString question = QStringLiteral(
        "找不到端口COM0的读卡器。发现一个USB串口设备:%1(Acme CardReader),是否使用它?");
    enum Offer { Question, Dialog, Nothing };
    const struct {
        const char* name;
        bool secondUsb;      // another USB adapter beside the reader
        bool secondOnBoard;  // a port on the board beside it
        bool readerIsUsb;
        QMessageBox::StandardButton answer;  // to the question
        Offer offer;
        bool opened;
    } cases[] = {
        {"one USB adapter, yes", false, true, true, QMessageBox::Yes, Question, true},
        {"one USB adapter, no", false, false, true, QMessageBox::No, Question, false},
        {"two USB adapters", true, false, true, QMessageBox::Yes, Dialog, false},
        {"no USB adapter", false, true, false, QMessageBox::Yes, Nothing, false},
    };
    for (const auto& c : cases) {
        TempDir data;
        SerialDeviceFolder folder(data.path());
        folder.Add(device.slave, byId,
                   std::string("ID_VENDOR=Acme\nID_MODEL=CardReader\n") +
                       (c.readerIsUsb ? "ID_BUS=usb\n" : ""));
        if (c.secondUsb) {
            folder.Add(data / "ttyUSB1", "usb-Other_Adapter-if00-port0", "ID_BUS=usb\n");
        }
        if (c.secondOnBoard) {
            folder.Add(data / "ttyS0", "", "");
        }
        boxes.clear();
        if (c.offer == Question) {
            boxes.QueueAnswer(c.answer);
        }
        COrvaneApp app(data.path());
        app.m_pSerialDevices = std::make_unique<CFolderSerialDevices>(folder.Devices());
        int dialogRows = -1;
        if (c.offer == Dialog) {
            QTimer::singleShot(0, [&] {
                auto* dialog = qobject_cast<CPortSetDlg*>(QApplication::activeModalWidget());
                ASSERT_NE(dialog, nullptr) << c.name;
                Drive(dialog);
                dialogRows = Control<QTreeWidget>(PortSetIds::IDC_DEVICE_LIST)->topLevelItemCount();
                ClickButton(QStringLiteral("取消"));
            });
        }
        ASSERT_TRUE(app.InitInstance()) << c.name;
        const QStringList shown = Messages();
        EXPECT_EQ(app.m_comPort.IsOpen(), c.opened) << c.name;
        EXPECT_EQ(dialogRows, c.offer == Dialog ? 2 : -1) << c.name;
        if (c.offer == Question) {
            ASSERT_EQ(shown.size(), 2) << c.name;
            EXPECT_EQ(shown[0], question.arg(QString::fromStdString(folder.ById(byId))));
            EXPECT_EQ(boxes.shown()[0].buttons, QMessageBox::Yes | QMessageBox::No);
        }
        if (c.opened) {
            // As if chosen in the port dialog: the entry leads to the stable name.
            EXPECT_EQ(shown[1], PortSetText(0) + QStringLiteral("\n读卡器的端口已打开。"));
            EXPECT_TRUE(FileExists(data / "set.ini"));
            char target[256] = {};
            ASSERT_GT(::readlink((data / "COM0").c_str(), target, sizeof target - 1), 0);
            EXPECT_EQ(std::string(target), folder.ById(byId));
            const Frame frame = BuildReadSettingsFrame();
            EXPECT_TRUE(app.m_replyHandoff.Write(frame));
        } else {
            // Today's message, unless the operator had the port dialog.
            EXPECT_EQ(shown.size(), c.offer == Question ? 2 : c.offer == Dialog ? 0 : 1) << c.name;
            if (!shown.isEmpty()) {
                EXPECT_TRUE(shown.back().startsWith(QStringLiteral("打开连接失败,请检查端口设置.")))
                    << c.name;
            }
            EXPECT_FALSE(FileExists(data / "COM0")) << c.name;
        }
        app.ExitInstance();
    }
}

// A register of the cards first ... last, each with its card number as serial number.
std::string RegisterRange(int first, int last) {
    CCardMap map;
    char key[8];
    for (int n = first; n <= last; ++n) {
        std::snprintf(key, sizeof key, "%06d", n);
        map.SetAt(key, MakeCard(key, n));
    }
    return RegisterBytes(map);
}

// The cards first ... last whole, then an entry cut short; the count promises ten more.
std::string DamagedRegister(int first, int last) {
    std::string bytes = RegisterRange(first, last);
    bytes[0] = static_cast<char>(last - first + 1 + 10);
    return bytes +
           "\x06"
           "00";
}

// The files of the register's family in `dir` whose content is exactly `bytes`.
std::vector<std::string> FilesHolding(const TempDir& dir, const std::string& bytes) {
    std::vector<std::string> names;
    for (const std::string& name : ListDir(dir.path())) {
        if (name.rfind("cardbook.kcd", 0) == 0 && ReadFile(dir / name) == bytes) {
            names.push_back(name);
        }
    }
    return names;
}

std::vector<std::string> NamesStartingWith(const TempDir& dir, const std::string& prefix) {
    std::vector<std::string> names;
    for (const std::string& name : ListDir(dir.path())) {
        if (name.rfind(prefix, 0) == 0) {
            names.push_back(name);
        }
    }
    return names;
}

TEST_F(AppTest, DamagedRegisterOffersTheBackupEachTimeAndNeverLosesIt) {
    const std::string backup200 = RegisterRange(1, 200);
    WriteFile(dir / "cardbook.kcd.old", backup200);
    const std::time_t written = 1796748471;
    const timespec times[2] = {{written, 0}, {written, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, (dir / "cardbook.kcd.old").c_str(), times, 0), 0);
    char when[32];
    std::tm local{};
    ::localtime_r(&written, &local);
    std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", &local);
    const QString backupLine =
        QStringLiteral("备份文件 %1 完好:200 张卡,保存于 %2。")
            .arg(QString::fromStdString(dir / "cardbook.kcd.old"), QString::fromLatin1(when));
    const QString fromBackup = QStringLiteral("从备份开始(200 张卡)");
    const QString empty = QStringLiteral("以空的卡片登记开始");

    struct Run {
        const char* what;
        std::string damaged;
        QStringList choices;
        int choice;  // -1: the box is closed
        std::string started;
    };
    const Run runs[] = {
        {"from the backup",
         DamagedRegister(301, 350),
         {fromBackup, QStringLiteral("用完好的 50 张卡开始"), empty},
         0,
         backup200},
        {"from the intact records",
         DamagedRegister(401, 430),
         {fromBackup, QStringLiteral("用完好的 30 张卡开始"), empty},
         1,
         RegisterRange(401, 430)},
        {"nothing intact, empty chosen",
         OneCardFile().substr(0, 70),
         {fromBackup, empty},
         1,
         RegisterBytes(CCardMap())},
        {"box closed",
         DamagedRegister(501, 510),
         {fromBackup, QStringLiteral("用完好的 10 张卡开始"), empty},
         -1,
         RegisterBytes(CCardMap())},
    };
    for (const Run& run : runs) {
        WriteFile(dir / "cardbook.kcd", run.damaged);
        boxes.clear();
        {
            COrvaneApp app(dir.path());
            if (run.choice < 0) {
                AnswerNext(QMessageBox::Cancel);
            } else {
                boxes.QueueChoice(run.choice);
            }
            ASSERT_TRUE(app.InitInstance());
            ASSERT_EQ(boxes.shown().size(), 1u) << run.what;
            const Msg::Shown& box = boxes.shown()[0];
            EXPECT_EQ(box.choices, run.choices) << run.what;
            EXPECT_EQ(box.icon, QMessageBox::Warning);
            EXPECT_TRUE(box.text.startsWith(QStringLiteral("卡片登记文件无法读取:\n") +
                                            QString::fromStdString(dir / "cardbook.kcd")))
                << box.text.toStdString();
            EXPECT_TRUE(box.text.contains(backupLine)) << box.text.toStdString();
            EXPECT_TRUE(SameBytes(RegisterBytes(app.m_mapCards), run.started)) << run.what;
            app.m_mapCards.SetAt("000999", MakeCard("000999", 999));
            app.ExitInstance();
        }
        // The damaged file and the backup each got a name of their own, and the operator was
        // told both.
        ASSERT_EQ(boxes.shown().size(), 2u) << run.what;
        const QString told = boxes.shown()[1].text;
        EXPECT_EQ(boxes.shown()[1].icon, QMessageBox::Information);
        const std::vector<std::string> damagedKept = FilesHolding(dir, run.damaged);
        ASSERT_EQ(damagedKept.size(), 1u) << run.what;
        EXPECT_EQ(damagedKept[0].rfind("cardbook.kcd.damaged-", 0), 0u) << damagedKept[0];
        EXPECT_TRUE(told.contains(QString::fromStdString(dir / damagedKept[0])))
            << told.toStdString();
        const std::vector<std::string> backups = NamesStartingWith(dir, "cardbook.kcd.old-");
        ASSERT_FALSE(backups.empty());
        EXPECT_TRUE(told.contains(QString::fromStdString(dir / backups.back())))
            << told.toStdString();
        EXPECT_EQ(ReadFile(dir / backups.back()), backup200) << run.what;
        // The saved register: the cards started with and the one added.
        CCardMap saved;
        ASSERT_TRUE(LoadsWhole(dir / "cardbook.kcd", saved));
        EXPECT_NE(saved.Lookup("000999"), nullptr);
        saved.RemoveKey("000999");
        EXPECT_TRUE(SameBytes(RegisterBytes(saved), run.started)) << run.what;
        EXPECT_FALSE(FilesHolding(dir, backup200).empty()) << run.what;
    }
    EXPECT_EQ(NamesStartingWith(dir, "cardbook.kcd.old-").size(), 4u);

    // Two ordinary exits later the backup holds the new register; the 200 cards are still kept.
    boxes.clear();
    for (int i = 0; i < 2; ++i) {
        COrvaneApp app(dir.path());
        ASSERT_TRUE(app.InitInstance());
        app.ExitInstance();
    }
    EXPECT_TRUE(boxes.shown().empty());
    EXPECT_TRUE(SameBytes(ReadFile(dir / "cardbook.kcd.old"), RegisterOf({{"000999", 999}})));
    const std::vector<std::string> holding200 = FilesHolding(dir, backup200);
    EXPECT_EQ(holding200, NamesStartingWith(dir, "cardbook.kcd.old-"));
    EXPECT_EQ(holding200.size(), 4u);
    EXPECT_EQ(NamesStartingWith(dir, "cardbook.kcd.damaged-").size(), 4u);
}

TEST_F(AppTest, ABackupThatCannotBeKeptStopsTheSaveBeforeTheDamagedFileMoves) {
    const std::string damaged = DamagedRegister(1, 5);
    WriteFile(dir / "cardbook.kcd", damaged);
    ASSERT_EQ(::mkdir((dir / "cardbook.kcd.old").c_str(), 0755), 0);
    COrvaneApp app(dir.path());
    boxes.QueueChoice(1);  // the empty register
    ASSERT_TRUE(app.InitInstance());
    ASSERT_EQ(boxes.shown().size(), 1u);
    EXPECT_EQ(boxes.shown()[0].choices, (QStringList{QStringLiteral("用完好的 5 张卡开始"),
                                                     QStringLiteral("以空的卡片登记开始")}));
    EXPECT_TRUE(boxes.shown()[0].text.contains(QStringLiteral("也无法读取")))
        << boxes.shown()[0].text.toStdString();
    app.m_mapCards.SetAt("000001", MakeCard("000001"));
    // A folder under the backup's name can be neither linked nor copied.
    AnswerNext(QMessageBox::Ok);
    AnswerNext(QMessageBox::No);  // no second try
    app.ExitInstance();
    ASSERT_GE(boxes.shown().size(), 3u);
    EXPECT_TRUE(boxes.shown()[1].text.startsWith(QStringLiteral("无法把备份文件另外留存")))
        << boxes.shown()[1].text.toStdString();
    EXPECT_EQ(boxes.shown()[2].buttons, QMessageBox::Yes | QMessageBox::No);
    EXPECT_TRUE(SameBytes(ReadFile(dir / "cardbook.kcd"), damaged));
    EXPECT_TRUE(NamesStartingWith(dir, "cardbook.kcd.damaged-").empty());
}

}  // namespace
