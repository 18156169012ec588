// The batch enrolment dialog driven as an operator drives it, on resident lists that the test
// writes: a CSV file from the main window's command to the register file after exit, and a
// workbook written by openpyxl.

#include <gtest/gtest.h>

#include <QApplication>
#include <QBrush>
#include <QTableView>
#include <QTimer>

#include <unistd.h>

#include "GuiTestUtil.h"
#include "TestUtil.h"
#include "WindowDriver.h"
#include "app/CodePageText.h"
#include "app/FileDialog.h"
#include "app/MainFrm.h"
#include "base/CodePage.h"
#include "enrol/CsvFile.h"
#include "register/CardFields.h"
#include "store/CardChange.h"
#include "store/Journal.h"
#include "ui/CardWindows.h"
#include "ui/EnrolDlg.h"
#include "ui/EnrolIds.h"

namespace {

using namespace EnrolIds;

QString Name(const CCard& card) {
    return FromCodePage(std::string(card.m_strName));
}

// A register of three cards, the first with a holder.
std::string ThreeCards() {
    CCardMap map;
    for (int n = 1; n <= 3; ++n) {
        map.SetAt(CardNoText(n), MakeCard(CardNoText(n), n));
    }
    map.Lookup("000001")->m_strName = Utf8ToCodePage("张三");
    return RegisterBytes(map);
}

// 40 rows under a header: 36 residents without card numbers, one line break and comma in a
// remark, a change of card 000001, a bad date, a name the register cannot store and a
// duplicate.
// The house numbers are in a column whose title the program does not know ("楼栋").
std::string ResidentCsv() {
    std::string csv = "\xEF\xBB\xBF姓名,联系电话,楼栋,有效期,备注,卡号\r\n";
    for (int i = 1; i <= 36; ++i) {
        csv += CsvLine({"住户" + std::to_string(i), "1390000" + std::to_string(1000 + i),
                        std::to_string(i / 4 + 1) + "栋" + std::to_string(100 + i), "2030-12-31",
                        i == 5 ? "二楼,\"东\"\n有狗" : "", ""});
    }
    csv += CsvLine({"张三", "13811112222", "", "", "", "000001"});  // line 38
    csv += CsvLine({"错日", "", "", "2025-02-30", "", ""});         // line 39
    csv += CsvLine({"陶\uE81E", "", "", "", "", ""});               // line 40
    csv += CsvLine({"重复", "", "", "", "", "000001"});             // line 41
    return csv;
}

TEST(EnrolDialog, AResidentListFromTheMenuReachesTheRegisterFileAtExit) {
    TempDir dir;
    PseudoTerminal device;
    ASSERT_EQ(::symlink(device.slave.c_str(), (dir / "COM0").c_str()), 0);
    const std::string original = ThreeCards();
    WriteFile(dir / "cardbook.kcd", original);
    WriteFile(dir / "residents.csv", ResidentCsv());

    WindowDriver driver;
    FileDlg::Recorder dialogs;
    COrvaneApp app(dir.path());
    ASSERT_TRUE(app.InitInstance());
    bool operated = false;
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<CEnrolDlg*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        driver.Drive(dialog);
        EXPECT_EQ(dialog->windowTitle(), QStringLiteral("批量登记"));
        EXPECT_FALSE(driver.Enabled(IDC_ENROL_CONFIRM));

        dialogs.QueueAnswer(QString::fromStdString(dir / "residents.csv"));
        driver.Click(IDC_ENROL_CHOOSE);
        ASSERT_EQ(dialogs.asked().size(), 1u);
        EXPECT_EQ(dialogs.asked()[0].title, QStringLiteral("选择住户名单"));
        EXPECT_TRUE(driver.Checked(IDC_ENROL_HEADER));
        // The header mapped the known titles; the operator maps "楼栋" to the house number.
        EXPECT_EQ(driver.Text(IdcEnrolField(0)), QStringLiteral("姓名"));
        EXPECT_EQ(driver.Text(IdcEnrolField(2)), QStringLiteral("不导入"));
        EXPECT_EQ(driver.Text(IdcEnrolField(5)), QStringLiteral("卡号"));
        driver.Choose(IdcEnrolField(2), QStringLiteral("门牌号"));
        EXPECT_EQ(driver.Text(IDC_ENROL_SUMMARY),
                  QStringLiteral("预览: 新增36张,修改1张,不变0张,拒绝3行"));

        auto* preview = driver.Control<QTableView>(IDC_ENROL_PREVIEW);
        ASSERT_NE(preview, nullptr);
        QAbstractItemModel* rows = preview->model();
        ASSERT_EQ(rows->rowCount(), 40);
        const auto cell = [rows](int r, int c) { return rows->index(r, c).data().toString(); };
        EXPECT_EQ(cell(0, 0), QStringLiteral("2"));
        EXPECT_EQ(cell(0, 1), QStringLiteral("新增"));
        EXPECT_EQ(cell(0, 2), QStringLiteral("000004(自动)"));
        EXPECT_EQ(cell(0, 3), QStringLiteral("住户1"));
        EXPECT_EQ(cell(36, 1), QStringLiteral("修改"));
        EXPECT_EQ(cell(36, 4), QStringLiteral("联系电话:  → 13811112222"));
        EXPECT_EQ(cell(37, 4), QStringLiteral("有效期“2025-02-30”不是日期"));
        EXPECT_EQ(cell(38, 4), QStringLiteral("姓名中的“\uE81E”不能存入卡片登记"));
        EXPECT_EQ(cell(39, 4), QStringLiteral("卡号000001与第38行重复"));
        EXPECT_EQ(app.m_mapCards.GetCount(), 3u);  // nothing changes before the confirmation
        Screenshot(dialog, "enrol-preview");

        driver.Click(IDC_ENROL_CONFIRM);
        EXPECT_EQ(driver.Message(1),
                  QStringLiteral("批量登记完成:新增36张卡片,修改1张,拒绝3行。\n"
                                 "拒绝的行可以用“保存拒绝的行…”连同原因保存为CSV文件。"));
        EXPECT_FALSE(driver.Enabled(IDC_ENROL_CONFIRM));
        // The register went to disk before the change, and the 37 rows into the journal as
        // one change: after a crash all of them are there or none.
        EXPECT_TRUE(SameBytes(ReadFile(dir / "cardbook.kcd"), original));
        CJournal::Contents journal;
        std::string error;
        ASSERT_TRUE(CJournal::Read(dir / "cardbook.kcd.journal", journal, error)) << error;
        ASSERT_EQ(journal.records.size(), 1u);
        CCardChange enrolled;
        std::string_view encoded;
        std::string_view history;
        ASSERT_TRUE(CJournal::ChangeOf(journal.records[0], encoded, history));
        ASSERT_TRUE(CCardChange::Decode(encoded, enrolled));
        EXPECT_EQ(enrolled.Operation(), CardOperation::Enrol);
        EXPECT_EQ(enrolled.Steps().size(), 37u);

        dialogs.QueueAnswer(QString::fromStdString(dir / "refused"));
        driver.Click(IDC_ENROL_SAVE_REFUSED);
        EXPECT_TRUE(driver.Message(2).startsWith(QStringLiteral("拒绝的行(3行)已保存于")));
        driver.Click(IDC_ENROL_CLOSE);
        operated = true;
    });
    ConnectCardWindows(app);
    app.MainFrame()->Command(ID_BATCH_ENROL)->trigger();
    EXPECT_TRUE(operated);
    EXPECT_EQ(app.ExitInstance(), 0);

    CCardMap saved;
    uint32_t maxNumber = 0;
    ASSERT_TRUE(LoadsWhole(dir / "cardbook.kcd", saved, &maxNumber));
    EXPECT_EQ(saved.GetCount(), 39u);
    EXPECT_EQ(maxNumber, 39u);
    for (int i = 1; i <= 36; ++i) {
        const CCard* card = saved.Lookup(CardNoText(i + 3));
        ASSERT_NE(card, nullptr) << i;
        EXPECT_EQ(card->m_nNumber, i + 3);
        EXPECT_EQ(Name(*card), QStringLiteral("住户%1").arg(i));
        EXPECT_EQ(std::string(card->m_strHouseNo),
                  Utf8ToCodePage(std::to_string(i / 4 + 1) + "栋" + std::to_string(100 + i)));
        EXPECT_EQ(std::string(card->m_strValidDate), "20301231");
        EXPECT_EQ(card->m_nStatus, CARD_NOT_ISSUED);
    }
    EXPECT_EQ(std::string(saved.Lookup("000008")->m_strRemark),
              Utf8ToCodePage("二楼,\"东\"\n有狗"));
    EXPECT_EQ(std::string(saved.Lookup("000001")->m_strPhone), "13811112222");
    EXPECT_EQ(saved.Lookup("000001")->m_nNumber, 1);
    EXPECT_TRUE(SameBytes(ReadFile(dir / "cardbook.kcd.old"), original));

    CSheetRows refused;
    std::string error;
    ASSERT_TRUE(ReadCsv(ReadFile(dir / "refused.csv"), refused, error)) << error;
    ASSERT_EQ(refused.size(), 4u);
    EXPECT_EQ(refused[0],
              (CSheetRow{"姓名", "联系电话", "楼栋", "有效期", "备注", "卡号", "原因"}));
    EXPECT_EQ(refused[2][0], "陶\uE81E");
    EXPECT_EQ(refused[3].back(), "卡号000001与第38行重复");
}

