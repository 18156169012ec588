// "卡片登记位置" driven as an operator does: the register file by default, a server's
// connection string typed and stored without its password, the connection tested, a string
// that is empty or does not parse refused with the dialog open, 取消 and a settings file that
// cannot be written leaving everything as it was, and the stored place shown on reopening.

#include <gtest/gtest.h>

#include <QAccessibleActionInterface>
#include <QLineEdit>
#include <QtTest/QTest>

#include <memory>

#include "GuiTestUtil.h"
#include "TestUtil.h"
#include "WindowDriver.h"
#include "base/Settings.h"
#include "server/PgConninfo.h"
#include "ui/RegisterPlaceDlg.h"

namespace {

using namespace RegisterPlaceIds;

const QString kNextStart = QStringLiteral("新的卡片登记位置在程序下次启动时使用。");
const std::string kSetSection = "[set]\r\ncom=3\r\npass=1234567890\r\n";

class RegisterPlaceDlgTest : public ::testing::Test, public WindowDriver {
protected:
    // A new dialog over the settings file, shown and driven.
    void OpenDialog() {
        RegisterPlaceServer server{[this](const std::string& conninfo) {
                                       tested.push_back(conninfo);
                                       return QStringLiteral("连接成功。");
                                   },
                                   CheckPgConninfo, PgConninfoWithoutPassword};
        dialog = std::make_unique<CRegisterPlaceDlg>(settings, std::move(server));
        Open(dialog.get());
    }
    bool IsOpen() const { return dialog->isVisible(); }
    bool ServerFieldsEnabled() const {
        const bool field = Enabled(IDC_CONNINFO);
        EXPECT_EQ(Enabled(IDC_TEST_CONNECTION), field);
        return field;
    }
    // A screen reader's action on the control.
    void Act(int id, const QString& action) { EXPECT_TRUE(AccessibleAction(Control(id), action)); }

    TempDir dir;
    std::string settings = dir / "set.ini";
    std::vector<std::string> tested;  // what 测试连接 was given
    std::unique_ptr<CRegisterPlaceDlg> dialog;
};

TEST_F(RegisterPlaceDlgTest, TheFileByDefaultAndTheServerFieldsOnlyWithTheServer) {
    OpenDialog();
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("卡片登记位置"));
    EXPECT_TRUE(Checked(IDC_PLACE_FILE));
    EXPECT_FALSE(Checked(IDC_PLACE_SERVER));
    EXPECT_FALSE(ServerFieldsEnabled());
    EXPECT_EQ(Control(IDC_CONNINFO)->accessibleName(), QStringLiteral("连接字符串:"));
    EXPECT_TRUE(Text(IDC_PASSWORD_NOTE).contains(QStringLiteral("~/.pgpass")));

    Click(IDC_PLACE_SERVER);
    EXPECT_TRUE(ServerFieldsEnabled());
    Screenshot(dialog.get(), "register_place");
    Act(IDC_PLACE_FILE, QAccessibleActionInterface::toggleAction());
    EXPECT_TRUE(Checked(IDC_PLACE_FILE));
    EXPECT_FALSE(ServerFieldsEnabled());

    // 确定 on the file as it was: nothing to tell.
    ClickButton(QStringLiteral("确定"));
    EXPECT_FALSE(IsOpen());
    EXPECT_TRUE(Messages().isEmpty());
    EXPECT_FALSE(ReadRegisterPlace(settings).onServer);
}

TEST_F(RegisterPlaceDlgTest, TheServerIsStoredWithoutThePasswordAndShownOnReopening) {
    WriteFile(settings, kSetSection);
    OpenDialog();
    Click(IDC_PLACE_SERVER);
    Type(IDC_CONNINFO, QStringLiteral(" host=/tmp/x dbname=postgres user=orvane password='s3 cret' "
                                      "application_name='前台 1' "));
    ClickButton(QStringLiteral("确定"));
    EXPECT_FALSE(IsOpen());
    EXPECT_EQ(Messages(), QStringList{kNextStart});
    const std::string stored = "host=/tmp/x dbname=postgres user=orvane application_name='前台 1'";
    const RegisterPlace place = ReadRegisterPlace(settings);
    EXPECT_TRUE(place.onServer);
    EXPECT_EQ(place.conninfo, stored);
    const std::string file = ReadFile(settings);
    EXPECT_EQ(file.find("s3"), std::string::npos) << file;
    EXPECT_EQ(file.substr(0, kSetSection.size()), kSetSection);

    // Reopened: the server and its string; 确定 without a change tells nothing.
    boxes.clear();
    OpenDialog();
    EXPECT_TRUE(Checked(IDC_PLACE_SERVER));
    EXPECT_TRUE(ServerFieldsEnabled());
    EXPECT_EQ(Text(IDC_CONNINFO), QString::fromStdString(stored));
    PressEnter(IDC_CONNINFO);
    EXPECT_FALSE(IsOpen());
    EXPECT_TRUE(Messages().isEmpty());

    // Another server, then back to the file: each a new place; the file keeps the string.
    const struct {
        int radio;
        QString typed;  // empty: left as it is
        RegisterPlace expected;
    } steps[] = {
        {IDC_PLACE_SERVER,
         QStringLiteral("postgresql://desk:pw@db.example/register"),
         {true, "host=db.example dbname=register user=desk"}},
        {IDC_PLACE_FILE, QString(), {false, "host=db.example dbname=register user=desk"}},
    };
    for (const auto& step : steps) {
        boxes.clear();
        OpenDialog();
        Click(step.radio);
        if (!step.typed.isEmpty()) {
            Type(IDC_CONNINFO, step.typed);
        }
        ClickButton(QStringLiteral("确定"));
        EXPECT_FALSE(IsOpen());
        EXPECT_EQ(Messages(), QStringList{kNextStart});
        EXPECT_EQ(ReadRegisterPlace(settings).onServer, step.expected.onServer);
        EXPECT_EQ(ReadRegisterPlace(settings).conninfo, step.expected.conninfo);
        EXPECT_EQ(ReadFile(settings).substr(0, kSetSection.size()), kSetSection);
    }
    OpenDialog();
    EXPECT_TRUE(Checked(IDC_PLACE_FILE));
    EXPECT_FALSE(ServerFieldsEnabled());
    EXPECT_EQ(Text(IDC_CONNINFO), QString::fromStdString(steps[1].expected.conninfo));
}

