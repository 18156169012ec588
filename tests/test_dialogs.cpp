// The port, password and About dialogs, driven as an operator would.

#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest/QTest>

#include <sys/stat.h>

#include "GuiTestUtil.h"
#include "TestUtil.h"
#include "app/AboutDlg.h"
#include "app/AppIcon.h"
#include "app/ControlId.h"
#include "app/MessageBox.h"
#include "app/OrvaneApp.h"
#include "app/PasswordDlg.h"
#include "app/PasswordIds.h"
#include "app/PortSetDlg.h"
#include "app/PortSetIds.h"
#include "app/ToolbarIcons.h"
#include "base/Settings.h"

namespace {

using namespace PasswordIds;
using namespace PortSetIds;

class DialogTest : public ::testing::Test {
protected:
    DialogTest() : app(dir.path()) { app.m_strAppDir = dir.path(); }
    TempDir dir;
    Msg::Recorder boxes;
    COrvaneApp app;
};

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
        CPortSetDlg dialog;
        dialog.show();
        auto* edit = FindControl<QLineEdit>(&dialog, IDC_COM_PORT);
        TypeInto(edit, QString::fromUtf8(c.typed));
        QTest::mouseClick(Button(&dialog, QStringLiteral("确认")), Qt::LeftButton);
        ASSERT_EQ(boxes.shown().size(), 1u) << c.typed;
        EXPECT_EQ(boxes.shown()[0].text, QString::fromUtf8(c.message)) << c.typed;
        EXPECT_EQ(dialog.isVisible(), !c.accepted) << c.typed;
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
    CPortSetDlg dialog;
    dialog.show();
    EXPECT_EQ(FindControl<QLineEdit>(&dialog, IDC_COM_PORT)->text(), QStringLiteral("12"));
    Screenshot(&dialog, "port");
    auto* label = dialog.findChild<QLabel*>();
    EXPECT_EQ(label->buddy(), FindControl<QLineEdit>(&dialog, IDC_COM_PORT));
    QTest::mouseClick(Button(&dialog, QStringLiteral("取消")), Qt::LeftButton);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_TRUE(boxes.shown().empty());
    EXPECT_FALSE(FileExists(dir / "set.ini"));
}

TEST_F(DialogTest, PortThatCannotBeWrittenIsReportedAndTheDialogStays) {
    ::mkdir((dir / "set.ini").c_str(), 0755);
    CPortSetDlg dialog;
    dialog.show();
    TypeInto(FindControl<QLineEdit>(&dialog, IDC_COM_PORT), QStringLiteral("3"));
    QTest::mouseClick(Button(&dialog, QStringLiteral("确认")), Qt::LeftButton);
    ASSERT_EQ(boxes.shown().size(), 1u);
    EXPECT_TRUE(boxes.shown()[0].text.startsWith(QStringLiteral("串口号无法写入设置文件")));
    EXPECT_TRUE(dialog.isVisible());
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
        CPasswordDlg dialog("5820463917");
        dialog.show();
        auto* edit = FindControl<QLineEdit>(&dialog, IDC_PASSWORD);
        EXPECT_EQ(edit->text(), QStringLiteral("5820463917"));
        TypeInto(edit, c.typed);
        QTest::mouseClick(Button(&dialog, QStringLiteral("确认")), Qt::LeftButton);
        const std::string typed = c.typed.toStdString();
        if (c.accepted) {
            EXPECT_TRUE(boxes.shown().empty()) << typed;
            EXPECT_FALSE(dialog.isVisible());
            EXPECT_EQ(dialog.result(), QDialog::Accepted);
            EXPECT_EQ(dialog.m_strPassword, typed);
        } else {
            ASSERT_EQ(boxes.shown().size(), 1u) << typed;
            EXPECT_EQ(boxes.shown()[0].text, QStringLiteral("输入10个数字!"));
            EXPECT_EQ(boxes.shown()[0].icon, QMessageBox::NoIcon);
            EXPECT_TRUE(dialog.isVisible()) << typed;
            EXPECT_EQ(edit->text(), c.typed);
        }
    }
}

