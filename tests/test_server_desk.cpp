// The program's windows on a register on a real PostgreSQL server: one working session of
// the user-card window against the card-reader emulator, the management-card dialog and the
// batch enrolment leaves on the server exactly the register that the same session leaves in
// the register file; another desk's change shows in the open form, and meets an edit with
// its message; a card issued while the server is stopped is kept and sent once it is back.

#include <gtest/gtest.h>

#include <QApplication>
#include <QDateTimeEdit>
#include <QTest>

#include <functional>
#include <memory>
#include <string>

#include "ScopedPostgres.h"
#include "SessionRegister.h"
#include "StoreTestUtil.h"
#include "TestUtil.h"
#include "WindowDriver.h"
#include "app/FileDialog.h"
#include "app/PasswordIds.h"
#include "app/SharedRegister.h"
#include "base/CodePage.h"
#include "register/Card.h"
#include "server/PgCardStore.h"
#include "ui/EnrolDlg.h"
#include "ui/EnrolIds.h"
#include "ui/HistoryDlg.h"
#include "ui/ManageCardDlg.h"
#include "ui/ManageCardIds.h"
#include "ui/UserCardDlg.h"
#include "ui/UserCardIds.h"

namespace {

using namespace UserCardIds;

const char* kPassword = "5820463917";  // the emulator's, in set.ini

std::string Utf8Of(std::string_view codePage) {
    std::string utf8;
    EXPECT_TRUE(CodePageToUtf8(codePage, utf8));
    return utf8;
}

ProcessResult Kcdtool(const std::vector<std::string>& args) {
    std::vector<std::string> argv{KCDTOOL};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProgram(argv);
}

// One desk: a program folder, the program over it (on the register file, or on the server
// `conninfo` names), its card-reader emulator and the user-card window, driven as an operator
// does.
class Desk : public WindowDriver {
public:
    explicit Desk(const std::string& conninfo = std::string()) {
        std::string ini = std::string("[set]\r\ncom=0\r\npass=") + kPassword + "\r\n";
        if (!conninfo.empty()) {
            ini += "[register]\r\nplace=server\r\nconninfo=\"" + conninfo + "\"\r\n";
        } else {
            WriteFile(dir / "cardbook.kcd", SessionStartRegister(kPassword));
        }
        WriteFile(dir / "set.ini", ini);
        WriteFile(dir / "residents.csv",
                  "\xEF\xBB\xBF卡号,姓名\r\n000031,住户甲\r\n000032,住户乙\r\n000033,住户丙\r\n");
        CCardMap imported;
        imported.SetAt("000100", MakeCard("000100", 100));
        imported.SetAt("000101", MakeCard("000101", 101));
        WriteFile(dir / "other.kcd", RegisterBytes(imported));
        EXPECT_TRUE(emulator.ready());
        EXPECT_TRUE(app.InitInstance());
        EXPECT_TRUE(boxes.shown().empty()) << Message(1).toStdString();
        window = NewUserCardWindow(app);
        Open(window.get(), QSize(1280, 800));
    }
    ~Desk() {
        manage.reset();
        enrol.reset();
        window.reset();
        if (!ended) {
            app.ExitInstance();
        }
    }
    void End() {
        manage.reset();
        enrol.reset();
        window.reset();
        ended = true;
        EXPECT_EQ(app.ExitInstance(), 0);
    }

    QString Path(const std::string& name) const { return QString::fromStdString(dir / name); }
    std::string Name(const std::string& key) const {
        const CCard* card = app.m_mapCards.Lookup(key);
        return card != nullptr ? Utf8Of(card->m_strName.view()) : "(none)";
    }
    CSharedRegister* Shared() { return app.Shared(); }
    // The password dialog behind `id`, confirmed with the system password.
    void ConfirmPassword(int id) {
        EXPECT_TRUE(ClickIntoDialog(id, [&](QWidget&) {
            Type(PasswordIds::IDC_PASSWORD, QString::fromLatin1(kPassword));
            ClickButton(QStringLiteral("确认"));
        }));
    }

