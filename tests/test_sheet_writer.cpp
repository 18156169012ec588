// The export's own workbook writer, read back by the enrolment's workbook reader and by
// openpyxl, how it replaces an existing file (on a full disk too), and the thread that runs a
// sheet target.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <ctime>
#include <mutex>
#include <thread>

#include "ScopedTmpfs.h"
#include "TestUtil.h"
#include "base/PosixIo.h"
#include "enrol/XlsxFile.h"
#include "sheet/SheetStatements.h"
#include "sheet/SheetTarget.h"
#include "sheet/SheetWriter.h"
#include "sheet/XlsxWriter.h"

namespace {

using namespace std::chrono_literals;

mode_t ModeOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
}

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

// Every entry of the archive carries the local time it was written at, a valid date that
// zip readers accept (the format counts in steps of two seconds).
TEST(XlsxWriter, EveryEntryIsStampedWithTheTimeOfWriting) {
    TempDir dir;
    const std::time_t before = std::time(nullptr);
    CXlsxWriter book;
    std::string error;
    ASSERT_TRUE(book.Create(dir / "t.xlsx", error)) << error;
    ASSERT_TRUE(book.AddSheet("Sheet", error)) << error;
    book.Text("x");
    ASSERT_TRUE(book.EndRow(error));
    ASSERT_TRUE(book.Finish(error)) << error;
    const std::time_t after = std::time(nullptr);

    WriteFile(dir / "dates.py",
              "import datetime, sys, zipfile\n"
              "low = datetime.datetime.fromtimestamp(int(sys.argv[2]) - 2)\n"
              "high = datetime.datetime.fromtimestamp(int(sys.argv[3]))\n"
              "for entry in sorted(zipfile.ZipFile(sys.argv[1]).infolist(), key=lambda e: "
              "e.filename):\n"
              "    stamp = datetime.datetime(*entry.date_time)\n"
              "    print(entry.filename, low <= stamp <= high)\n");
    const ProcessResult r = RunProgram({"/usr/bin/python3", dir / "dates.py", dir / "t.xlsx",
                                        std::to_string(before), std::to_string(after)});
    ASSERT_EQ(r.exitCode, 0) << r.err;  // a day 0 is a ValueError
    EXPECT_EQ(r.out,
              "[Content_Types].xml True\n"
              "_rels/.rels True\n"
              "xl/_rels/workbook.xml.rels True\n"
              "xl/styles.xml True\n"
              "xl/workbook.xml True\n"
              "xl/worksheets/sheet1.xml True\n");
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

TEST(XlsxWriter, AWorkbookIsWrittenUnderATemporaryName) {
    TempDir dir;
    std::string error;
    {
        CXlsxWriter book;
        ASSERT_TRUE(book.Create(dir / "gone.xlsx", error));
        ASSERT_TRUE(book.AddSheet("s", error));
        book.Text("x");
        ASSERT_TRUE(book.EndRow(error));
        const std::vector<std::string> names = ListDir(dir.path());
        ASSERT_EQ(names.size(), 1u);
        EXPECT_EQ(names[0].rfind("gone.xlsx.tmp-", 0), 0u) << names[0];
    }
    EXPECT_TRUE(ListDir(dir.path()).empty());  // unfinished: nothing is left

    CXlsxWriter missing;
    EXPECT_FALSE(missing.Create(dir / "no-folder/x.xlsx", error));
    EXPECT_EQ(error.rfind("无法在文件夹中创建文件 " + dir / "no-folder/x.xlsx", 0), 0u) << error;
    ASSERT_EQ(::mkdir((dir / "folder.xlsx").c_str(), 0700), 0);
    EXPECT_FALSE(missing.Create(dir / "folder.xlsx", error));
    EXPECT_EQ(error, "无法保存 " + dir / "folder.xlsx" + ":这不是一个普通文件");

    // A workbook without a sheet gets an empty one, as spreadsheet programs need one. A new
    // file takes the usual permissions, not those of a temporary file.
    CXlsxWriter empty;
    ASSERT_TRUE(empty.Create(dir / "empty.xlsx", error));
    ASSERT_TRUE(empty.Finish(error)) << error;
    EXPECT_TRUE(ReadBack(dir / "empty.xlsx").empty());
    const mode_t mask = ::umask(0);
    ::umask(mask);
    EXPECT_EQ(ModeOf(dir / "empty.xlsx"), 0666 & ~mask);
}

// Whatever becomes of a workbook that is not finished, the file it was to replace keeps its
// bytes and no temporary file stays; a finished one replaces it, flushed to disk first.
TEST(XlsxWriter, AnExistingFileIsReplacedOnlyByAWholeWorkbook) {
    enum class End { Finish, Destroy, Abandon, FlushFails, RenameFails };
    const struct {
        const char* what;
        End end;
        const char* error;  // the start of Finish's error; none when it succeeds
    } cases[] = {
        {"finished", End::Finish, nullptr},
        {"destroyed unfinished", End::Destroy, nullptr},
        {"abandoned", End::Abandon, "工作簿没有打开"},
        {"the flush to disk fails", End::FlushFails, "无法把数据写入磁盘"},
        {"the rename fails", End::RenameFails, "无法替换文件 "},
    };
    for (const auto& c : cases) {
        TempDir dir;
        const std::string target = dir / "book.xlsx";
        WriteFile(target, "old bytes");
        ASSERT_EQ(::chmod(target.c_str(), 0640), 0);
        std::string error;
        {
            CXlsxWriter book;
            ASSERT_TRUE(book.Create(target, error)) << c.what;
            ASSERT_TRUE(book.AddSheet("s", error));
            book.Text("new");
            ASSERT_TRUE(book.EndRow(error));
            EXPECT_EQ(ReadFile(target), "old bytes") << c.what;
            EXPECT_EQ(ListDir(dir.path()).size(), 2u) << c.what;

            ScopedIoOverride io;
            if (c.end == End::FlushFails) {
                Io().fsync = [](int) {
                    errno = EIO;
                    return -1;
                };
            } else if (c.end == End::RenameFails) {
                Io().rename = [](const char*, const char*) {
                    errno = EXDEV;
                    return -1;
                };
            } else if (c.end == End::Abandon) {
                book.Abandon();
            }
            if (c.end != End::Destroy) {
                EXPECT_EQ(book.Finish(error), c.error == nullptr) << c.what;
                if (c.error != nullptr) {
                    EXPECT_EQ(error.rfind(c.error, 0), 0u) << c.what << ": " << error;
                }
            }
        }
        EXPECT_EQ(ListDir(dir.path()), std::vector<std::string>{"book.xlsx"}) << c.what;
        if (c.end == End::Finish) {
            EXPECT_EQ(ReadBack(target), CSheetRows{CSheetRow{"new"}}) << c.what;
            EXPECT_EQ(ModeOf(target), 0640u) << c.what;  // the replaced file's permissions
        } else {
            EXPECT_EQ(ReadFile(target), "old bytes") << c.what;
        }
    }
}

// What reaches the disk, in order, when a workbook is finished.
std::vector<std::string>& DiskCalls() {
    static std::vector<std::string> calls;
    return calls;
}

TEST(XlsxWriter, TheWorkbookIsOnDiskBeforeItTakesTheName) {
    TempDir dir;
    WriteFile(dir / "book.xlsx", "old bytes");
    CXlsxWriter book;
    std::string error;
    ASSERT_TRUE(book.Create(dir / "book.xlsx", error));
    DiskCalls().clear();
    {
        ScopedIoOverride io;
        Io().fsync = [](int fd) {
            struct stat st {};
            ::fstat(fd, &st);
            DiskCalls().push_back(S_ISDIR(st.st_mode) ? "fsync folder" : "fsync file");
            return ::fsync(fd);
        };
        Io().rename = [](const char* from, const char* to) {
            DiskCalls().push_back("rename");
            return ::rename(from, to);
        };
        ASSERT_TRUE(book.Finish(error)) << error;
    }
    EXPECT_EQ(DiskCalls(), (std::vector<std::string>{"fsync file", "rename", "fsync folder"}));
    EXPECT_TRUE(ReadBack(dir / "book.xlsx").empty());
}

// Writes on a disk that runs full midway (a small tmpfs).
class XlsxWriterOnAFullDisk : public ::testing::Test {
protected:
    static constexpr size_t kRoom = 32 * 1024;
    void SetUp() override { disk.Mount(256 * 1024); }
    ScopedTmpfs disk;
};

TEST_F(XlsxWriterOnAFullDisk, TheFirstFailedWriteEndsTheWorkbook) {
    const std::string target = disk / "book.xlsx";
    WriteFile(target, "old bytes");
    disk.LeaveFree(kRoom);
    CXlsxWriter book;
    std::string error;
    ASSERT_TRUE(book.Create(target, error)) << error;
    ASSERT_TRUE(book.AddSheet("s", error));
    // Texts that deflate poorly, row by row, until the disk is full.
    uint32_t seed = 1;
    bool full = false;
    for (int row = 0; row < 100000 && !full; ++row) {
        for (int column = 0; column < 8; ++column) {
            std::string text;
            for (int i = 0; i < 16; ++i) {
                seed = seed * 1103515245u + 12345u;
                text += "0123456789abcdef"[(seed >> 16) & 15];
            }
            book.Text(text);
        }
        full = !book.EndRow(error);
    }
    ASSERT_TRUE(full);
    const std::string failure = error;
    EXPECT_NE(failure.find("磁盘空间不足"), std::string::npos) << failure;
    // The temporary file has gone at once, and its room with it.
    EXPECT_EQ(ListDir(disk.path()), (std::vector<std::string>{"book.xlsx", "filler"}));
    EXPECT_EQ(disk.FreeBytes(), kRoom);
    // Nothing later brings the broken workbook back.
    book.Text("late");
    EXPECT_FALSE(book.EndRow(error));
    EXPECT_EQ(error, failure);
    EXPECT_FALSE(book.Finish(error));
    EXPECT_EQ(error, failure);
    EXPECT_EQ(ReadFile(target), "old bytes");
    EXPECT_EQ(ListDir(disk.path()), (std::vector<std::string>{"book.xlsx", "filler"}));
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

// An export through the writer thread and the own writer over an existing workbook: the
// workbook is replaced when every statement is written, and kept as it was when one fails or
// the target is dropped without a close.
TEST(WorkbookSheet, AnExportReplacesAnExistingWorkbookWholeOrNotAtAll) {
    const std::vector<std::string> titles = {"卡号", "姓名"};
    const struct {
        const char* what;
        const char* failing;  // a statement put among the rows, or none
        bool close;           // closed, or dropped without a close
        const char* error;
    } cases[] = {
        {"every statement written", nullptr, true, ""},
        {"a statement refused", "DROP TABLE x", true, "无法执行语句: DROP TABLE x"},
        {"dropped without a close", nullptr, false, ""},
    };
    for (const auto& c : cases) {
        TempDir dir;
        const std::string file = dir / "cards.xls";
        WriteFile(file, "old bytes");
        const std::string connection =
            SheetConnectionString("Excel workbook writer (built in)", file);
        std::vector<std::string> rows = {SheetCreateTable(titles)};
        for (int n = 0; n < 10; ++n) {
            rows.push_back(SheetInsert(titles, {std::to_string(n), "住户"}));
            if (c.failing != nullptr && n == 5) {
                rows.push_back(c.failing);
            }
        }
        std::string error;
        bool written = false;
        if (c.close) {
            CSheetWriter writer(MakeWorkbookSheet(), connection);
            WriteAll(writer, {rows});
            written = writer.Result(error);
        } else {
            std::unique_ptr<CSheetTarget> sheet = MakeWorkbookSheet();
            ASSERT_TRUE(sheet->Open(connection, error)) << c.what;
            for (const std::string& statement : rows) {
                ASSERT_TRUE(sheet->Execute(statement, error)) << c.what;
            }
        }
        EXPECT_EQ(written, c.close && c.failing == nullptr) << c.what;
        EXPECT_EQ(error, c.error) << c.what;
        EXPECT_EQ(ListDir(dir.path()), std::vector<std::string>{"cards.xls"}) << c.what;
        if (written) {
            EXPECT_EQ(ReadBack(file).size(), 11u) << c.what;
        } else {
            EXPECT_EQ(ReadFile(file), "old bytes") << c.what;
        }
    }
}

}  // namespace
