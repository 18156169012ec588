// The spreadsheet export of the user-card window: through the real unixODBC driver manager
// (the SQLite ODBC driver registered under a name with "Excel" in a test odbcinst.ini), and
// through the program's own workbook writer, read back with openpyxl.

#include <gtest/gtest.h>

#include <QAccessibleActionInterface>
#include <QDateTimeEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QTimer>
#include <QtTest/QTest>

#include <sys/stat.h>

#include <cstdlib>

#include "GuiTestUtil.h"
#include "TestUtil.h"
#include "WindowDriver.h"
#include "app/FileDialog.h"
#include "enrol/XlsxFile.h"
#include "register/Card.h"
#include "register/CardFields.h"
#include "sheet/OdbcDrivers.h"
#include "sheet/SheetStatements.h"
#include "sheet/SheetTarget.h"
#include "ui/UserCardDlg.h"
#include "ui/UserCardIds.h"

namespace {

using namespace UserCardIds;

const char* kSqliteDriver = "/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so";

// The driver manager remembers the folder of its ini files from its first call, so every
// test of this program uses the same folder; each writes its own files there.
const std::string& OdbcFolder() {
    static TempDir folder;
    return folder.path();
}

class UserCardSheetTest : public UserCardTest {
protected:
    UserCardSheetTest() {
        const char* names[] = {"Zhang San", "O'Brien", "李四"};
        for (int n = 1; n <= 3; ++n) {
            Add(CardNoText(n), n, n == 2 ? CARD_ISSUED : CARD_NOT_ISSUED).m_strName =
                n == 3 ? "\xC0\xEE\xCB\xC4" : names[n - 1];
        }
        ::setenv("ODBCSYSINI", OdbcFolder().c_str(), 1);
        ::setenv("ODBCINI", (OdbcFolder() + "odbc.ini").c_str(), 1);
        WriteFile(OdbcFolder() + "odbc.ini", "");
    }
    void Drivers(const std::string& odbcinst) {
        WriteFile(OdbcFolder() + "odbcinst.ini", odbcinst);
    }
    // Runs a Python script with the file as its argument; its output.
    std::string Python(const std::string& script, const std::string& file) const {
        WriteFile(dir / "read.py", script);
        const ProcessResult r = RunProgram({"/usr/bin/python3", dir / "read.py", file});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        return r.out;
    }