    TempDir dir;
    COrvaneApp app{dir.path()};
    CardEmulator emulator{CARDEMU, dir / "COM0", dir / "emu.log"};
    FileDlg::Recorder dialogs;
    std::unique_ptr<CUserCardDlg> window;
    std::unique_ptr<CManageCardDlg> manage;
    std::unique_ptr<CEnrolDlg> enrol;
    bool ended = false;
};

// The operator's session, the same on either register.
void WorkASession(Desk& desk) {
    struct Step {
        const char* what;
        std::function<void()> operate;
    };
    const Step steps[] = {
        {"新增 with a payment",
         [&] {
             desk.Click(IDC_NEW);
             desk.ConfirmPassword(IDC_PASSWORD);
             desk.Type(IDC_CARD_NO, QStringLiteral("000010"));
             desk.Type(IDC_NAME, QStringLiteral("王五"));
             desk.Type(IDC_PAID, QStringLiteral("50"));
             desk.Click(IDC_SAVE);
             EXPECT_TRUE(desk.boxes.shown().empty()) << desk.Message(1).toStdString();
         }},
        {"修改",
         [&] {
             desk.Click(IDC_EDIT);
             desk.Type(IDC_PHONE, QStringLiteral("13800000000"));
             desk.AnswerNext(QMessageBox::Yes);
             desk.Click(IDC_SAVE);
             EXPECT_EQ(desk.Message(1), QStringLiteral("确认保存已存在卡号?"));
         }},
        {"新增相同信息卡",
         [&] {
             desk.ClickRow(desk.RowOf("000005"));
             desk.Click(IDC_NEW_SAME_INFO);
             EXPECT_TRUE(desk.boxes.shown().empty()) << desk.Message(1).toStdString();
         }},
        {"删除",
         [&] {
             desk.ClickRow(desk.RowOf("000002"));
             desk.AnswerNext(QMessageBox::Yes);
             desk.Click(IDC_DELETE);
             EXPECT_EQ(desk.Message(1), QStringLiteral("确认要删除选择的项?"));
         }},
        {"发卡",
         [&] {
             desk.ClickRow(desk.RowOf("000004"));
             desk.Click(IDC_ISSUE_CARD);
             EXPECT_EQ(desk.Message(1), QStringLiteral("发卡成功并保存!"));
         }},
        {"延期 with a payment",
         [&] {
             desk.Click(IDC_MODE_EXTEND);
             ASSERT_TRUE(desk.emulator.Control("place user 000001 301231 1111111111111111"));
             desk.Click(IDC_READ_CARD);
             EXPECT_EQ(desk.Message(1), QStringLiteral("卡号[000001]读卡成功!"));
             desk.Picker(IDC_EXTEND_DATE)->setDate(QDate(2031, 3, 15));
             desk.Type(IDC_EXTEND_FEE, QStringLiteral("12.5"));
             desk.Click(IDC_EXTEND);
             EXPECT_EQ(desk.Message(2), QStringLiteral("延期设定成功!"));
         }},
        {"挂失",
         [&] {
             desk.manage = NewManageCardDialog(desk.app);
             desk.Open(desk.manage.get());
             desk.Click(ManageCardIds::IDC_SET_PASSWORD);
             desk.ConfirmPassword(ManageCardIds::IDC_PASSWORD);
             desk.Click(ManageCardIds::IDC_COMMANDS[2]);
             desk.Type(ManageCardIds::IDC_CARD_NO, QStringLiteral("000001"));
             desk.ClickButton(QStringLiteral("制卡"));
             EXPECT_EQ(desk.Message(1), QStringLiteral("挂失成功!"));
         }},
        {"批量登记",
         [&] {
             desk.manage.reset();
             desk.enrol = NewEnrolDialog(desk.app);
             desk.Open(desk.enrol.get());
             desk.dialogs.QueueAnswer(desk.Path("residents.csv"));
             desk.Click(EnrolIds::IDC_ENROL_CHOOSE);
             desk.Click(EnrolIds::IDC_ENROL_CONFIRM);
             EXPECT_EQ(desk.Message(1),
                       QStringLiteral("批量登记完成:新增3张卡片,修改0张,拒绝0行。"));
             desk.enrol.reset();
             desk.Drive(desk.window.get());
         }},
        {"导出",
         [&] {
             desk.dialogs.QueueAnswer(desk.Path("out"));
             desk.Click(IDC_EXPORT);
             EXPECT_EQ(desk.Message(1),
                       QStringLiteral("导出文件保存于%1!").arg(desk.Path("out.kcd")));
         }},
        {"导入",
         [&] {
             desk.dialogs.QueueAnswer(desk.Path("other.kcd"));
             desk.AnswerNext(QMessageBox::Yes);
             desk.Click(IDC_IMPORT);
             EXPECT_EQ(desk.Message(2), QStringLiteral("导入文件成功!"));
             EXPECT_EQ(desk.app.m_mapCards.GetCount(), 2u);
         }},
        {"新增 after the import",
         [&] {
             desk.Click(IDC_MODE_ISSUE);
             desk.Click(IDC_NEW);
             desk.ConfirmPassword(IDC_PASSWORD);
             desk.Type(IDC_CARD_NO, QStringLiteral("000200"));
             desk.Type(IDC_NAME, QStringLiteral("赵六"));
             desk.Click(IDC_SAVE);
             EXPECT_TRUE(desk.boxes.shown().empty()) << desk.Message(1).toStdString();
         }},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        desk.boxes.clear();
        step.operate();
        if (::testing::Test::HasFatalFailure()) {
            return;
        }
    }
}

class ServerDeskTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!server.ready()) {
            GTEST_SKIP() << server.why();
        }
        TempDir start;
        WriteFile(start / "cardbook.kcd", SessionStartRegister(kPassword));
        const ProcessResult pushed = Kcdtool({"push", start / "cardbook.kcd", server.conninfo()});
        ASSERT_EQ(pushed.exitCode, 0) << pushed.err;
    }
    // The server's register as a register file.
    std::string Pulled() {
        TempDir out;
        const ProcessResult pulled = Kcdtool({"pull", server.conninfo(), out / "pulled.kcd"});
        EXPECT_EQ(pulled.exitCode, 0) << pulled.err;
        return ReadFile(out / "pulled.kcd");
    }

    ScopedPostgres server;
};

