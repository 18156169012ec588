// The window "操作记录" on a real history file, driven as an operator does: the filter row
// typed and run by Enter, by the button and by a screen reader, the list read back, and the
// exports through the file dialog read back by the enrolment's CSV and workbook readers.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QDate>
#include <QDateEdit>
#include <QHeaderView>
#include <QTableView>
#include <QtTest/QTest>

#include <cerrno>
#include <memory>

#include "GuiTestUtil.h"
#include "HistoryTestUtil.h"
#include "ScopedTmpfs.h"
#include "TestUtil.h"
#include "WindowDriver.h"
#include "app/FileDialog.h"
#include "base/PosixIo.h"
#include "enrol/CsvFile.h"
#include "enrol/XlsxFile.h"
#include "ui/HistoryDlg.h"

namespace {

using namespace HistoryIds;

class HistoryWindowTest : public ::testing::Test, public WindowDriver {
protected:
    HistoryWindowTest() { AppendEntries(path, SampleEntries()); }

    void Create(const QString& cardNo = QString()) {
        window = std::make_unique<CHistoryDlg>(path, cardNo);
        Open(window.get());
    }
    QTableView* List() const { return Control<QTableView>(IDC_HISTORY_LIST); }
    int Rows() const { return List()->model()->rowCount(); }
    QString Cell(int row, int column, int role = Qt::DisplayRole) const {
        const QAbstractItemModel* model = List()->model();
        return model->data(model->index(row, column), role).toString();
    }
    // A column's texts, top to bottom.
    QStringList Column(int column) const {
        QStringList texts;
        for (int row = 0; row < Rows(); ++row) {
            texts << Cell(row, column);
        }
        return texts;
    }
    QString Count() const { return Text(IDC_HISTORY_COUNT); }
    // Types a date into a picker as an operator does: all selected, then the new text.
    void TypeDate(int id, const QDate& date) const {
        auto* picker = Control<QDateEdit>(id);
        picker->setFocus();
        QTest::keyClick(picker, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(picker, date.toString(QStringLiteral("yyyy-MM-dd")));
        EXPECT_EQ(picker->date(), date);
    }
    // What the export adds to the shown row `row`: the record's number and its hash as it
    // stands in the history file.
    QStringList NumberAndHash(int row) const {
        const uint64_t number = window->View().Number(window->Shown()[static_cast<size_t>(row)]);
        CHistoryFile::Contents contents;
        std::string error;
        EXPECT_TRUE(CHistoryFile::Read(path, contents, error)) << error;
        const CHistoryFile::Record& record = contents.records[number - 1];
        const std::string bytes = ReadFile(path);
        const size_t hashAt =
            record.offset + CHistoryFile::kRecordHeaderSize + record.payload.size();
        const auto* hash = reinterpret_cast<const uint8_t*>(bytes.data() + hashAt);
        return {QString::number(number),
                QString::fromStdString(HexText(hash, CHistoryFile::kHashSize))};
    }
    QString Path(const std::string& name) const { return QString::fromStdString(dir / name); }

    TempDir dir;
    std::string path = dir / "cardbook.kcd.history";
    FileDlg::Recorder dialogs;
    std::unique_ptr<CHistoryDlg> window;
};

TEST_F(HistoryWindowTest, OpensWithTheWholeHistoryNewestFirst) {
    Create();
    EXPECT_EQ(window->windowTitle(), QStringLiteral("操作记录"));
    EXPECT_EQ(Count(), QStringLiteral("共8条记录"));
    EXPECT_EQ(Text(IDC_HISTORY_FROM), QStringLiteral("2026-11-30"));
    EXPECT_EQ(Text(IDC_HISTORY_TO), QStringLiteral("2026-12-10"));
    EXPECT_EQ(Text(IDC_HISTORY_OPERATION), QStringLiteral("全部"));
    auto* operations = Control<QComboBox>(IDC_HISTORY_OPERATION);
    EXPECT_EQ(operations->count(), 1 + g_historyOperationCount);
    EXPECT_GE(operations->findText(QStringLiteral("延期")), 1);

    const QAbstractItemModel* model = List()->model();
    QStringList titles;
    for (int c = 0; c < model->columnCount(); ++c) {
        titles << model->headerData(c, Qt::Horizontal).toString();
    }
    EXPECT_EQ(titles, (QStringList{"时间", "工作站", "操作", "卡号", "姓名", "内容"}));
    ASSERT_EQ(Rows(), 8);
    EXPECT_EQ(Column(0),
              (QStringList{"2026-12-10 17:45:00", "2026-12-09 16:00:00", "2026-12-10 09:05:00",
                           "2026-12-05 08:15:00", "2026-12-02 00:30:00", "2026-12-01 23:00:00",
                           "2026-12-01 10:00:00", "2026-11-30 09:00:00"}));
    EXPECT_EQ(Column(2),
              (QStringList{"导出", "挂失", "延期", "删除", "修改", "延期", "发卡", "新增"}));
    EXPECT_EQ(Cell(2, 1), QStringLiteral("desk1/operator"));
    EXPECT_EQ(Cell(2, 3), QStringLiteral("000123"));
    EXPECT_EQ(Cell(2, 4), QStringLiteral("张三丰"));
    // The content column shows the whole text, also as tooltip; the others have none.
    EXPECT_EQ(Cell(2, 5), QStringLiteral("有效期:20261231→20270630; 收费:12.50元"));
    EXPECT_EQ(Cell(2, 5, Qt::ToolTipRole), Cell(2, 5));
    EXPECT_EQ(Cell(2, 4, Qt::ToolTipRole), QString());
    EXPECT_TRUE(Enabled(IDC_HISTORY_EXPORT_CSV));
    EXPECT_TRUE(Enabled(IDC_HISTORY_EXPORT_EXCEL));
    Screenshot(window.get(), "history_window");
}

TEST_F(HistoryWindowTest, TheFilterRowRunsByEnterByTheButtonAndByAScreenReader) {
    Create();
    Type(IDC_HISTORY_CARDNO, QStringLiteral("0012"));
    EXPECT_EQ(Count(), QStringLiteral("共8条记录"));  // typing alone changes nothing
    PressEnter(IDC_HISTORY_CARDNO);
    EXPECT_EQ(Count(), QStringLiteral("共4条记录"));
    EXPECT_EQ(Column(3), (QStringList{"000123", "001234", "000123", "000123"}));

    Type(IDC_HISTORY_NAME, QStringLiteral("三丰"));
    ClickButton(QStringLiteral("查询"));
    EXPECT_EQ(Count(), QStringLiteral("共1条记录"));
    EXPECT_EQ(Column(4), QStringList{QStringLiteral("张三丰")});

    Type(IDC_HISTORY_CARDNO, QString());
    Type(IDC_HISTORY_NAME, QStringLiteral("li"));
    ASSERT_TRUE(AccessibleAction(Control(IDC_HISTORY_QUERY), QStringLiteral("Press")));
    EXPECT_EQ(Count(), QStringLiteral("共2条记录"));
    EXPECT_EQ(Column(4), (QStringList{"LIU Yang", "Li Wei"}));

    Type(IDC_HISTORY_NAME, QString());
    Choose(IDC_HISTORY_OPERATION, QStringLiteral("延期"));
    PressEnter(IDC_HISTORY_OPERATION);
    EXPECT_EQ(Count(), QStringLiteral("共2条记录"));
    EXPECT_EQ(Column(3), (QStringList{"000123", "001234"}));

    Choose(IDC_HISTORY_OPERATION, QStringLiteral("全部"));
    TypeDate(IDC_HISTORY_FROM, QDate(2026, 12, 2));
    TypeDate(IDC_HISTORY_TO, QDate(2026, 12, 5));
    PressEnter(IDC_HISTORY_TO);
    EXPECT_EQ(Count(), QStringLiteral("共2条记录"));
    EXPECT_EQ(Column(0), (QStringList{"2026-12-05 08:15:00", "2026-12-02 00:30:00"}));

    Type(IDC_HISTORY_CARDNO, QStringLiteral("999"));
    PressEnter(IDC_HISTORY_CARDNO);
    EXPECT_EQ(Count(), QStringLiteral("共0条记录"));
    EXPECT_EQ(Rows(), 0);
    EXPECT_FALSE(Enabled(IDC_HISTORY_EXPORT_CSV));
    EXPECT_FALSE(Enabled(IDC_HISTORY_EXPORT_EXCEL));
    EXPECT_TRUE(boxes.shown().empty());
}

TEST_F(HistoryWindowTest, OpenedForACardItShowsThatCard) {
    Create(QStringLiteral("555555"));
    EXPECT_EQ(Text(IDC_HISTORY_CARDNO), QStringLiteral("555555"));
    EXPECT_EQ(Count(), QStringLiteral("共1条记录"));
    EXPECT_EQ(Column(4), QStringList{QStringLiteral("王小明")});
}

TEST_F(HistoryWindowTest, WithoutAReadableHistoryTheListIsEmpty) {
    struct Case {
        const char* what;
        std::string path;
        QString count;
    };
    const Case cases[] = {
        {"no history yet", dir / "none.history", QStringLiteral("还没有操作记录。")},
        {"a folder in its place", dir.path(), QString()},
    };
    for (const Case& c : cases) {
        path = c.path;
        Create();
        EXPECT_EQ(Rows(), 0) << c.what;
        if (c.count.isEmpty()) {
            EXPECT_TRUE(Count().contains(QString::fromStdString(dir.path()))) << c.what;
        } else {
            EXPECT_EQ(Count(), c.count) << c.what;
        }
        EXPECT_EQ(Control<QDateEdit>(IDC_HISTORY_FROM)->date(), QDate::currentDate()) << c.what;
        EXPECT_FALSE(Enabled(IDC_HISTORY_EXPORT_CSV)) << c.what;
        EXPECT_FALSE(Enabled(IDC_HISTORY_EXPORT_EXCEL)) << c.what;
    }
}

TEST_F(HistoryWindowTest, ExportsWhatIsShownAsCsvAndAsAWorkbook) {
    Create();
    Type(IDC_HISTORY_CARDNO, QStringLiteral("000123"));
    PressEnter(IDC_HISTORY_CARDNO);
    ASSERT_EQ(Rows(), 3);

    dialogs.QueueAnswer(Path("records"));
    ClickButton(QStringLiteral("导出CSV…"));
    ASSERT_EQ(dialogs.asked().size(), 1u);
    EXPECT_TRUE(dialogs.asked()[0].save);
    EXPECT_EQ(dialogs.asked()[0].title, QStringLiteral("保存为一个csv格式的文件"));
    EXPECT_EQ(dialogs.asked()[0].filterNames, QStringList{QStringLiteral("Files(*.csv)")});
    EXPECT_EQ(Message(1), QStringLiteral("已导出3条记录到 %1").arg(Path("records.csv")));

    dialogs.QueueAnswer(Path("records.xlsx"));
    ClickControl(Control(IDC_HISTORY_EXPORT_EXCEL));
    ASSERT_EQ(dialogs.asked().size(), 2u);
    EXPECT_EQ(dialogs.asked()[1].title, QStringLiteral("保存为一个xlsx格式的文件"));
    EXPECT_EQ(Message(2), QStringLiteral("已导出3条记录到 %1").arg(Path("records.xlsx")));

    const std::string csv = ReadFile(dir / "records.csv");
    ASSERT_EQ(csv.substr(0, 3), "\xEF\xBB\xBF");
    EXPECT_NE(csv.find("\r\n"), std::string::npos);
    struct Read {
        const char* what;
        CSheetRows rows;
    };
    Read reads[2] = {{"csv", {}}, {"xlsx", {}}};
    std::string error;
    ASSERT_TRUE(ReadCsv(csv, reads[0].rows, error)) << error;
    ASSERT_TRUE(ReadXlsx(ReadFile(dir / "records.xlsx"), reads[1].rows, error)) << error;
    for (const Read& read : reads) {
        ASSERT_EQ(read.rows.size(), 4u) << read.what;
        EXPECT_EQ(read.rows[0],
                  (CSheetRow{"时间", "工作站", "操作", "卡号", "姓名", "内容", "序号", "校验值"}))
            << read.what;
        for (int row = 0; row < 3; ++row) {
            QStringList expected;
            for (int c = 0; c < 6; ++c) {
                expected << Cell(row, c);
            }
            expected << NumberAndHash(row);
            QStringList cells;
            for (size_t c = 0; c < 8; ++c) {
                cells << QString::fromStdString(std::string(read.rows.Cell(row + 1, c)));
            }
            EXPECT_EQ(cells, expected) << read.what << " row " << row;
        }
    }
}

TEST_F(HistoryWindowTest, AFailedExportSaysWhyAndLeavesNoFile) {
    ScopedTmpfs disk;
    disk.Mount(1 << 20);
    disk.LeaveFree(0);
    Create();
    dialogs.QueueAnswer(QString::fromStdString(disk / "records.csv"));
    ClickButton(QStringLiteral("导出CSV…"));
    EXPECT_TRUE(Message(1).startsWith(QStringLiteral("导出失败:\n"))) << Message(1).toStdString();
    EXPECT_TRUE(Message(1).contains(QString::fromStdString(ErrnoText(ENOSPC))));
    EXPECT_EQ(ListDir(disk.path()), std::vector<std::string>{"filler"});

    // Cancelling the file dialog does nothing.
    ClickButton(QStringLiteral("导出EXCEL…"));
    EXPECT_EQ(dialogs.asked().size(), 2u);
    EXPECT_EQ(boxes.shown().size(), 1u);
}

}  // namespace