class EnrolDialogTest : public WindowTest {
protected:
    void OpenDialog() {
        dialog = NewEnrolDialog(app);
        WindowDriver::Open(dialog.get());
    }
    FileDlg::Recorder dialogs;
    std::unique_ptr<CEnrolDlg> dialog;
};

// The export's titles head the sheet; the serial number and status columns are not taken.
TEST_F(EnrolDialogTest, AWorkbookWrittenByOpenpyxl) {
    app.m_mapCards.SetAt("000002", MakeCard("000002", 5));
    app.m_nMaxNumber = 5;
    WriteFile(dir / "write.py", R"(import sys, datetime, openpyxl
wb = openpyxl.Workbook()
ws = wb.active
ws.append(["编号", "卡片状态", "卡号", "卡类", "有效期", "登记日期", "姓名", "联系电话", "门牌号"])
for i in range(1, 31):
    ws.append([i, "已发行", "%06d" % (100 + i) if i % 2 else None, "月卡" if i == 3 else "免费卡",
               datetime.date(2031, 1, i), "2025/3/%d" % i, "住户%d" % i, 13900000000 + i,
               "%d号" % i])
ws.append([99, "挂失", "000002", "年卡", None, None, "改名", None, None])
wb.create_sheet("第二页")["A1"] = "卡号"
wb.save(sys.argv[1])
)");
    const ProcessResult r = RunProgram({"/usr/bin/python3", dir / "write.py", dir / "list.xlsx"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    OpenDialog();
    dialogs.QueueAnswer(Path("list.xlsx"));
    Click(IDC_ENROL_CHOOSE);
    EXPECT_EQ(Text(IdcEnrolField(0)), QStringLiteral("编号(不导入)"));
    EXPECT_EQ(Text(IDC_ENROL_SUMMARY), QStringLiteral("预览: 新增30张,修改1张,不变0张,拒绝0行"));

    // Without the header its row is data, and refused.
    Click(IDC_ENROL_HEADER);
    EXPECT_EQ(Text(IDC_ENROL_SUMMARY), QStringLiteral("预览: 新增30张,修改1张,不变0张,拒绝1行"));
    Click(IDC_ENROL_HEADER);
    Click(IDC_ENROL_CONFIRM);
    EXPECT_EQ(Message(1), QStringLiteral("批量登记完成:新增30张卡片,修改1张,拒绝0行。"));
    EXPECT_FALSE(Enabled(IDC_ENROL_SAVE_REFUSED));

    EXPECT_EQ(app.m_mapCards.GetCount(), 31u);
    EXPECT_EQ(app.m_nMaxNumber, 35u);
    const CCard* third = app.m_mapCards.Lookup("000103");
    ASSERT_NE(third, nullptr);
    EXPECT_EQ(third->m_nNumber, 8);  // the third new card, in file order
    EXPECT_EQ(third->m_nCardType, CARD_MONTHLY);
    EXPECT_EQ(third->m_nStatus, CARD_NOT_ISSUED);
    EXPECT_EQ(std::string(third->m_strValidDate), "20310103");
    EXPECT_EQ(std::string(third->m_strRegDate), "20250303");
    EXPECT_EQ(std::string(third->m_strPhone), "13900000003");
    EXPECT_EQ(std::string(third->m_strPassword), app.m_strSysPassword);
    // Rows without a card number take the free numbers the register and the file leave.
    EXPECT_EQ(Name(*app.m_mapCards.Lookup("000001")), QStringLiteral("住户2"));
    EXPECT_EQ(Name(*app.m_mapCards.Lookup("000003")), QStringLiteral("住户4"));
    const CCard* changed = app.m_mapCards.Lookup("000002");
    EXPECT_EQ(Name(*changed), QStringLiteral("改名"));
    EXPECT_EQ(changed->m_nCardType, CARD_ANNUAL);
    EXPECT_EQ(changed->m_nNumber, 5);
    EXPECT_EQ(changed->m_nStatus, CARD_NOT_ISSUED);  // the file's "挂失" is not taken
}

// Card 000001 belongs to 张三; the list gives it to 李四, enrols 陈赟 and 王喆 (outside GB2312)
// with doors of their own or the dialog's, and has a row whose doors are none.
class EnrolHolderTest : public EnrolDialogTest {
protected:
    void SetUp() override {
        app.m_mapCards.SetAt("000001", MakeCard("000001", 1))->m_strName = Utf8ToCodePage("张三");
        app.m_nMaxNumber = 1;
        WriteFile(dir / "holders.csv",
                  "\xEF\xBB\xBF卡号,姓名,权限\r\n"
                  "000001,李四,\r\n"
                  ",陈赟,\"1,2,16\"\r\n"
                  ",王喆,\r\n"
                  ",错门,99\r\n");
        OpenDialog();
        dialogs.QueueAnswer(Path("holders.csv"));
        Click(IDC_ENROL_CHOOSE);
    }
    QString Preview(int row, int column, int role = Qt::DisplayRole) const {
        return Control<QTableView>(IDC_ENROL_PREVIEW)
            ->model()
            ->index(row, column)
            .data(role)
            .toString();
    }
    // The register's card, its holder and doors.
    std::pair<QString, std::string> Holder(const char* cardNo) const {
        const CCard* card = app.m_mapCards.Lookup(cardNo);
        return card == nullptr ? std::pair<QString, std::string>()
                               : std::pair{Name(*card), std::string(card->m_strRights)};
    }
};

TEST_F(EnrolHolderTest, WithoutConsentTheCardKeepsItsHolder) {
    EXPECT_EQ(Preview(0, 1), QStringLiteral("更换持卡人"));
    const QModelIndex status = Control<QTableView>(IDC_ENROL_PREVIEW)->model()->index(0, 1);
    EXPECT_EQ(status.data(Qt::ForegroundRole).value<QBrush>().color(), QColor(190, 90, 0));
    EXPECT_EQ(Preview(0, 4), QStringLiteral("未勾选“允许更换持卡人”,不登记: 姓名: 张三 → 李四"));
    EXPECT_EQ(Preview(1, 1), QStringLiteral("新增"));
    EXPECT_EQ(Preview(1, 3), QStringLiteral("陈赟"));
    EXPECT_EQ(Preview(3, 4),
              QStringLiteral("门禁权限“99”不是16位的0和1,也不是1至16的门号(如“1,2,16”)"));
    EXPECT_EQ(Text(IDC_ENROL_SUMMARY),
              QStringLiteral("预览: 新增2张,修改0张,不变0张,拒绝1行,"
                             "更换持卡人1张(未勾选“允许更换持卡人”,不登记)"));
    // New cards without doors of their own open doors 1 to 15.
    EXPECT_TRUE(Checked(IdcEnrolDoor(16)));
    Click(IdcEnrolDoor(16));
    EXPECT_FALSE(Checked(IdcEnrolDoor(16)));
    Click(IDC_ENROL_CONFIRM);
    EXPECT_EQ(Message(1), QStringLiteral("批量登记完成:新增2张卡片,修改0张,拒绝1行。\n"
                                         "更换持卡人的1行没有登记。\n"
                                         "拒绝的行可以用“保存拒绝的行…”连同原因保存为CSV文件。"));
    EXPECT_EQ(Holder("000001"), std::pair(QStringLiteral("张三"), std::string("0000000000000000")));
    EXPECT_EQ(Holder("000002"), std::pair(QStringLiteral("陈赟"), std::string("1000000000000011")));
    EXPECT_EQ(Holder("000003"), std::pair(QStringLiteral("王喆"), std::string("0111111111111111")));
    EXPECT_EQ(std::string(app.m_mapCards.Lookup("000003")->m_strName), Utf8ToCodePage("王喆"));
}

TEST_F(EnrolHolderTest, TickedTheCardGoesToTheNewHolder) {
    Click(IDC_ENROL_ALLOW_HOLDER);
    EXPECT_TRUE(Checked(IDC_ENROL_ALLOW_HOLDER));
    EXPECT_EQ(Preview(0, 1), QStringLiteral("更换持卡人"));
    EXPECT_EQ(Preview(0, 4), QStringLiteral("姓名: 张三 → 李四"));
    EXPECT_EQ(Text(IDC_ENROL_SUMMARY),
              QStringLiteral("预览: 新增2张,修改0张,不变0张,拒绝1行,更换持卡人1张"));
    // Unticked again, it waits once more; ticked, it goes in.
    Click(IDC_ENROL_ALLOW_HOLDER);
    EXPECT_TRUE(Text(IDC_ENROL_SUMMARY).contains(QStringLiteral("不登记")));
    Click(IDC_ENROL_ALLOW_HOLDER);
    Click(IDC_ENROL_CONFIRM);
    EXPECT_EQ(Message(1), QStringLiteral("批量登记完成:新增2张卡片,修改1张,拒绝1行。\n"
                                         "其中1张卡片更换了持卡人。\n"
                                         "拒绝的行可以用“保存拒绝的行…”连同原因保存为CSV文件。"));
    EXPECT_EQ(Holder("000001"), std::pair(QStringLiteral("李四"), std::string("0000000000000000")));
    EXPECT_EQ(Holder("000003"), std::pair(QStringLiteral("王喆"), std::string("1111111111111111")));
    EXPECT_FALSE(Enabled(IDC_ENROL_ALLOW_HOLDER));
}

// A list wider than 64 columns: the operator is told, and 64 columns get a chooser.
TEST_F(EnrolDialogTest, OfAWideListSixtyFourColumnsAreRead) {
    std::string header = "姓名";
    std::string row = "张三";
    for (int c = 1; c < 20000; ++c) {
        header += ',';
        row += c == 19999 ? ",远" : ",";
    }
    WriteFile(dir / "wide.csv", header + "\r\n" + row + "\r\n");
    OpenDialog();
    dialogs.QueueAnswer(Path("wide.csv"));
    Click(IDC_ENROL_CHOOSE);
    EXPECT_EQ(
        Text(IDC_ENROL_SUMMARY),
        QStringLiteral("预览: 新增1张,修改0张,不变0张,拒绝0行\n文件有20000列,只读取了前64列。"));
    EXPECT_EQ(dialog->ColumnMap().size(), 1u);
    EXPECT_EQ(Text(IdcEnrolField(0)), QStringLiteral("姓名"));
    EXPECT_EQ(dialog->Control(IdcEnrolField(1)), nullptr);

    WriteFile(dir / "far.py", R"(import sys, openpyxl
wb = openpyxl.Workbook()
ws = wb.active
ws["A1"] = "姓名"
for c in range(2, 71):
    ws.cell(row=1, column=c, value="列%d" % c)
ws["A2"] = "李四"
ws["XFD2"] = "远"
wb.save(sys.argv[1])
)");
    const ProcessResult r = RunProgram({"/usr/bin/python3", dir / "far.py", dir / "far.xlsx"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    dialogs.QueueAnswer(Path("far.xlsx"));
    Click(IDC_ENROL_CHOOSE);
    EXPECT_EQ(
        Text(IDC_ENROL_SUMMARY),
        QStringLiteral("预览: 新增1张,修改0张,不变0张,拒绝0行\n文件有16384列,只读取了前64列。"));
    EXPECT_EQ(dialog->ColumnMap().size(), 64u);
    EXPECT_EQ(Text(IdcEnrolField(63)), QStringLiteral("不导入"));
    EXPECT_EQ(dialog->Control(IdcEnrolField(64)), nullptr);
}

TEST_F(EnrolDialogTest, AFileThatCannotBeReadIsToldAndChangesNothing) {
    WriteFile(dir / "bad.csv", "\xFF\xFE\x80garbage");
    OpenDialog();
    dialogs.QueueAnswer(Path("bad.csv"));
    Click(IDC_ENROL_CHOOSE);
    EXPECT_TRUE(Message(1).startsWith(QStringLiteral("名单文件无法读取")));
    EXPECT_TRUE(Message(1).contains(QStringLiteral("GB18030")));
    EXPECT_FALSE(Enabled(IDC_ENROL_CONFIRM));
    EXPECT_TRUE(Text(IDC_ENROL_FILE).isEmpty());

    Click(IDC_ENROL_CHOOSE);  // cancelled
    EXPECT_EQ(boxes.shown().size(), 1u);
}

}  // namespace
