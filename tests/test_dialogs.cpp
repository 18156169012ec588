// The port, password and About dialogs, driven as an operator would; what every window
// shares: message boxes and file dialogs as Qt shows them, in Chinese, and the date pickers.

#include <gtest/gtest.h>

#include <QApplication>
#include <QDateTimeEdit>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QTranslator>
#include <QtTest/QTest>

#include <functional>

#include <sys/stat.h>

#include "GuiTestUtil.h"
#include "TestUtil.h"
#include "WindowDriver.h"
#include "app/AboutDlg.h"
#include "app/AppIcon.h"
#include "app/FileDialog.h"
#include "app/MessageBox.h"
#include "app/PasswordDlg.h"
#include "app/PasswordIds.h"
#include "app/PortSetDlg.h"
#include "app/PortSetIds.h"
#include "app/QtTranslation.h"
#include "app/ToolbarIcons.h"
#include "base/Settings.h"
#include "ui/CardDate.h"
#include "ui/ManageCardDlg.h"
#include "ui/ManageCardIds.h"
#include "ui/UserCardIds.h"

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
        {"1", true, "端口已设置为COM1,正在连接读卡器。"},
        {"99", true, "端口已设置为COM99,正在连接读卡器。"},
        {" 7 ", true, "端口已设置为COM7,正在连接读卡器。"},
        {"0", false, "请输入一个介于 1 和 99 之间的整数。"},
        {"100", false, "请输入一个介于 1 和 99 之间的整数。"},
        {"-3", false, "请输入一个介于 1 和 99 之间的整数。"},
        {"abc", false, "请输入一个整数。"},
        {"", false, "请输入一个整数。"},
        {"1.5", false, "请输入一个整数。"},
    };
    // Entries that lead nowhere, so that connecting tries none of the machine's ports.
    for (const char* entry : {"COM1", "COM7", "COM99"}) {
        ASSERT_EQ(::symlink((dir / "none").c_str(), (dir / entry).c_str()), 0);
    }
    for (const Case& c : cases) {
        ::unlink((dir / "set.ini").c_str());
        boxes.clear();
        const auto dialog = NewPortDialog(app);
        Open(dialog.get());
        Type(IDC_COM_PORT, QString::fromUtf8(c.typed));
        ClickButton(QStringLiteral("确认"));
        ASSERT_EQ(boxes.shown().size(), 1u) << c.typed;
        // Accepted: the connection's outcome follows on the next line.
        EXPECT_EQ(boxes.shown()[0].text.section(QLatin1Char('\n'), 0, 0),
                  QString::fromUtf8(c.message))
            << c.typed;
        EXPECT_EQ(dialog->isVisible(), !c.accepted) << c.typed;
        if (c.accepted) {
            EXPECT_EQ(ReadSettings(dir / "set.ini").comPort,
                      QString::fromUtf8(c.typed).trimmed().toInt());
        } else {
            EXPECT_FALSE(FileExists(dir / "set.ini")) << c.typed;
        }
    }
    EXPECT_EQ(app.m_nComPort, 7);  // the running program now works on the last port set
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

// Shows the boxes that `show` opens for real (no recorder) and hands each to `see` while it is
// up; each is then answered with its escape button, or its first button.
void SeeBoxes(const std::function<void()>& show, const std::function<void(QMessageBox&)>& see) {
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr || !box->isVisible()) {
            return;
        }
        see(*box);
        box->done(QMessageBox::No);  // Ask: No; Show: closed as by its OK
    });
    poll.start(10);
    show();
}

bool HasChinese(const QString& text) {
    return std::any_of(text.begin(), text.end(),
                       [](QChar c) { return c.unicode() >= 0x4E00 && c.unicode() <= 0x9FFF; });
}

// Qt's own texts read Chinese once its translation is in: the buttons of a message box, the
// labels and buttons of the file dialog (Qt's, not the desktop's).
TEST(QtTextsTest, MessageBoxButtonsAndFileDialogsAreChinese) {
    const QLocale before;
    QTranslator* translator = UseChineseQtTexts(*QCoreApplication::instance());
    EXPECT_EQ(QLocale().name(), QStringLiteral("zh_CN"));
    ASSERT_NE(translator, nullptr) << "qt6-translations-l10n is not installed";
    QStringList buttons;
    SeeBoxes([] { Msg::Ask(nullptr, QStringLiteral("是否继续?")); },
             [&](QMessageBox& box) {
                 buttons << box.button(QMessageBox::Yes)->text()
                         << box.button(QMessageBox::No)->text();
             });
    SeeBoxes([] { Msg::Show(nullptr, QStringLiteral("好了")); },
             [&](QMessageBox& box) { buttons << box.button(QMessageBox::Ok)->text(); });
    // As qtbase_zh_CN.qm has them.
    EXPECT_EQ(buttons, (QStringList{QStringLiteral("是(&Y)"), QStringLiteral("否(&N)"),
                                    QStringLiteral("确定")}));

    for (const bool save : {false, true}) {
        QFileDialog dialog;
        FileDlg::SetUp(dialog, save, QStringLiteral("标题"),
                       {{QStringLiteral("Files(*.kcd)"), QStringLiteral("*.kcd")}});
        EXPECT_TRUE(dialog.testOption(QFileDialog::DontUseNativeDialog));
        for (const char* name : {"lookInLabel", "fileNameLabel", "fileTypeLabel"}) {
            const auto* label = dialog.findChild<QLabel*>(QString::fromLatin1(name));
            ASSERT_NE(label, nullptr) << name;
            EXPECT_TRUE(HasChinese(label->text())) << name << ": " << label->text().toStdString();
        }
        const auto* box = dialog.findChild<QDialogButtonBox*>();
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(box->button(QDialogButtonBox::Cancel)->text(), QStringLiteral("取消"));
        for (QAbstractButton* button : box->buttons()) {
            EXPECT_TRUE(HasChinese(button->text())) << button->text().toStdString();
        }
    }
    QCoreApplication::removeTranslator(translator);
    delete translator;
    QLocale::setDefault(before);
}