TEST_F(DialogTest, PasswordDialogOpensWithTheCurrentPasswordAndCancelChangesNothing) {
    CPasswordDlg dialog("0123456789");
    dialog.show();
    EXPECT_EQ(FindControl<QLineEdit>(&dialog, IDC_PASSWORD)->text(), QStringLiteral("0123456789"));
    Screenshot(&dialog, "password");
    TypeInto(FindControl<QLineEdit>(&dialog, IDC_PASSWORD), QStringLiteral("5555555555"));
    QTest::mouseClick(Button(&dialog, QStringLiteral("取消")), Qt::LeftButton);
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
}

TEST_F(DialogTest, PasswordTypingStopsAtTenBytesAndALongerOneIsRefusedWhole) {
    CPasswordDlg dialog("012345678901");  // from a hand-edited set.ini
    dialog.show();
    auto* edit = FindControl<QLineEdit>(&dialog, IDC_PASSWORD);
    EXPECT_EQ(edit->text(), QStringLiteral("012345678901"));
    QTest::mouseClick(Button(&dialog, QStringLiteral("确认")), Qt::LeftButton);
    ASSERT_EQ(boxes.shown().size(), 1u);
    EXPECT_EQ(boxes.shown()[0].text, QStringLiteral("输入10个数字!"));
    EXPECT_TRUE(dialog.isVisible());
    TypeInto(edit, QStringLiteral("12345678901"));
    EXPECT_EQ(edit->text(), QStringLiteral("1234567890"));
    TypeInto(edit, QStringLiteral("一二三四五六"));
    EXPECT_EQ(edit->text(), QStringLiteral("一二三四五"));
}

TEST_F(DialogTest, EveryWindowShowsTheProgramsIcon) {
    const QImage icon = AppIconPixmap(32).toImage();
    const auto shows = [&](const QIcon& shown) { return shown.pixmap(32).toImage() == icon; };
    CAboutDlg about;
    CPasswordDlg password("0123456789");
    CPortSetDlg port;
    for (QWidget* window : std::initializer_list<QWidget*>{&about, &password, &port}) {
        EXPECT_TRUE(shows(window->windowIcon())) << window->windowTitle().toStdString();
    }
    // The About box shows it rather than a toolbar picture.
    const QPixmap shown = about.findChild<QLabel*>("icon")->pixmap();
    EXPECT_EQ(shown.toImage(), AppIconPixmap(shown.height()).toImage());
    EXPECT_NE(shown.toImage(), UserCardIcon().pixmap(shown.size()).toImage());
}

TEST_F(DialogTest, EnterIsTheSmallDialogsOk) {
    CPasswordDlg dialog("5820463917");
    dialog.show();
    TypeInto(FindControl<QLineEdit>(&dialog, IDC_PASSWORD), QStringLiteral("0123456789"));
    PressEnter(FindControl<QLineEdit>(&dialog, IDC_PASSWORD));
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.m_strPassword, "0123456789");
    for (QPushButton* button : dialog.findChildren<QPushButton*>()) {
        EXPECT_EQ(button->isDefault(), button->text() == QStringLiteral("确认"));
        EXPECT_FALSE(button->autoDefault());
    }
}

TEST_F(DialogTest, AboutBox) {
    CAboutDlg dialog;
    dialog.show();
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("关于 tessmark"));
    Screenshot(&dialog, "about");
    EXPECT_EQ(dialog.findChild<QLabel*>("version")->text(), QStringLiteral("tessmark 1.0 版"));
    EXPECT_TRUE(dialog.findChild<QLabel*>("notice")->text().contains('\n'));
    QTest::mouseClick(Button(&dialog, QStringLiteral("确定")), Qt::LeftButton);
    EXPECT_FALSE(dialog.isVisible());
}

}  // namespace
