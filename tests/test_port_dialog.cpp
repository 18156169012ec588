// The serial devices present and the port dialog that points a port at one of them: the list
// from a folder of links and properties, the marked current device, the entry COM<n> made,
// and the reader reached through it at once, also after it was plugged out and in again.

#include <gtest/gtest.h>

#include <QApplication>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest/QTest>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "GuiTestUtil.h"
#include "SerialDeviceFolder.h"
#include "TestUtil.h"
#include "WindowDriver.h"
#include "app/MainFrm.h"
#include "app/PortSetDlg.h"
#include "app/PortSetIds.h"
#include "base/Settings.h"
#include "ui/CardWindows.h"
#include "ui/UserCardDlg.h"
#include "ui/UserCardIds.h"

namespace {

using namespace PortSetIds;

const char* kPassword = "5820463917";  // the emulator's system password

std::string ReadLink(const std::string& path) {
    std::error_code error;
    return std::filesystem::read_symlink(path, error).string();
}

// The names in `dir` that a port entry's replacement left behind.
int LeftOvers(const std::string& dir) {
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        count += entry.path().filename().string().find(".new-") != std::string::npos;
    }
    return count;
}

TEST(SerialDevicesTest, TheListComesFromTheDevicesProperties) {
    TempDir dir;
    SerialDeviceFolder folder(dir.path());
    const std::string byId = folder.ById("usb-FTDI_FT232R_USB_UART_A10K-if00-port0");
    folder.Add(dir / "ttyUSB0", "usb-FTDI_FT232R_USB_UART_A10K-if00-port0",
               "ID_VENDOR=FTDI\nID_VENDOR_FROM_DATABASE=Future Technology Devices\n"
               "ID_MODEL=FT232R_USB_UART\nID_MODEL_FROM_DATABASE=FT232 Serial (UART) IC\n"
               "ID_BUS=usb\n");
    // Without a by-id link and without the database's names; USB by its driver alone.
    folder.Add(dir / "ttyACM0", "",
               "ID_VENDOR=Acme\nID_MODEL=Card_Reader\nID_USB_DRIVER=cdc_acm\n");
    // A USB adapter that names neither maker nor model.
    folder.Add(dir / "ttyUSB1", "usb-1a86_0001-if00-port0", "ID_BUS=usb\n");
    // A port on the board.
    folder.Add(dir / "ttyS0", "", "ID_PATH=pnp-00:04\n");

    const struct {
        std::string node, stableName, maker, model;
        bool usb;
    } expected[] = {
        {dir / "ttyACM0", dir / "ttyACM0", "Acme", "Card_Reader", true},
        {dir / "ttyS0", dir / "ttyS0", "", "", false},
        {dir / "ttyUSB0", byId, "Future Technology Devices", "FT232 Serial (UART) IC", true},
        {dir / "ttyUSB1", folder.ById("usb-1a86_0001-if00-port0"), "", "", true},
    };
    const std::vector<SerialDevice> devices = CFolderSerialDevices(folder.Devices()).List();
    ASSERT_EQ(devices.size(), std::size(expected));
    for (size_t i = 0; i < devices.size(); ++i) {
        EXPECT_EQ(devices[i].node, expected[i].node) << i;
        EXPECT_EQ(devices[i].stableName, expected[i].stableName) << i;
        EXPECT_EQ(devices[i].maker, expected[i].maker) << i;
        EXPECT_EQ(devices[i].model, expected[i].model) << i;
        EXPECT_EQ(devices[i].usb, expected[i].usb) << i;
    }
    EXPECT_TRUE(CFolderSerialDevices(dir / "none").List().empty());
}

// The port dialog over three devices; port 3 leads to the first through its by-id link.
class PortDialogTest : public WindowTest {
protected:
    void SetUp() override {
        folder.Add(dir / "ttyUSB0", "usb-FTDI_FT232R-if00-port0",
                   "ID_VENDOR_FROM_DATABASE=FTDI\nID_MODEL_FROM_DATABASE=FT232R\nID_BUS=usb\n");
        folder.Add(dir / "ttyUSB1", "usb-Prolific_PL2303-if00-port0",
                   "ID_VENDOR=Prolific\nID_MODEL=PL2303\nID_BUS=usb\n");
        folder.Add(dir / "ttyACM0", "", "ID_VENDOR=Acme\nID_MODEL=Reader\nID_BUS=usb\n");
        std::filesystem::create_symlink(folder.ById("usb-FTDI_FT232R-if00-port0"), dir / "COM3");
        app.m_pSerialDevices = std::make_unique<CFolderSerialDevices>(folder.Devices());
        app.m_nComPort = 3;
    }
    QTreeWidget* List() const { return Control<QTreeWidget>(IDC_DEVICE_LIST); }
    // A click on the row that shows `node`.
    void ClickDevice(const std::string& node) const {
        QTreeWidget* list = List();
        const QList<QTreeWidgetItem*> rows =
            list->findItems(QString::fromStdString(node), Qt::MatchExactly, COL_NODE);
        ASSERT_EQ(rows.size(), 1);
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                          list->visualItemRect(rows[0]).center());
    }

    SerialDeviceFolder folder{dir.path()};
};