TEST_F(ServerDeskTest, ASessionLeavesOnTheServerTheRegisterItLeavesInTheFile) {
    std::string fileRegister;
    std::string fileExport;
    {
        Desk desk;
        ASSERT_EQ(desk.Shared(), nullptr);
        WorkASession(desk);
        ASSERT_FALSE(HasFatalFailure());
        fileExport = ReadFile(desk.dir / "out.kcd");
        desk.End();
        fileRegister = ReadFile(desk.dir / "cardbook.kcd");
    }
    Desk desk(server.conninfo());
    ASSERT_NE(desk.Shared(), nullptr);
    EXPECT_EQ(desk.app.m_mapCards.GetCount(), 4u);
    WorkASession(desk);
    ASSERT_FALSE(HasFatalFailure());
    EXPECT_TRUE(SameBytes(ReadFile(desk.dir / "out.kcd"), fileExport));
    EXPECT_TRUE(SameBytes(Pulled(), fileRegister));
    // The desk's own register file is left alone: the register is the server's.
    desk.End();
    EXPECT_FALSE(FileExists(desk.dir / "cardbook.kcd"));
    EXPECT_TRUE(SameBytes(Pulled(), fileRegister));

    // The history windows read the server's history: the session is on it, in order.
    CCardMap map;
    uint32_t maxNumber = 0;
    CPgCardStore reader(map, maxNumber);
    std::string error;
    ASSERT_TRUE(reader.Open(server.conninfo(), error)) << error;
    TempDir copy;
    reader.SetHistoryCopy(copy / "history");
    std::string warning;
    const std::string path = reader.ReadableHistory(warning);
    EXPECT_TRUE(warning.empty()) << warning;
    CHistoryFile::Contents contents;
    ASSERT_TRUE(CHistoryFile::Read(path, contents, error)) << error;
    std::vector<uint8_t> operations;
    for (const CHistoryFile::Record& record : contents.records) {
        CHistoryEntryView entry;
        ASSERT_TRUE(CHistoryEntryView::Decode(record.payload, entry));
        operations.push_back(entry.operation);
    }
    const auto op = [](auto operation) { return static_cast<uint8_t>(operation); };
    EXPECT_EQ(
        operations,
        (std::vector<uint8_t>{
            op(HistoryOperation::Import), op(CardOperation::Add), op(CardOperation::Save),
            op(CardOperation::SameInfo), op(CardOperation::Delete), op(CardOperation::Issue),
            op(CardOperation::Extend), op(CardOperation::ReportLost), op(CardOperation::Enrol),
            op(CardOperation::Enrol), op(CardOperation::Enrol), op(HistoryOperation::Export),
            op(HistoryOperation::Import), op(CardOperation::Add)}));
}