// A box is wide enough for its caption whole beside a title bar's icon and buttons, whatever
// its text; a wide text still widens it.
TEST(MessageBoxTest, TheCaptionFitsTheBox) {
    struct Case {
        QString caption;
        QString text;
        bool ask;
        QString details;
    };
    const Case cases[] = {
        {QString(), QStringLiteral("好"), false, QString()},
        {QStringLiteral("保存"), QStringLiteral("覆盖?"), true, QString()},
        {QStringLiteral("一个很长很长的标题,比正文长得多"), QStringLiteral("短"), false, QString()},
        {QString(), QStringLiteral("一段很长的正文,").repeated(6), false, QString()},
        {QString(), QStringLiteral("坏"), false, QStringLiteral("/tmp/x.kcd\n\nbad")},
    };
    for (const Case& c : cases) {
        int width = 0;
        int textWidth = 0;
        QString title;
        SeeBoxes(
            [&] {
                if (c.ask) {
                    Msg::Ask(nullptr, c.text, c.caption);
                } else if (!c.details.isEmpty()) {
                    Msg::ShowDetails(nullptr, c.text, c.details, QMessageBox::Warning, c.caption);
                } else {
                    Msg::Show(nullptr, c.text, QMessageBox::NoIcon, c.caption);
                }
            },
            [&](QMessageBox& box) {
                EXPECT_EQ(box.detailedText(), c.details);
                width = box.width();
                title = box.windowTitle();
                textWidth = box.fontMetrics().horizontalAdvance(c.text);
            });
        EXPECT_EQ(title, c.caption.isEmpty() ? QStringLiteral("orvane") : c.caption);
        QFont bold = QApplication::font();
        bold.setBold(true);
        EXPECT_GE(width, QFontMetrics(bold).horizontalAdvance(title) + 150) << title.toStdString();
        EXPECT_GE(width, std::min(textWidth, 400)) << c.text.toStdString();
    }
}

// One click into a section of a picker, then digits: they replace that section, in the
// user-card window and in the management-card dialog.
TEST_F(DialogTest, DatePickersTakeDigitsTypedAfterOneClick) {
    TypeOverClickedDateSections(*QCoreApplication::instance());
    const auto userCard = NewUserCardWindow(app);
    const auto manage = NewManageCardDialog(app);
    struct Case {
        QWidget* window;
        int id;
        int position;  // of the click, in characters of the text
        const char* typed;
        QDateTime expected;
    };
    const QDateTime start(QDate(2026, 12, 10), QTime(8, 30, 15));
    const Case cases[] = {
        {userCard.get(), UserCardIds::IDC_QUERY_FROM, 2, "2031", {{2031, 12, 10}, {8, 30, 15}}},
        {userCard.get(), UserCardIds::IDC_QUERY_TO, 6, "3", {{2026, 3, 10}, {8, 30, 15}}},
        {userCard.get(), UserCardIds::IDC_QUERY_FROM, 9, "07", {{2026, 12, 7}, {8, 30, 15}}},
        {manage.get(), ManageCardIds::IDC_CLOCK, 12, "17", {{2026, 12, 10}, {17, 30, 15}}},
        {manage.get(), ManageCardIds::IDC_CLOCK, 18, "05", {{2026, 12, 10}, {8, 30, 5}}},
    };
    for (const Case& c : cases) {
        Open(c.window);
        auto* picker = Control<QDateTimeEdit>(c.id);
        ASSERT_NE(picker, nullptr);
        picker->setDateTime(start);
        picker->clearFocus();
        auto* text = picker->findChild<QLineEdit*>();
        ASSERT_NE(text, nullptr);
        // Where the cursor would stand at `position`, as the text is laid out.
        const QString shown = text->text();
        const int x = text->inputMethodQuery(Qt::ImCursorRectangle).toRect().x() -
                      text->fontMetrics().horizontalAdvance(shown.left(text->cursorPosition())) +
                      text->fontMetrics().horizontalAdvance(shown.left(c.position));
        QTest::mouseClick(text, Qt::LeftButton, Qt::NoModifier, QPoint(x, text->height() / 2));
        QTest::keyClicks(text, QString::fromLatin1(c.typed));
        // The user-card window's pickers show the date alone.
        const QDateTime got = c.id == ManageCardIds::IDC_CLOCK
                                  ? picker->dateTime()
                                  : QDateTime(picker->date(), start.time());
        EXPECT_EQ(got.toString(Qt::ISODate).toStdString(),
                  c.expected.toString(Qt::ISODate).toStdString())
            << c.id << " clicked at " << c.position;
    }
}

}  // namespace