TEST_F(PortDialogTest, TheDevicesAreListedAndTheCurrentOneIsMarked) {
    const auto dialog = NewPortDialog(app);
    Open(dialog.get());
    Screenshot(dialog.get(), "port-devices");
    EXPECT_EQ(Text(IDC_COM_PORT), QStringLiteral("3"));
    QTreeWidget* list = List();
    ASSERT_EQ(list->topLevelItemCount(), 3);
    // Marker, maker, model, node, stable name.
    const QStringList expected[] = {
        {"", "Acme", "Reader", QString::fromStdString(dir / "ttyACM0"),
         QString::fromStdString(dir / "ttyACM0")},
        {QStringLiteral("当前"), "FTDI", "FT232R", QString::fromStdString(dir / "ttyUSB0"),
         QString::fromStdString(folder.ById("usb-FTDI_FT232R-if00-port0"))},
        {"", "Prolific", "PL2303", QString::fromStdString(dir / "ttyUSB1"),
         QString::fromStdString(folder.ById("usb-Prolific_PL2303-if00-port0"))},
    };
    for (int row = 0; row < 3; ++row) {
        for (int column = 0; column < COL_COUNT; ++column) {
            EXPECT_EQ(list->topLevelItem(row)->text(column), expected[row][column])
                << row << " " << column;
        }
    }
    EXPECT_TRUE(list->selectedItems().isEmpty());  // nothing is re-pointed unless chosen
    ClickButton(QStringLiteral("取消"));
    EXPECT_EQ(ReadLink(dir / "COM3"), folder.ById("usb-FTDI_FT232R-if00-port0"));
}

TEST_F(PortDialogTest, TheChosenDeviceBecomesThePortsEntry) {
    enum Choice { Click, Keys, None };
    const struct {
        Choice choice;
        std::string node;  // the device chosen
        const char* port;
        std::string entry;  // where COM<port> leads afterwards
        bool accepted;
    } cases[] = {
        {Click, dir / "ttyUSB1", "5", folder.ById("usb-Prolific_PL2303-if00-port0"), true},
        {Keys, dir / "ttyACM0", "6", dir / "ttyACM0", true},  // no by-id name: the node
        {Click, dir / "ttyUSB1", "3", folder.ById("usb-Prolific_PL2303-if00-port0"), true},
        {None, "", "3", folder.ById("usb-Prolific_PL2303-if00-port0"), true},
        {Click, dir / "ttyUSB0", "0", "", false},  // the range check comes first
    };
    for (const auto& c : cases) {
        ::unlink((dir / "set.ini").c_str());
        boxes.clear();
        const auto dialog = NewPortDialog(app);
        Open(dialog.get());
        Type(IDC_COM_PORT, QString::fromLatin1(c.port));
        if (c.choice == Click) {
            ClickDevice(c.node);
        } else if (c.choice == Keys) {
            List()->setFocus();
            QTest::keyClick(List(), Qt::Key_Home);
            QTest::keyClick(List(), Qt::Key_Space);
        }
        EXPECT_TRUE(AccessibleAction(Button(dialog.get(), QStringLiteral("确认")),
                                     QStringLiteral("Press")));
        ASSERT_EQ(boxes.shown().size(), 1u) << c.port;
        const QString message = boxes.shown()[0].text;
        EXPECT_EQ(dialog->isVisible(), !c.accepted) << c.port;
        const std::string entry = dir / ("COM" + std::string(c.port));
        if (c.accepted) {
            EXPECT_TRUE(message.startsWith(PortSetText(std::stoi(c.port)) + "\n打开连接失败"))
                << message.toStdString();
            EXPECT_EQ(ReadLink(entry), c.entry) << c.port;
            EXPECT_EQ(ReadSettings(dir / "set.ini").comPort, std::stoi(c.port));
        } else {
            EXPECT_FALSE(FileExists(dir / "set.ini")) << c.port;
        }
        EXPECT_EQ(LeftOvers(dir.path()), 0) << c.port;
    }
    EXPECT_TRUE(boxes.shown()[0].text.startsWith(QStringLiteral("请输入一个介于")));
}