TEST_F(RegisterPlaceDlgTest, TestingTheConnectionShowsWhatItSaysAndWritesNothing) {
    OpenDialog();
    Click(IDC_PLACE_SERVER);
    Type(IDC_CONNINFO, QStringLiteral("host=/tmp/x user=orvane password=pw"));
    Act(IDC_TEST_CONNECTION, QAccessibleActionInterface::pressAction());
    // Tested as typed, password and all.
    EXPECT_EQ(tested, std::vector<std::string>{"host=/tmp/x user=orvane password=pw"});
    EXPECT_EQ(Messages(), QStringList{QStringLiteral("连接成功。")});
    EXPECT_TRUE(IsOpen());
    EXPECT_FALSE(FileExists(settings));

    ClickButton(QStringLiteral("取消"));
    EXPECT_FALSE(IsOpen());
    EXPECT_FALSE(FileExists(settings));
}

TEST_F(RegisterPlaceDlgTest, AnEmptyOrUnparsedStringIsRefusedWithTheDialogOpen) {
    const struct {
        QString typed;
        QString message;  // the start of what is shown
    } cases[] = {
        {QString(), QStringLiteral("请输入服务器的连接字符串。")},
        {QStringLiteral("   "), QStringLiteral("请输入服务器的连接字符串。")},
        {QStringLiteral("host=a colour=blue"), QStringLiteral("连接字符串有误:\n")},
        {QStringLiteral("postgresql://[::1"), QStringLiteral("连接字符串有误:\n")},
    };
    WriteFile(settings, kSetSection);
    for (const auto& c : cases) {
        for (const bool test : {false, true}) {
            boxes.clear();
            OpenDialog();
            Click(IDC_PLACE_SERVER);
            Type(IDC_CONNINFO, c.typed);
            if (test) {
                Click(IDC_TEST_CONNECTION);
            } else {
                ClickButton(QStringLiteral("确定"));
            }
            ASSERT_EQ(Messages().size(), 1) << c.typed.toStdString();
            EXPECT_TRUE(Messages()[0].startsWith(c.message)) << Messages()[0].toStdString();
            if (c.message.endsWith('\n')) {
                EXPECT_GT(Messages()[0].size(), c.message.size());  // libpq's words follow
            } else {
                EXPECT_EQ(Messages()[0], c.message);
            }
            EXPECT_TRUE(IsOpen());
            EXPECT_TRUE(Control(IDC_CONNINFO)->hasFocus());
            EXPECT_TRUE(tested.empty());
            EXPECT_EQ(ReadFile(settings), kSetSection);
        }
    }
    // 取消 after a refusal: still nothing written.
    ClickButton(QStringLiteral("取消"));
    EXPECT_FALSE(IsOpen());
    EXPECT_EQ(ReadFile(settings), kSetSection);
}

TEST_F(RegisterPlaceDlgTest, ASettingsFileThatCannotBeWrittenIsToldAndTheDialogStays) {
    settings = dir / "no-such-folder/set.ini";
    OpenDialog();
    Click(IDC_PLACE_SERVER);
    Type(IDC_CONNINFO, QStringLiteral("host=/tmp/x"));
    ClickButton(QStringLiteral("确定"));
    ASSERT_EQ(Messages().size(), 1);
    EXPECT_TRUE(Messages()[0].startsWith(QStringLiteral("卡片登记位置无法写入设置文件:\n")))
        << Messages()[0].toStdString();
    EXPECT_TRUE(IsOpen());
    EXPECT_FALSE(FileExists(settings));
}

}  // namespace