    FileDlg::Recorder dialogs;
};

TEST_F(UserCardSheetTest, DriverLookup) {
    const char list[] = "SQLite3\0excel lower\0First Excel\0Second Excel\0\0";
    EXPECT_EQ(FirstDriverContaining(list, sizeof list, "Excel"), "First Excel");
    const char none[] = "SQLite3\0excel lower\0\0";
    EXPECT_EQ(FirstDriverContaining(none, sizeof none, "Excel"), "");
    const char unterminated[4] = {'E', 'x', 'c', 'e'};
    EXPECT_EQ(FirstDriverContaining(unterminated, sizeof unterminated, "Excel"), "");

    Drivers("[SQLite3]\nDriver=" + std::string(kSqliteDriver) +
            "\n\n[excel lower]\nDriver=x\n\n[Test Excel Driver]\nDriver=" + kSqliteDriver +
            "\n\n[Another Excel]\nDriver=y\n");
    EXPECT_EQ(FindExcelDriver(), "Test Excel Driver");
    Drivers("[SQLite3]\nDriver=" + std::string(kSqliteDriver) + "\n");
    EXPECT_EQ(FindExcelDriver(), "");
}

TEST_F(UserCardSheetTest, ThroughTheOdbcDriverManager) {
    Drivers("[Test Excel Driver]\nDriver=" + std::string(kSqliteDriver) + "\n");
    WriteFile(OdbcFolder() + "odbc.ini",
              "[\'\'\'\']\nDriver=Test Excel Driver\nDatabase=" + dir / "sheet.db" + "\n");
    Open();
    dialogs.QueueAnswer(Path("cards.xls"));
    Click(IDC_EXPORT_EXCEL);
    ASSERT_EQ(dialogs.asked().size(), 1u);
    EXPECT_EQ(dialogs.asked()[0].title, QStringLiteral("保存为一个xls格式的文件"));
    EXPECT_EQ(dialogs.asked()[0].filterNames, QStringList{QStringLiteral("Files(*.xls)")});
    ASSERT_EQ(boxes.shown().size(), 1u);
    EXPECT_EQ(boxes.shown()[0].text, QStringLiteral("导出文件保存于%1!").arg(Path("cards.xls")));
    EXPECT_FALSE(FileExists(dir / "cards.xls"));  // the driver wrote its own database
    const std::string rows = Python(
        "import sqlite3, sys\n"
        "db = sqlite3.connect(sys.argv[1])\n"
        "for row in db.execute('SELECT 编号, 卡片状态, 卡号, 姓名, 有效期 FROM IC卡发卡信息'):\n"
        "    print('|'.join(str(v) for v in row))\n",
        dir / "sheet.db");
    EXPECT_EQ(rows,
              "1|未发行|000001|Zhang San|00000000\n"
              "2|已发行|000002|O'Brien|00000000\n"
              "3|未发行|000003|李四|00000000\n");
}

// Through a driver with transactions the export is one, committed when it closes. A commit
// that cannot be made (another connection is reading the database and the driver waits only
// 10 ms) is reported with the driver's words, and nothing of the export is kept.
TEST_F(UserCardSheetTest, ACommitThatFailsAtTheCloseIsReported) {
    Drivers("[SQLite3]\nDriver=" + std::string(kSqliteDriver) + "\n");
    const std::string connection = "DRIVER=SQLite3;Database=" + dir / "sheet.db" + ";Timeout=10";
    const std::vector<std::string> titles = {"编号", "姓名"};
    std::string error;
    const std::unique_ptr<CSheetTarget> sheet = MakeOdbcSheet();
    ASSERT_TRUE(sheet->Open(connection, error)) << error;
    ASSERT_TRUE(sheet->Execute(SheetCreateTable(titles), error)) << error;
    ASSERT_TRUE(sheet->Execute(SheetInsert(titles, {"1", "李四"}), error)) << error;
    const std::unique_ptr<CSheetTarget> reader = MakeOdbcSheet();
    ASSERT_TRUE(reader->Open(connection, error)) << error;
    ASSERT_TRUE(reader->Execute("SELECT name FROM sqlite_master", error)) << error;
    EXPECT_FALSE(sheet->Close(error));
    EXPECT_NE(error.find("SQLEndTran"), std::string::npos) << error;
    EXPECT_NE(error.find("[HY000]"), std::string::npos) << error;
    EXPECT_TRUE(reader->Close(error)) << error;
    const std::string script =
        "import sqlite3, sys\n"
        "print(sqlite3.connect(sys.argv[1]).execute("
        "\"SELECT count(*) FROM sqlite_master WHERE type = 'table'\").fetchone()[0])\n";
    EXPECT_EQ(Python(script, dir / "sheet.db"), "0\n");

    // Without the reader the same export is committed whole.
    ASSERT_TRUE(sheet->Open(connection, error)) << error;
    ASSERT_TRUE(sheet->Execute(SheetCreateTable(titles), error)) << error;
    ASSERT_TRUE(sheet->Execute(SheetInsert(titles, {"1", "李四"}), error)) << error;
    EXPECT_TRUE(sheet->Close(error)) << error;
    EXPECT_EQ(Python(script, dir / "sheet.db"), "1\n");
}

TEST_F(UserCardSheetTest, ThroughTheOwnWorkbookWriter) {
    Drivers("[SQLite3]\nDriver=" + std::string(kSqliteDriver) + "\n");
    Open();
    // Only what the list shows: a query for one card.
    Type(IDC_QUERY_NAME, QStringLiteral("O'Brien"));
    Picker(IDC_QUERY_FROM)->setDate(QDate(2000, 1, 1));
    Click(IDC_QUERY);
    EXPECT_EQ(Rows(), 0);  // registered "00000000": outside any range
    Click(IDC_EXPORT_EXCEL);
    EXPECT_TRUE(dialogs.asked().empty());  // an empty list: nothing at all
    Click(IDC_SHOW_ALL);

    // The own writer offers .xlsx and adds it to a name without an extension.
    dialogs.QueueAnswer(Path("book"));
    Click(IDC_EXPORT_EXCEL);
    ASSERT_EQ(dialogs.asked().size(), 1u);
    EXPECT_EQ(dialogs.asked()[0].title, QStringLiteral("保存为一个xlsx格式的文件"));
    EXPECT_EQ(dialogs.asked()[0].filterNames, QStringList{QStringLiteral("Files(*.xlsx)")});
    ASSERT_EQ(boxes.shown().size(), 1u) << boxes.shown()[0].text.toStdString();
    EXPECT_EQ(boxes.shown()[0].text, QStringLiteral("导出文件保存于%1!").arg(Path("book.xlsx")));
    EXPECT_FALSE(FileExists(dir / "book"));
    const std::string script =
        "import openpyxl, sys\n"
        "book = openpyxl.load_workbook(open(sys.argv[1], 'rb'))\n"
        "print(book.sheetnames)\n"
        "for row in book.active.iter_rows(values_only=True):\n"
        "    print([row[i] for i in (0, 1, 2, 6, 11)])\n";
    std::string expected = "['IC卡发卡信息']\n['编号', '卡片状态', '卡号', '姓名', '备注']\n";
    for (int row = 0; row < 3; ++row) {
        const std::string no = Cell(row, 0).toStdString();
        const std::string status = Cell(row, 1).toStdString();
        const std::string name = Cell(row, 6).toStdString();
        expected += "[" + no + ", '" + status + "', '" + CardNoText(std::stoi(no)) + "', " +
                    (name.find('\'') != std::string::npos ? "\"" + name + "\"" : "'" + name + "'") +
                    ", None]\n";
    }
    EXPECT_EQ(Python(script, dir / "book.xlsx"), expected);

    // A name with an extension is written as typed.
    const struct {
        const char* typed;
        const char* written;
    } names[] = {{"b.XLSX", "b.XLSX"}, {"c.xls", "c.xls"}, {"d.x.y", "d.x.y"}};
    for (const auto& n : names) {
        boxes.clear();
        dialogs.QueueAnswer(Path(n.typed));
        Click(IDC_EXPORT_EXCEL);
        ASSERT_EQ(boxes.shown().size(), 1u) << n.typed;
        EXPECT_EQ(boxes.shown()[0].text, QStringLiteral("导出文件保存于%1!").arg(Path(n.written)));
        EXPECT_EQ(ReadFile(dir / n.written).substr(0, 2), "PK") << n.typed;
    }

    // An existing workbook: No leaves it, Yes replaces it.
    WriteFile(dir / "old.xls", "old");
    boxes.clear();
    AnswerNext(QMessageBox::No);
    dialogs.QueueAnswer(Path("old.xls"));
    Click(IDC_EXPORT_EXCEL);
    EXPECT_EQ(boxes.shown()[0].text, QStringLiteral("保存的文件已经存在,是否覆盖?"));
    EXPECT_EQ(boxes.shown()[0].caption, QStringLiteral("保存"));
    EXPECT_EQ(ReadFile(dir / "old.xls"), "old");
    AnswerNext(QMessageBox::Yes);
    dialogs.QueueAnswer(Path("old.xls"));
    Click(IDC_EXPORT_EXCEL);
    EXPECT_EQ(ReadFile(dir / "old.xls").substr(0, 2), "PK");  // a workbook (a zip archive)
    for (const std::string& name : ListDir(dir.path())) {
        EXPECT_EQ(name.find(".tmp-"), std::string::npos) << name;  // no temporary file left
    }
}

TEST_F(UserCardSheetTest, ADriverThatFailsIsReported) {
    Drivers("[Broken Excel Driver]\nDriver=" + dir / "no-such-driver.so" + "\n");
    Open();
    dialogs.QueueAnswer(Path("cards.xls"));
    Click(IDC_EXPORT_EXCEL);
    ASSERT_EQ(boxes.shown().size(), 1u);
    EXPECT_TRUE(boxes.shown()[0].text.startsWith(QStringLiteral("导出EXCEL失败")))
        << boxes.shown()[0].text.toStdString();
    EXPECT_FALSE(FileExists(dir / "cards.xls"));

    // A workbook that cannot be written: the folder does not exist.
    Drivers("");
    boxes.clear();
    dialogs.QueueAnswer(Path("no-such-folder/cards.xls"));
    Click(IDC_EXPORT_EXCEL);
    ASSERT_EQ(boxes.shown().size(), 1u);
    EXPECT_TRUE(boxes.shown()[0].text.startsWith(QStringLiteral("导出EXCEL失败")))
        << boxes.shown()[0].text.toStdString();
}

// A long export runs under a progress dialog whose "取消" stops it and leaves no file, or an
// existing workbook as it was; the next export runs to its end and replaces it.
TEST_F(UserCardSheetTest, ALongExportShowsItsProgressAndCanBeCancelled) {
    Drivers("[SQLite3]\nDriver=" + std::string(kSqliteDriver) + "\n");
    for (int n = 4; n <= 1600; ++n) {
        Add(CardNoText(n), n);
    }
    Open();
    ASSERT_EQ(Rows(), 1600);
    QString label;
    int maximum = -1;
    bool pressed = false;
    // Runs while the export runs: the first time the export lets events through.
    const auto watch = [&](bool cancel) {
        QTimer::singleShot(0, [&, cancel] {
            auto* progress = window->findChild<QProgressDialog*>();
            ASSERT_NE(progress, nullptr);
            label = progress->labelText();
            maximum = progress->maximum();
            if (cancel) {
                auto* button = progress->findChild<QPushButton*>();
                ASSERT_NE(button, nullptr);
                EXPECT_EQ(button->text(), QStringLiteral("取消"));
                pressed = AccessibleAction(button, QAccessibleActionInterface::pressAction());
            }
        });
    };
    watch(true);
    dialogs.QueueAnswer(Path("cards.xls"));
    Click(IDC_EXPORT_EXCEL);
    EXPECT_TRUE(pressed);
    EXPECT_EQ(label, QStringLiteral("正在导出EXCEL..."));
    EXPECT_EQ(maximum, 1600);
    ASSERT_EQ(boxes.shown().size(), 1u);
    EXPECT_EQ(boxes.shown()[0].text, QStringLiteral("导出已取消,没有保存文件。"));
    EXPECT_FALSE(FileExists(dir / "cards.xls"));
    EXPECT_EQ(window->findChild<QProgressDialog*>(), nullptr);  // gone with the export

    // Cancelled over an existing workbook: it keeps its bytes, and nothing else is left.
    WriteFile(dir / "cards.xls", "the workbook before");
    const std::vector<std::string> before = ListDir(dir.path());
    boxes.clear();
    pressed = false;
    watch(true);
    AnswerNext(QMessageBox::Yes);
    dialogs.QueueAnswer(Path("cards.xls"));
    Click(IDC_EXPORT_EXCEL);
    EXPECT_TRUE(pressed);
    ASSERT_EQ(boxes.shown().size(), 2u);
    EXPECT_EQ(boxes.shown()[0].text, QStringLiteral("保存的文件已经存在,是否覆盖?"));
    EXPECT_EQ(boxes.shown()[1].text, QStringLiteral("导出已取消,没有保存文件。"));
    EXPECT_TRUE(SameBytes(ReadFile(dir / "cards.xls"), "the workbook before"));
    EXPECT_EQ(ListDir(dir.path()), before);

    // Run to its end, the export replaces it.
    boxes.clear();
    watch(false);
    AnswerNext(QMessageBox::Yes);
    dialogs.QueueAnswer(Path("cards.xls"));
    Click(IDC_EXPORT_EXCEL);
    EXPECT_EQ(maximum, 1600);
    ASSERT_EQ(boxes.shown().size(), 2u);
    EXPECT_EQ(boxes.shown()[1].text, QStringLiteral("导出文件保存于%1!").arg(Path("cards.xls")));
    EXPECT_EQ(ListDir(dir.path()), before);
    CSheetRows rows;
    std::string error;
    ASSERT_TRUE(ReadXlsx(ReadFile(dir / "cards.xls"), rows, error)) << error;
    ASSERT_EQ(rows.size(), 1601u);
    for (size_t r = 1; r < rows.size(); ++r) {
        ASSERT_EQ(rows[r][2], Cell(static_cast<int>(r) - 1, 2).toStdString()) << r;
    }
}

// The window closed during an export, as the program's end closes its windows: the export
// stops, leaves no file and asks nothing.
TEST_F(UserCardSheetTest, AnExportStopsWhenItsWindowCloses) {
    Drivers("[SQLite3]\nDriver=" + std::string(kSqliteDriver) + "\n");
    for (int n = 4; n <= 1600; ++n) {
        Add(CardNoText(n), n);
    }
    Open();
    bool closed = false;
    QTimer::singleShot(0, [&] { closed = window->close(); });
    dialogs.QueueAnswer(Path("cards.xls"));
    Click(IDC_EXPORT_EXCEL);
    EXPECT_TRUE(closed);
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(boxes.shown().empty()) << boxes.shown()[0].text.toStdString();
    EXPECT_FALSE(FileExists(dir / "cards.xls"));
}

}  // namespace