TEST_F(PortDialogTest, AFileInThePortsPlaceIsNamedAndKept) {
    WriteFile(dir / "COM7", "kept");
    const auto dialog = NewPortDialog(app);
    Open(dialog.get());
    Type(IDC_COM_PORT, QStringLiteral("7"));
    ClickDevice(dir / "ttyUSB0");
    ClickButton(QStringLiteral("确认"));
    EXPECT_EQ(Message(1), QStringLiteral("端口无法指向所选的设备:\n%1 不是符号链接,程序不替换它;"
                                         "请先把它移走或删除。")
                              .arg(QString::fromStdString(dir / "COM7")));
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(ReadFile(dir / "COM7"), "kept");
}

// The reader emulator behind a by-id name, found in the port dialog of a running program that
// started without a reader; a card window then reads a card through it. Plugged out and in
// again under the same name, it is opened again by itself.
TEST(PortChoiceTest, TheReaderChosenAnswersAtOnceAndAfterComingBack) {
    TempDir dir;
    SerialDeviceFolder folder(dir.path());
    const std::string byId = folder.ById("usb-Acme_CardReader_0001-if00-port0");
    CardEmulator emulator{CARDEMU, byId, dir / "emu.log"};
    ASSERT_TRUE(emulator.ready());
    WindowDriver driver;
    COrvaneApp app(dir.path());
    app.m_pSerialDevices = std::make_unique<CFolderSerialDevices>(folder.Devices());
    ASSERT_TRUE(app.InitInstance());  // no COM0 and no devices yet: today's message
    ASSERT_EQ(driver.boxes.shown().size(), 1u);
    EXPECT_FALSE(app.m_comPort.IsOpen());
    folder.Add(ReadLink(byId), "usb-Acme_CardReader_0001-if00-port0",
               "ID_VENDOR=Acme\nID_MODEL=CardReader\nID_BUS=usb\n");
    ConnectCardWindows(app);

    bool chosen = false;
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<CPortSetDlg*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        driver.Drive(dialog);
        driver.Type(IDC_COM_PORT, QStringLiteral("4"));
        auto* list = driver.Control<QTreeWidget>(IDC_DEVICE_LIST);
        ASSERT_EQ(list->topLevelItemCount(), 1);
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                          list->visualItemRect(list->topLevelItem(0)).center());
        driver.ClickButton(QStringLiteral("确认"));
        EXPECT_EQ(driver.Message(2), PortSetText(4) + QStringLiteral("\n读卡器的端口已打开。"));
        chosen = true;
    });
    app.MainFrame()->Command(ID_PORT_SET)->trigger();
    ASSERT_TRUE(chosen);
    EXPECT_TRUE(app.m_comPort.IsOpen());
    EXPECT_EQ(app.m_nComPort, 4);
    EXPECT_EQ(ReadLink(dir / "COM4"), byId);

    // A card read in a user-card window, through the reader chosen.
    const auto readCard = [&](const char* cardNo, size_t message) {
        bool read = false;
        QTimer::singleShot(0, [&] {
            auto* window = qobject_cast<CUserCardDlg*>(QApplication::activeModalWidget());
            ASSERT_NE(window, nullptr);
            driver.Drive(window);
            window->m_strPassword = kPassword;
            driver.Click(UserCardIds::IDC_MODE_EXTEND);
            driver.Click(UserCardIds::IDC_READ_CARD);
            EXPECT_EQ(driver.Message(message),
                      QStringLiteral("卡号[%1]读卡成功!").arg(QLatin1String(cardNo)));
            read = true;
            window->close();
        });
        app.MainFrame()->Command(ID_USER_CARD)->trigger();
        EXPECT_TRUE(read) << cardNo;
    };
    ASSERT_TRUE(emulator.Control("place user 000007 301231 1111111111111111"));
    readCard("000007", 3);

    // Plugged out: the line hangs up and the by-id name goes. Plugged in again: the same
    // name, a new line behind it.
    ASSERT_TRUE(emulator.Control("quit"));
    EXPECT_EQ(driver.Message(4), QStringLiteral("读卡器连接已断开,请检查读卡器和连接。"
                                                "程序会在读卡器重新连接后自动打开端口。"));
    EXPECT_FALSE(app.m_comPort.IsOpen());
    CardEmulator back{CARDEMU, byId, dir / "emu2.log"};
    ASSERT_TRUE(back.ready());
    ASSERT_TRUE(QTest::qWaitFor([&] { return app.m_comPort.IsOpen(); }, 10000));
    ASSERT_TRUE(back.Control("place user 000008 301231 1111111111111111"));
    readCard("000008", 5);
    EXPECT_EQ(EmulatorFrames(dir / "emu2.log").size(), 1u);
    EXPECT_EQ(driver.boxes.shown().size(), 5u);
    EXPECT_EQ(app.ExitInstance(), 0);
}

}  // namespace