TEST_F(ServerDeskTest, AnotherDesksChangeShowsInTheFormAndMeetsAnEditWithItsMessage) {
    Desk desk(server.conninfo());
    desk.ClickRow(desk.RowOf("000004"));
    EXPECT_EQ(desk.Text(IDC_NAME), QStringLiteral("孙七"));

    CCardMap map;
    uint32_t maxNumber = 0;
    CPgCardStore other(map, maxNumber);
    std::string error;
    ASSERT_TRUE(other.Open(server.conninfo(), error)) << error;
    const auto rename = [&](const char* name) {
        auto card = CopyOfCard(*map.Lookup("000004"));
        card->m_strName = Utf8ToCodePage(name);
        CCardChange change(CardOperation::Save, maxNumber);
        change.Put("000004", std::move(card));
        return other.Commit(std::move(change), CommitMode::Refusable, error);
    };
    ASSERT_EQ(rename("孙七改"), CommitResult::Durable) << error;
    // Shown without reloading, within two seconds (the notice from the server).
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return desk.Text(IDC_NAME) == QStringLiteral("孙七改"); }, 2000));
    EXPECT_EQ(desk.Name("000004"), "孙七改");

    // Being edited, the form keeps what the operator typed; the save meets the other change.
    desk.Click(IDC_EDIT);
    desk.Type(IDC_PHONE, QStringLiteral("13900000000"));
    ASSERT_EQ(rename("孙七再改"), CommitResult::Durable) << error;
    QTest::qWait(500);
    EXPECT_EQ(desk.Text(IDC_NAME), QStringLiteral("孙七改"));
    desk.AnswerNext(QMessageBox::Yes);
    desk.Click(IDC_SAVE);
    EXPECT_EQ(desk.Message(2), QString::fromUtf8(CPgCardStore::kChangedElsewhere));
    EXPECT_EQ(desk.Text(IDC_NAME), QStringLiteral("孙七再改"));
    EXPECT_EQ(desk.Text(IDC_PHONE), QString());
    EXPECT_FALSE(desk.Enabled(IDC_NAME));
    // Seen now, the change goes through.
    desk.boxes.clear();
    desk.Click(IDC_EDIT);
    desk.Type(IDC_PHONE, QStringLiteral("13900000000"));
    desk.AnswerNext(QMessageBox::Yes);
    desk.Click(IDC_SAVE);
    EXPECT_EQ(desk.boxes.shown().size(), 1u);
    desk.End();
    CCardMap pulled;
    uint32_t pulledMax = 0;
    std::string loadError;
    TempDir out;
    WriteFile(out / "p.kcd", Pulled());
    ASSERT_EQ(LoadRegisterFile(out / "p.kcd", pulled, pulledMax, loadError), RegisterLoad::Loaded);
    EXPECT_EQ(Utf8Of(pulled.Lookup("000004")->m_strPhone.view()), "13900000000");
    EXPECT_EQ(Utf8Of(pulled.Lookup("000004")->m_strName.view()), "孙七再改");
}

TEST_F(ServerDeskTest, ACardIssuedWhileTheServerIsStoppedIsSentOnceItIsBack) {
    Desk desk(server.conninfo());
    desk.ClickRow(desk.RowOf("000004"));
    ASSERT_TRUE(server.Stop());
    // A change no device made is refused.
    desk.Click(IDC_EDIT);
    desk.Type(IDC_PHONE, QStringLiteral("13900000000"));
    desk.AnswerNext(QMessageBox::Yes);
    desk.Click(IDC_SAVE);
    EXPECT_TRUE(
        desk.Message(2).startsWith(QStringLiteral("这次修改无法送到卡片登记服务器,没有保存")))
        << desk.Message(2).toStdString();
    desk.Click(IDC_CANCEL);
    desk.ClickRow(desk.RowOf("000004"));  // the form as the register has it
    desk.boxes.clear();
    // The card written is kept.
    desk.Click(IDC_ISSUE_CARD);
    EXPECT_TRUE(
        desk.Message(1).startsWith(QStringLiteral("卡片已经写好,但卡片登记服务器现在无法连接")))
        << desk.Message(1).toStdString();
    EXPECT_TRUE(desk.Message(1).contains(QStringLiteral("服务器恢复连接后会自动送出")));
    EXPECT_EQ(desk.app.m_mapCards.Lookup("000004")->m_nStatus, CARD_ISSUED);
    EXPECT_EQ(desk.Shared()->Store().Pending(), 1u);

    ASSERT_TRUE(server.Start());
    desk.boxes.clear();
    EXPECT_TRUE(QTest::qWaitFor([&] { return desk.Shared()->Store().Pending() == 0; },
                                3 * CSharedRegister::kMostRetryMs));
    EXPECT_EQ(
        desk.Message(1),
        QStringLiteral("已重新连接卡片登记服务器,服务器无法连接时保存在本机的1项修改已经送出。"));
    desk.End();
    CCardMap pulled;
    uint32_t pulledMax = 0;
    std::string loadError;
    TempDir out;
    WriteFile(out / "p.kcd", Pulled());
    ASSERT_EQ(LoadRegisterFile(out / "p.kcd", pulled, pulledMax, loadError), RegisterLoad::Loaded);
    EXPECT_EQ(pulled.Lookup("000004")->m_nStatus, CARD_ISSUED);
    EXPECT_EQ(Utf8Of(pulled.Lookup("000004")->m_strPhone.view()), "");
}

}  // namespace
