// The port, password and About dialogs, driven as an operator would.

#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>

#include <sys/stat.h>

#include "GuiTestUtil.h"
#include "TestUtil.h"
#include "WindowDriver.h"
#include "app/AboutDlg.h"
#include "app/AppIcon.h"
#include "app/PasswordDlg.h"
#include "app/PasswordIds.h"
#include "app/PortSetDlg.h"
#include "app/PortSetIds.h"
#include "app/ToolbarIcons.h"
#include "base/Settings.h"

namespace {

using namespace PasswordIds;
using namespace PortSetIds;

using DialogTest = WindowTest;

TEST_F(DialogTest, PortNumbersInAndOutOfRange) {
    struct Case {
        const char* typed;
        bool accepted;
        const char* message;
    };
    const Case cases[] = {
        {"1", true, "设置串口号,需要重启程序"},
        {"99", true, "设置串口号,需要重启程序"},
        {" 7 ", true, "设置串口号,需要重启程序"},
        {"0", false, "请输入一个介于 1 和 99 之间的整数。"},
        {"100", false, "请输入一个介于 1 和 99 之间的整数。"},
        {"-3", false, "请输入一个介于 1 和 99 之间的整数。"},
        {"abc", false, "请输入一个整数。"},
        {"", false, "请输入一个整数。"},
        {"1.5", false, "请输入一个整数。"},
    };
    for (const Case& c : cases) {
        ::unlink((dir / "set.ini").c_str());
        boxes.clear();
        const auto dialog = NewPortDialog(app);
        Open(dialog.get());
        Type(IDC_COM_PORT, QString::fromUtf8(c.typed));
        ClickButton(QStringLiteral("确认"));
        ASSERT_EQ(boxes.shown().size(), 1u) << c.typed;
        EXPECT_EQ(boxes.shown()[0].text, QString::fromUtf8(c.message)) << c.typed;
        EXPECT_EQ(dialog->isVisible(), !c.accepted) << c.typed;
        if (c.accepted) {
            EXPECT_EQ(ReadSettings(dir / "set.ini").comPort,
                      QString::fromUtf8(c.typed).trimmed().toInt());
        } else {
            EXPECT_FALSE(FileExists(dir / "set.ini")) << c.typed;
        }
    }
    EXPECT_EQ(app.m_nComPort, 0);  // the running program keeps its port
}

TEST_F(DialogTest, PortDialogShowsThePortInUseAndCancelWritesNothing) {
    app.m_nComPort = 12;
    const auto dialog = NewPortDialog(app);
    Open(dialog.get());
    EXPECT_EQ(Text(IDC_COM_PORT), QStringLiteral("12"));
    Screenshot(dialog.get(), "port");
    auto* label = dialog->findChild<QLabel*>();
    EXPECT_EQ(label->buddy(), Control(IDC_COM_PORT));
    ClickButton(QStringLiteral("取消"));
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_TRUE(boxes.shown().empty());
    EXPECT_FALSE(FileExists(dir / "set.ini"));
}

TEST_F(DialogTest, PortThatCannotBeWrittenIsReportedAndTheDialogStays) {
    ::mkdir((dir / "set.ini").c_str(), 0755);
    const auto dialog = NewPortDialog(app);
    Open(dialog.get());
    Type(IDC_COM_PORT, QStringLiteral("3"));
    ClickButton(QStringLiteral("确认"));
    ASSERT_EQ(boxes.shown().size(), 1u);
    EXPECT_TRUE(boxes.shown()[0].text.startsWith(QStringLiteral("串口号无法写入设置文件")));
    EXPECT_TRUE(dialog->isVisible());
}

TEST_F(DialogTest, PasswordRules) {
    struct Case {
        QString typed;
        bool accepted;
    };
    const Case cases[] = {
        {QStringLiteral("0000000001"), true},  {QStringLiteral("123456789"), false},
        {QStringLiteral("12345 6789"), false}, {QStringLiteral("12345a6789"), false},
        {QStringLiteral("1234567张"), false},  {QStringLiteral(""), false},
    };
    for (const Case& c : cases) {
        boxes.clear();
        const auto dialog = NewPasswordDialog("5820463917");
        Open(dialog.get());
        EXPECT_EQ(Text(IDC_PASSWORD), QStringLiteral("5820463917"));
        Type(IDC_PASSWORD, c.typed);
        ClickButton(QStringLiteral("确认"));
        const std::string typed = c.typed.toStdString();
        if (c.accepted) {
            EXPECT_TRUE(boxes.shown().empty()) << typed;
            EXPECT_FALSE(dialog->isVisible());
            EXPECT_EQ(dialog->result(), QDialog::Accepted);
            EXPECT_EQ(dialog->m_strPassword, typed);
        } else {
            ASSERT_EQ(boxes.shown().size(), 1u) << typed;
            EXPECT_EQ(boxes.shown()[0].text, QStringLiteral("输入10个数字!"));
            EXPECT_EQ(boxes.shown()[0].icon, QMessageBox::NoIcon);
            EXPECT_TRUE(dialog->isVisible()) << typed;
            EXPECT_EQ(Text(IDC_PASSWORD), c.typed);
        }
    }
}

TEST_F(DialogTest, PasswordDialogOpensWithTheCurrentPasswordAndCancelChangesNothing) {
    const auto dialog = NewPasswordDialog("0123456789");
    Open(dialog.get());
    EXPECT_EQ(Text(IDC_PASSWORD), QStringLiteral("0123456789"));
    Screenshot(dialog.get(), "password");
    Type(IDC_PASSWORD, QStringLiteral("5555555555"));
    ClickButton(QStringLiteral("取消"));
    EXPECT_EQ(dialog->result(), QDialog::Rejected);
}

TEST_F(DialogTest, PasswordTypingStopsAtTenBytesAndALongerOneIsRefusedWhole) {
    const auto dialog = NewPasswordDialog("012345678901");  // from a hand-edited set.ini
    Open(dialog.get());
    EXPECT_EQ(Text(IDC_PASSWORD), QStringLiteral("012345678901"));
    ClickButton(QStringLiteral("确认"));
    EXPECT_EQ(Messages(), QStringList{QStringLiteral("输入10个数字!")});
    EXPECT_TRUE(dialog->isVisible());
    Type(IDC_PASSWORD, QStringLiteral("12345678901"));
    EXPECT_EQ(Text(IDC_PASSWORD), QStringLiteral("1234567890"));
    Type(IDC_PASSWORD, QStringLiteral("一二三四五六"));
    EXPECT_EQ(Text(IDC_PASSWORD), QStringLiteral("一二三四五"));
}

TEST_F(DialogTest, EveryWindowShowsTheProgramsIcon) {
    const QImage icon = AppIconPixmap(32).toImage();
    const auto shows = [&](const QIcon& shown) { return shown.pixmap(32).toImage() == icon; };
    const auto about = NewAboutDialog(app.RegisterPath());
    const auto password = NewPasswordDialog("0123456789");
    const auto port = NewPortDialog(app);
    for (QWidget* window :
         std::initializer_list<QWidget*>{about.get(), password.get(), port.get()}) {
        EXPECT_TRUE(shows(window->windowIcon())) << window->windowTitle().toStdString();
    }
    // The About box shows it rather than a toolbar picture.
    const QPixmap shown = about->findChild<QLabel*>("icon")->pixmap();
    EXPECT_EQ(shown.toImage(), AppIconPixmap(shown.height()).toImage());
    EXPECT_NE(shown.toImage(), UserCardIcon().pixmap(shown.size()).toImage());
}

TEST_F(DialogTest, EnterIsTheSmallDialogsOk) {
    const auto dialog = NewPasswordDialog("5820463917");
    Open(dialog.get());
    Type(IDC_PASSWORD, QStringLiteral("0123456789"));
    PressEnter(IDC_PASSWORD);
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    EXPECT_EQ(dialog->m_strPassword, "0123456789");
    for (QPushButton* button : dialog->findChildren<QPushButton*>()) {
        EXPECT_EQ(button->isDefault(), button->text() == QStringLiteral("确认"));
        EXPECT_FALSE(button->autoDefault());
    }
}

TEST_F(DialogTest, AboutBox) {
    const auto dialog = NewAboutDialog(app.RegisterPath());
    Open(dialog.get());
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("关于 tessmark"));
    Screenshot(dialog.get(), "about");
    EXPECT_EQ(dialog->findChild<QLabel*>("version")->text(), QStringLiteral("tessmark 1.0 版"));
    EXPECT_TRUE(dialog->findChild<QLabel*>("notice")->text().contains('\n'));
    // Where the register is, whole and inside the dialog.
    const QLabel* where = dialog->findChild<QLabel*>("register");
    ASSERT_NE(where, nullptr);
    EXPECT_EQ(where->text(), QString::fromStdString(dir / "cardbook.kcd"));
    EXPECT_TRUE(dialog->rect().contains(where->geometry()));
    EXPECT_GE(where->width(), where->fontMetrics().horizontalAdvance(where->text()));
    ClickButton(QStringLiteral("确定"));
    EXPECT_FALSE(dialog->isVisible());
}

