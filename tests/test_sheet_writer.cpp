// The export's own workbook writer, read back by the enrolment's workbook reader and by
// openpyxl, and the thread that runs a sheet target.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "TestUtil.h"
#include "enrol/XlsxFile.h"
#include "sheet/SheetStatements.h"
#include "sheet/SheetTarget.h"
#include "sheet/SheetWriter.h"
#include "sheet/XlsxWriter.h"

namespace {

using namespace std::chrono_literals;

CSheetRows ReadBack(const std::string& path) {
    CSheetRows rows;
    std::string error;
    EXPECT_TRUE(ReadXlsx(ReadFile(path), rows, error)) << error;
    return rows;
}

TEST(XlsxWriter, TextsAndNumbersComeBackAsWritten) {
    struct Case {
        std::string written;
        std::string read;
    };
    const Case texts[] = {
        {"张三", "张三"},
        {"O'Brien & <Sons> \"A\"", "O'Brien & <Sons> \"A\""},
        {"  two spaces  ", "  two spaces  "},
        {"tab\there\nline", "tab\there\nline"},
        {"bell\x07", "bell_x0007_"},  // XML cannot carry it; spreadsheets read the escape
        {"bad \xFF byte", "bad \xEF\xBF\xBD byte"},
        {"cut \xE5\xBC", "cut \xEF\xBF\xBD\xEF\xBF\xBD"},
        {"surrogate \xED\xA0\x80", "surrogate \xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"emoji \xF0\x9F\x98\x80", "emoji \xF0\x9F\x98\x80"},
    };
    TempDir dir;
    CXlsxWriter book;
    std::string error;
    ASSERT_TRUE(book.Create(dir / "t.xlsx", error)) << error;
    ASSERT_TRUE(book.AddSheet("IC卡发卡信息", error)) << error;
    for (const Case& c : texts) {
        book.Text(c.written);
        ASSERT_TRUE(book.EndRow(error));
    }
    // Numbers, an empty cell left out between two, and columns past Z.
    book.Number(1);
    book.Number(2.5);
    book.Text("");
    book.Number(-1e20);
    ASSERT_TRUE(book.EndRow(error));
    for (int c = 0; c < 28; ++c) {
        book.Text(std::to_string(c));
    }
    ASSERT_TRUE(book.EndRow(error));
    ASSERT_TRUE(book.Finish(error)) << error;

    const CSheetRows rows = ReadBack(dir / "t.xlsx");
    ASSERT_EQ(rows.size(), std::size(texts) + 2);
    for (size_t r = 0; r < std::size(texts); ++r) {
        EXPECT_EQ(rows[r], CSheetRow{texts[r].read}) << r;
    }
    EXPECT_EQ(rows[std::size(texts)], (CSheetRow{"1", "2.5", "", "-1e+20"}));
    const CSheetRow& wide = rows.back();
    ASSERT_EQ(wide.size(), 28u);
    EXPECT_EQ(wide[25], "25");
    EXPECT_EQ(wide[27], "27");
}

TEST(XlsxWriter, SheetNames) {
    const struct {
        std::string name;
        bool allowed;
    } cases[] = {
        {"IC卡发卡信息", true},
        {std::string(31, 'a'), true},
        {std::string(32, 'a'), false},
        {std::string(10, 'a') + "卡卡卡卡卡卡卡卡卡卡卡卡卡卡卡卡卡卡卡卡卡",
         true},  // 31 characters
        {"", false},
        {"a[b", false},
        {"a:b", false},
        {"a/b", false},
        {"a\\b", false},
        {"what?", false},
        {"star*", false},
        {"'quoted", false},
        {"quoted'", false},
        {"it's", true},
        {"bad\xFF", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CXlsxWriter::IsSheetName(c.name), c.allowed) << c.name;
    }
    TempDir dir;
    CXlsxWriter book;
    std::string error;
    ASSERT_TRUE(book.Create(dir / "n.xlsx", error));
    EXPECT_FALSE(book.AddSheet("a[b", error));
    EXPECT_EQ(error, "无法创建表格 a[b");
    EXPECT_TRUE(book.AddSheet("ok", error));
    EXPECT_FALSE(book.AddSheet("again", error));
    EXPECT_EQ(error, "工作簿中已有表格");
}

TEST(XlsxWriter, UnfinishedOrFailedFilesAreRemoved) {
    TempDir dir;
    std::string error;
    {
        CXlsxWriter book;
        ASSERT_TRUE(book.Create(dir / "gone.xlsx", error));
        ASSERT_TRUE(book.AddSheet("s", error));
        book.Text("x");
        ASSERT_TRUE(book.EndRow(error));
        EXPECT_TRUE(FileExists(dir / "gone.xlsx"));
    }
    EXPECT_FALSE(FileExists(dir / "gone.xlsx"));

    CXlsxWriter missing;
    EXPECT_FALSE(missing.Create(dir / "no-folder/x.xlsx", error));
    EXPECT_EQ(error.rfind("无法创建工作簿 " + dir / "no-folder/x.xlsx", 0), 0u) << error;

    // A workbook without a sheet gets an empty one, as spreadsheet programs need one.
    CXlsxWriter empty;
    ASSERT_TRUE(empty.Create(dir / "empty.xlsx", error));
    ASSERT_TRUE(empty.Finish(error)) << error;
    EXPECT_TRUE(ReadBack(dir / "empty.xlsx").empty());
}

TEST(XlsxWriter, NoRowBeyondTheSheetsLimit) {
    TempDir dir;
    CXlsxWriter book;
    std::string error;
    ASSERT_TRUE(book.Create(dir / "full.xlsx", error));
    ASSERT_TRUE(book.AddSheet("s", error));
    for (uint32_t r = 0; r < CXlsxWriter::kMaxRows - 1; ++r) {
        ASSERT_TRUE(book.EndRow(error));  // empty rows cost no XML
    }
    book.Text("last");
    ASSERT_TRUE(book.EndRow(error));
    book.Text("one too many");
    EXPECT_FALSE(book.EndRow(error));
    EXPECT_EQ(error, "表格最多只能有1048576行");
    ASSERT_TRUE(book.Finish(error));
    const CSheetRows rows = ReadBack(dir / "full.xlsx");
    ASSERT_EQ(rows.size(), CXlsxWriter::kMaxRows);
    EXPECT_EQ(rows.back(), CSheetRow{"last"});
}

// The statements of an export through the own writer, read back by openpyxl as a spreadsheet
// program would: types, the sheet's name, and the cells the reader of the enrolment sees.
TEST(WorkbookSheet, StatementsBecomeAWorkbookThatOpenpyxlReads) {
    TempDir dir;
    const std::string file = dir / "cards.xls";
    const std::vector<std::string> titles = {"编号", "卡片状态", "姓名", "备注"};
    std::unique_ptr<CSheetTarget> sheet = MakeWorkbookSheet();
    std::string error;
    ASSERT_TRUE(sheet->Open(SheetConnectionString("Excel workbook writer (built in)", file), error))
        << error;
    ASSERT_TRUE(sheet->Execute(SheetCreateTable(titles), error)) << error;
    ASSERT_TRUE(sheet->Execute(SheetInsert(titles, {"1", "已发行", "O'Brien", ""}), error));
    ASSERT_TRUE(sheet->Execute(SheetInsert(titles, {"inf", "未发行", "李四", "<&>"}), error));
    ASSERT_TRUE(sheet->Execute(SheetInsert(titles, {"", "", "", "x"}), error));
    EXPECT_FALSE(sheet->Execute("DROP TABLE x", error));
    EXPECT_EQ(error, "无法执行语句: DROP TABLE x");
    ASSERT_TRUE(sheet->Close(error)) << error;

    WriteFile(dir / "read.py",
              "import openpyxl, sys\n"
              "book = openpyxl.load_workbook(open(sys.argv[1], 'rb'))\n"
              "print(book.sheetnames)\n"
              "for row in book.active.iter_rows(values_only=True):\n"
              "    print(repr(row))\n");
    const ProcessResult r = RunProgram({"/usr/bin/python3", dir / "read.py", file});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out,
              "['IC卡发卡信息']\n"
              "('编号', '卡片状态', '姓名', '备注')\n"
              "(1, '已发行', \"O'Brien\", None)\n"
              "('inf', '未发行', '李四', '<&>')\n"
              "(None, None, None, 'x')\n");
}

// A target that records what it is given, and on which thread, and fails where told.
class RecordingTarget : public CSheetTarget {
public:
    struct Log {
        std::mutex mutex;
        std::vector<std::string> calls;
        std::vector<std::thread::id> threads;
        std::atomic<bool> hold{false};  // Execute waits while set
    };
    RecordingTarget(Log& log, std::string failAt, bool closeFails)
        : m_log(log), m_strFailAt(std::move(failAt)), m_bCloseFails(closeFails) {}
    bool Open(const std::string& connection, std::string&) override {
        Record("open " + connection);
        return true;
    }
    bool Execute(const std::string& statement, std::string& error) override {
        while (m_log.hold.load()) {
            std::this_thread::sleep_for(1ms);
        }
        Record(statement);
        if (statement == m_strFailAt) {
            error = "failed at " + statement;
            return false;
        }
        return true;
    }
    bool Close(std::string& error) override {
        Record("close");
        if (m_bCloseFails) {
            error = "disk full";
            return false;
        }
        return true;
    }

private:
    void Record(const std::string& call) {
        std::lock_guard lock(m_log.mutex);
        m_log.calls.push_back(call);
        m_log.threads.push_back(std::this_thread::get_id());
    }
    Log& m_log;
    std::string m_strFailAt;
    bool m_bCloseFails;
};

std::vector<std::string> Batch(int first, int count) {
    std::vector<std::string> batch;
    for (int i = first; i < first + count; ++i) {
        batch.push_back(std::to_string(i));
    }
    return batch;
}

// Offers every batch, waiting for room, then finishes and waits for the end.
void WriteAll(CSheetWriter& writer, std::vector<std::vector<std::string>> batches) {
    for (auto& batch : batches) {
        while (!writer.Offer(batch) && !writer.Failed()) {
            writer.Wait(10ms);
        }
    }
    writer.Finish();
    while (!writer.Wait(10ms)) {
    }
}

TEST(SheetWriter, RunsTheTargetInOrderOnOneThreadOfItsOwn) {
    const struct {
        const char* what;
        std::string failAt;
        bool closeFails;
        size_t executed;
        const char* error;
    } cases[] = {
        {"all written", "", false, 30, ""},
        {"a statement fails", "12", false, 12, "failed at 12"},
        {"the close fails", "", true, 30, "disk full"},
        {"a statement and the close fail", "3", true, 3, "failed at 3"},
    };
    for (const auto& c : cases) {
        RecordingTarget::Log log;
        std::string error;
        bool ok = false;
        size_t executed = 0;
        {
            CSheetWriter writer(std::make_unique<RecordingTarget>(log, c.failAt, c.closeFails),
                                "DBQ=x");
            WriteAll(writer, {Batch(0, 10), Batch(10, 10), Batch(20, 10)});
            ok = writer.Result(error);
            executed = writer.Executed();
            std::vector<std::string> late = Batch(99, 1);
            EXPECT_FALSE(writer.Offer(late)) << c.what;
            EXPECT_EQ(late.size(), 1u) << c.what;  // a refused batch stays with the caller
        }
        EXPECT_EQ(ok, std::string(c.error).empty()) << c.what;
        EXPECT_EQ(error, c.error) << c.what;
        EXPECT_EQ(executed, c.executed) << c.what;
        std::vector<std::string> expected = {"open DBQ=x"};
        const size_t reached = c.failAt.empty() ? 30 : std::stoul(c.failAt) + 1;
        for (size_t i = 0; i < reached; ++i) {
            expected.push_back(std::to_string(i));
        }
        expected.push_back("close");
        EXPECT_EQ(log.calls, expected) << c.what;
        for (const std::thread::id id : log.threads) {
            EXPECT_EQ(id, log.threads.front()) << c.what;
            EXPECT_NE(id, std::this_thread::get_id()) << c.what;
        }
    }
}

TEST(SheetWriter, AFullQueueRefusesUntilThereIsRoom) {
    RecordingTarget::Log log;
    log.hold = true;
    CSheetWriter writer(std::make_unique<RecordingTarget>(log, "", false), "c");
    // The thread holds one batch in Execute; the queue takes kMaxWaitingBatches more.
    std::vector<std::string> batch = Batch(0, 1);
    ASSERT_TRUE(writer.Offer(batch));
    while (true) {
        std::lock_guard lock(log.mutex);
        if (log.calls.size() == 1) {  // opened; the first batch is taken
            break;
        }
    }
    std::this_thread::sleep_for(20ms);
    for (size_t i = 0; i < CSheetWriter::kMaxWaitingBatches; ++i) {
        batch = Batch(static_cast<int>(i) + 1, 1);
        EXPECT_TRUE(writer.Offer(batch)) << i;
    }
    batch = Batch(100, 1);
    EXPECT_FALSE(writer.Offer(batch));
    EXPECT_FALSE(writer.Wait(20ms));  // no room while the target is held
    log.hold = false;
    while (!writer.Offer(batch)) {
        writer.Wait(10ms);
    }
    writer.Finish();
    while (!writer.Wait(10ms)) {
    }
    std::string error;
    EXPECT_TRUE(writer.Result(error));
    EXPECT_EQ(writer.Executed(), CSheetWriter::kMaxWaitingBatches + 2);
}

}  // namespace
