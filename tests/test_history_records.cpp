// Every operation done through the windows leaves exactly its records in the history beside
// the register: one working session at the desk (the user-card window against the card-reader
// emulator, the management-card dialog, the batch enrolment dialog, the file dialogs answered
// by the test), checked record by record after each operation, then the chain as a whole.

#include <gtest/gtest.h>

#include <QDateTime>
#include <QDateTimeEdit>

#include <pwd.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "SessionRegister.h"
#include "TestUtil.h"
#include "WindowDriver.h"
#include "app/FileDialog.h"
#include "app/PasswordIds.h"
#include "base/CodePage.h"
#include "register/Card.h"
#include "store/CardChange.h"
#include "store/FileCardStore.h"
#include "store/HistoryEntry.h"
#include "store/HistoryFile.h"
#include "ui/EnrolDlg.h"
#include "ui/EnrolIds.h"
#include "ui/ManageCardDlg.h"
#include "ui/ManageCardIds.h"
#include "ui/UserCardDlg.h"
#include "ui/UserCardIds.h"

namespace {

using namespace UserCardIds;

const char* kPassword = "5820463917";     // the emulator's, typed at the desk
const char* kOldPassword = "1357924680";  // in set.ini when the session starts

uint8_t Op(CardOperation operation) {
    return static_cast<uint8_t>(operation);
}
uint8_t Op(HistoryOperation operation) {
    return static_cast<uint8_t>(operation);
}

// "host/login" of this process, as every record names its desk.
std::string ThisDesk() {
    char host[HOST_NAME_MAX + 1] = {};
    EXPECT_EQ(::gethostname(host, sizeof host - 1), 0);
    const passwd* user = ::getpwuid(::geteuid());
    return std::string(host) + "/" + (user != nullptr ? user->pw_name : "");
}

// A record as the history holds it, with its number.
struct Recorded {
    uint64_t number = 0;
    CHistoryEntry entry;
};

// What an operation should have left: `parts` all stand in the content; a record of a batch
// names the first record of its operation as its batch, every other record none.
struct Expected {
    uint8_t operation;
    std::string cardNo;
    std::string name;
    std::vector<std::string> parts;
    int64_t fee = 0;
    bool batch = false;
};

class HistoryRecordsTest : public UserCardTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(emulator.ready());
        WriteFile(dir / "cardbook.kcd", SessionStartRegister(kPassword));
        WriteFile(dir / "set.ini", std::string("[set]\r\ncom=0\r\npass=") + kOldPassword + "\r\n");
        // The spreadsheet export uses the program's own writer: no ODBC driver is known.
        WriteFile(dir / "odbcinst.ini", "");
        WriteFile(dir / "odbc.ini", "");
        ::setenv("ODBCSYSINI", dir.path().c_str(), 1);
        ::setenv("ODBCINI", (dir / "odbc.ini").c_str(), 1);
        ASSERT_TRUE(app.InitInstance());
        ASSERT_TRUE(app.m_comPort.IsOpen());
        ASSERT_TRUE(boxes.shown().empty()) << Message(1).toStdString();
        UserCardTest::Open(QSize(1280, 800));
    }
    void TearDown() override {
        manage.reset();
        enrol.reset();
        window.reset();
        if (!ended) {
            app.ExitInstance();
        }
    }

    std::string HistoryPath() const {
        return dir / (std::string("cardbook.kcd") + CFileCardStore::kHistorySuffix);
    }
    // The history's records, and in `contents` the file checked as a whole.
    std::vector<Recorded> History(CHistoryFile::Contents& contents) const {
        std::string error;
        EXPECT_TRUE(CHistoryFile::Read(HistoryPath(), contents, error)) << error;
        CHistoryFile::Verify(contents);
        std::vector<Recorded> records;
        for (const CHistoryFile::Record& record : contents.records) {
            Recorded recorded;
            recorded.number = record.number;
            EXPECT_TRUE(CHistoryEntry::Decode(record.payload, recorded.entry)) << record.number;
            records.push_back(std::move(recorded));
        }
        return records;
    }
    std::vector<Recorded> History() const {
        CHistoryFile::Contents contents;
        return History(contents);
    }

    // Checks that the history gained exactly `expected` since the last check.
    void ExpectNewRecords(const std::vector<Expected>& expected) {
        const std::vector<Recorded> records = History();
        const int64_t now = std::time(nullptr);
        ASSERT_GE(records.size(), seen);
        ASSERT_EQ(records.size() - seen, expected.size());
        const int32_t utcOffset = QDateTime::currentDateTime().offsetFromUtc();
        for (size_t i = 0; i < expected.size(); ++i) {
            const Recorded& got = records[seen + i];
            const Expected& want = expected[i];
            SCOPED_TRACE("record " + std::to_string(got.number) + ": " + got.entry.content);
            EXPECT_EQ(got.number, seen + i + 1);
            EXPECT_EQ(got.entry.operation, want.operation);
            EXPECT_EQ(got.entry.cardNo, want.cardNo);
            EXPECT_EQ(got.entry.name, want.name);
            for (const std::string& part : want.parts) {
                EXPECT_NE(got.entry.content.find(part), std::string::npos) << part;
            }
            EXPECT_EQ(got.entry.feeCents, want.fee);
            EXPECT_EQ(got.entry.batch, want.batch ? seen + 1 : 0u);
            EXPECT_EQ(got.entry.desk, desk);
            EXPECT_GE(got.entry.time, started);
            EXPECT_LE(got.entry.time, now);
            EXPECT_EQ(got.entry.utcOffset, utcOffset);
        }
        seen = records.size();
    }

    // A user card on the emulator, read with "读卡".
    void ReadCard(const std::string& cardNo, const std::string& valid) {
        ASSERT_TRUE(emulator.Control("place user " + cardNo + " " + valid + " 1111111111111111"));
        Click(IDC_READ_CARD);
        EXPECT_EQ(Message(1),
                  QStringLiteral("卡号[%1]读卡成功!").arg(QString::fromStdString(cardNo)));
    }
    // "延期" to `date` with the payment `fee` typed; the `box`-th message confirms it.
    void Extend(QDate date, const QString& fee, size_t box) {
        Picker(IDC_EXTEND_DATE)->setDate(date);
        Type(IDC_EXTEND_FEE, fee);
        Click(IDC_EXTEND);
        EXPECT_EQ(Message(box), QStringLiteral("延期设定成功!"));
    }
    // A management card made with the command `command` (2 挂失, 3 解挂) for `cardNo`.
    void MakeManageCard(int command, const QString& cardNo, const QString& told) {
        Click(ManageCardIds::IDC_COMMANDS[command]);
        Type(ManageCardIds::IDC_CARD_NO, cardNo);
        ClickButton(QStringLiteral("制卡"));
        EXPECT_EQ(Message(1), told);
    }

    CardEmulator emulator{CARDEMU, dir / "COM0", dir / "emu.log"};
    FileDlg::Recorder dialogs;
    std::unique_ptr<CManageCardDlg> manage;
    std::unique_ptr<CEnrolDlg> enrol;
    const int64_t started = std::time(nullptr);
    const std::string desk = ThisDesk();
    size_t seen = 0;  // records checked so far
    bool ended = false;
};