TEST_F(DialogTest, AboutBoxWidensForALongRegisterPath) {
    const std::string path =
        "/home/operator-of-the-estate-office/.local/share/orvane/"
        "cardbook.kcd";
    const auto dialog = NewAboutDialog(path);
    Open(dialog.get());
    Screenshot(dialog.get(), "about-long-path");
    const QLabel* where = dialog->findChild<QLabel*>("register");
    ASSERT_NE(where, nullptr);
    EXPECT_EQ(where->text(), QString::fromStdString(path));
    EXPECT_TRUE(dialog->rect().contains(where->geometry()));
    EXPECT_GE(where->width(), where->fontMetrics().horizontalAdvance(where->text()));
    // Longer than any screen: its middle is left out, the tool tip has it whole.
    const std::string endless = "/" + std::string(2000, 'x') + "/cardbook.kcd";
    const auto wide = NewAboutDialog(endless);
    const QLabel* elided = wide->findChild<QLabel*>("register");
    EXPECT_TRUE(elided->text().contains(QChar(0x2026)));
    EXPECT_TRUE(elided->text().endsWith(QStringLiteral("cardbook.kcd")));
    EXPECT_EQ(elided->toolTip(), QString::fromStdString(endless));
    EXPECT_TRUE(wide->rect().contains(elided->geometry()));
}

}  // namespace