TEST_F(HistoryRecordsTest, EveryOperationLeavesExactlyItsRecords) {
    const std::string outKcd = dir / "out.kcd";
    const std::string book = dir / "cards.xlsx";
    const std::string other = dir / "other.kcd";
    {
        CCardMap imported;
        imported.SetAt("000100", MakeCard("000100", 100));
        imported.SetAt("000101", MakeCard("000101", 101));
        WriteFile(other, RegisterBytes(imported));
    }
    WriteFile(dir / "residents.csv",
              "\xEF\xBB\xBF卡号,姓名\r\n000031,住户甲\r\n000032,住户乙\r\n000033,住户丙\r\n");

    struct Step {
        const char* what;
        std::function<void()> operate;
        std::vector<Expected> records;
    };
    const Step steps[] = {
        {"the history begins with the register as the program found it",
         [] {},
         {{Op(HistoryOperation::Begun), "", "", {"登记中有4张卡片"}}}},
        {"修改系统密码 through the form's 密码",
         [&] {
             Click(IDC_NEW);
             EXPECT_TRUE(ClickIntoDialog(IDC_PASSWORD, [&](QWidget&) {
                 EXPECT_EQ(Text(PasswordIds::IDC_PASSWORD), QString::fromLatin1(kOldPassword));
                 Type(PasswordIds::IDC_PASSWORD, QString::fromLatin1(kPassword));
                 ClickButton(QStringLiteral("确认"));
             }));
         },
         {{Op(HistoryOperation::PasswordChanged), "", "", {"系统密码已修改"}}}},
        {"新增 with a payment",
         [&] {
             Type(IDC_CARD_NO, QStringLiteral("000010"));
             Type(IDC_NAME, QStringLiteral("王五"));
             Type(IDC_PAID, QStringLiteral("50"));
             Click(IDC_SAVE);
             EXPECT_TRUE(boxes.shown().empty());
         },
         {{Op(CardOperation::Add),
           "000010",
           "王五",
           {"卡号:000010", "姓名:王五", "密码:已设置", "缴费金额:50"},
           5000}}},
        {"修改",
         [&] {
             Click(IDC_EDIT);
             Type(IDC_PHONE, QStringLiteral("13800000000"));
             AnswerNext(QMessageBox::Yes);
             Click(IDC_SAVE);
             EXPECT_EQ(Message(1), QStringLiteral("确认保存已存在卡号?"));
         },
         {{Op(CardOperation::Save), "000010", "王五", {"联系电话:(空)→13800000000"}}}},
        {"保存 without a change",
         [&] {
             Click(IDC_EDIT);
             AnswerNext(QMessageBox::Yes);
             Click(IDC_SAVE);
             EXPECT_EQ(Message(1), QStringLiteral("确认保存已存在卡号?"));
         },
         {}},
        // The copy carries the other card's "缴费金额": no money received with it.
        {"新增相同信息卡 of a card with a payment",
         [&] {
             ClickRow(RowOf("000005"));
             Click(IDC_NEW_SAME_INFO);
             EXPECT_TRUE(boxes.shown().empty());
         },
         {{Op(CardOperation::SameInfo),
           "000003",
           "周八",
           {"卡号:000003", "姓名:周八", "缴费金额:80"}}}},
        {"删除",
         [&] {
             ClickRow(RowOf("000003"));
             AnswerNext(QMessageBox::Yes);
             Click(IDC_DELETE);
             EXPECT_EQ(Message(1), QStringLiteral("确认要删除选择的项?"));
             EXPECT_EQ(app.m_mapCards.Lookup("000003"), nullptr);
         },
         {{Op(CardOperation::Delete),
           "000003",
           "周八",
           {"卡号:000003", "姓名:周八", "密码:已设置"}}}},
        {"发卡 of a registered card",
         [&] {
             ClickRow(RowOf("000004"));
             Click(IDC_ISSUE_CARD);
             EXPECT_EQ(Message(1), QStringLiteral("发卡成功并保存!"));
         },
         {{Op(CardOperation::Issue), "000004", "孙七", {"卡片状态:未发行→已发行"}}}},
        // not yet: a 读卡 never changes the register (it fills the form only), so no record of
        // the operation 读卡 is ever written.
        {"读卡 of a registered card changes nothing",
         [&] {
             Click(IDC_MODE_EXTEND);
             ReadCard("000001", "301231");
         },
         {}},
        {"延期 with a payment",
         [&] { Extend(QDate(2031, 3, 15), QStringLiteral("12.5"), 1); },
         {{Op(CardOperation::Extend),
           "000001",
           "张三",
           {"缴费:12.50元; ", "有效期:20301231→20310315", "缴费金额:100→112.5"},
           1250}}},
        {"延期 with a payment of a card the register lacks",
         [&] {
             ReadCard("000099", "251231");
             Extend(QDate(2032, 1, 2), QStringLiteral("20"), 2);
             EXPECT_EQ(Message(3),
                       QStringLiteral("卡号[000099]没有登记,缴费20元只记入了操作记录!"));
         },
         {{Op(CardOperation::Extend),
           "000099",
           "",
           {"卡号没有登记", "有效期→20320102", "缴费:20.00元"},
           2000}}},
        {"管理卡: the system password confirmed unchanged",
         [&] {
             manage = NewManageCardDialog(app);
             WindowDriver::Open(manage.get());
             Click(ManageCardIds::IDC_SET_PASSWORD);
             EXPECT_TRUE(ClickIntoDialog(ManageCardIds::IDC_PASSWORD, [&](QWidget&) {
                 EXPECT_EQ(Text(PasswordIds::IDC_PASSWORD), QString::fromLatin1(kPassword));
                 ClickButton(QStringLiteral("确认"));
             }));
         },
         {}},
        {"挂失",
         [&] { MakeManageCard(2, QStringLiteral("000002"), QStringLiteral("挂失成功!")); },
         {{Op(CardOperation::ReportLost), "000002", "李四", {"卡片状态:已发行→挂失"}}}},
        {"解挂",
         [&] { MakeManageCard(3, QStringLiteral("000002"), QStringLiteral("解挂成功!")); },
         {{Op(CardOperation::Unlock), "000002", "李四", {"卡片状态:挂失→已发行"}}}},
        {"解挂 of a card the register lacks",
         [&] { MakeManageCard(3, QStringLiteral("555555"), QStringLiteral("解挂成功!")); },
         {}},
        {"批量登记 of a list of three",
         [&] {
             manage.reset();
             enrol = NewEnrolDialog(app);
             WindowDriver::Open(enrol.get());
             dialogs.QueueAnswer(Path("residents.csv"));
             Click(EnrolIds::IDC_ENROL_CHOOSE);
             EXPECT_EQ(Text(EnrolIds::IDC_ENROL_SUMMARY),
                       QStringLiteral("预览: 新增3张,修改0张,不变0张,拒绝0行"));
             Click(EnrolIds::IDC_ENROL_CONFIRM);
             EXPECT_EQ(Message(1), QStringLiteral("批量登记完成:新增3张卡片,修改0张,拒绝0行。"));
         },
         {{Op(CardOperation::Enrol),
           "000031",
           "住户甲",
           {"名单:residents.csv; ", "卡号:000031", "密码:已设置"},
           0,
           true},
          {Op(CardOperation::Enrol),
           "000032",
           "住户乙",
           {"名单:residents.csv; ", "卡号:000032"},
           0,
           true},
          {Op(CardOperation::Enrol),
           "000033",
           "住户丙",
           {"名单:residents.csv; ", "卡号:000033"},
           0,
           true}}},
        {"导出",
         [&] {
             enrol.reset();
             Drive(window.get());
             dialogs.QueueAnswer(Path("out"));
             Click(IDC_EXPORT);
             EXPECT_EQ(Message(1), QStringLiteral("导出文件保存于%1!").arg(Path("out.kcd")));
         },
         {{Op(HistoryOperation::Export), "", "", {"文件:" + outKcd + "; 卡片8张"}}}},
        {"导出EXCEL",
         [&] {
             Click(IDC_SHOW_ALL);
             dialogs.QueueAnswer(Path("cards"));
             Click(IDC_EXPORT_EXCEL);
             EXPECT_EQ(Message(1), QStringLiteral("导出文件保存于%1!").arg(Path("cards.xlsx")));
         },
         {{Op(HistoryOperation::ExportExcel), "", "", {"文件:" + book + "; 行数8"}}}},
        {"导入",
         [&] {
             dialogs.QueueAnswer(Path("other.kcd"));
             AnswerNext(QMessageBox::Yes);
             Click(IDC_IMPORT);
             EXPECT_EQ(Message(2), QStringLiteral("导入文件成功!"));
             EXPECT_EQ(app.m_mapCards.GetCount(), 2u);
         },
         {{Op(HistoryOperation::Import), "", "", {"文件:" + other + "; 卡片2张; 替换了8张"}}}},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        boxes.clear();
        step.operate();
        ExpectNewRecords(step.records);
        if (HasFatalFailure()) {
            return;
        }
    }

    // The program's end writes the register and records nothing more.
    window.reset();
    ended = true;
    EXPECT_EQ(app.ExitInstance(), 0);
    CHistoryFile::Contents contents;
    EXPECT_EQ(History(contents).size(), seen);
    EXPECT_EQ(contents.brokenAt, 0u);
    EXPECT_EQ(contents.tornBytes, 0u);
    // Neither the old nor the new system password, nor the cards' password, is in the file.
    for (const char* password : {kPassword, kOldPassword}) {
        EXPECT_EQ(contents.Bytes().find(password), std::string_view::npos) << password;
    }
}

}  // namespace
