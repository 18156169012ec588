// The history as the window reads it: the index over a real history file, its filters, what
// a damaged file still lists, and the export's CSV read back by the enrolment's CSV reader.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <vector>

#include "HistoryTestUtil.h"
#include "ScopedTmpfs.h"
#include "TestUtil.h"
#include "base/PosixIo.h"
#include "enrol/CsvFile.h"
#include "history/HistoryExport.h"
#include "history/HistoryView.h"

namespace {

class HistoryViewTest : public ::testing::Test {
protected:
    void SetUp() override { AppendEntries(path, SampleEntries()); }

    void Load() {
        std::string error;
        ASSERT_TRUE(view.Load(path, error)) << error;
    }
    // The record numbers of `rows`, in their order.
    std::vector<uint64_t> Numbers(const std::vector<uint32_t>& rows) const {
        return NumbersOf(view, rows);
    }
    static std::vector<uint64_t> NumbersOf(const CHistoryView& view,
                                           const std::vector<uint32_t>& rows) {
        std::vector<uint64_t> numbers;
        for (const uint32_t row : rows) {
            numbers.push_back(view.Number(row));
        }
        return numbers;
    }
    std::vector<uint64_t> All() const { return Numbers(view.Filter(HistoryFilter())); }

    TempDir dir;
    std::string path = dir / "cardbook.kcd.history";
    CHistoryView view;
};

HistoryFilter Days(int32_t from, int32_t to) {
    HistoryFilter filter;
    filter.fromDay = from;
    filter.toDay = to;
    return filter;
}
HistoryFilter CardPart(const std::string& part) {
    HistoryFilter filter;
    filter.cardNo = part;
    return filter;
}
HistoryFilter NamePart(const std::string& part) {
    HistoryFilter filter;
    filter.name = part;
    return filter;
}
HistoryFilter OperationOf(int operation) {
    HistoryFilter filter;
    filter.operation = operation;
    return filter;
}

TEST_F(HistoryViewTest, FiltersMatchTheRecordsTheyShould) {
    Load();
    const int extend = static_cast<int>(CardOperation::Extend);
    HistoryFilter extendedByZhang = OperationOf(extend);
    extendedByZhang.name = "张";
    HistoryFilter cardAndDays = CardPart("000123");
    cardAndDays.fromDay = 20261201;
    cardAndDays.toDay = 20261209;
    struct Case {
        const char* what;
        HistoryFilter filter;
        std::vector<uint64_t> numbers;
    };
    const Case cases[] = {
        {"nothing asked", HistoryFilter(), {8, 7, 6, 5, 4, 3, 2, 1}},
        {"one local day", Days(20261201, 20261201), {3, 2}},
        {"the next local day", Days(20261202, 20261202), {4}},
        {"from a day on", Days(20261202, 0), {8, 7, 6, 5, 4}},
        {"up to a day", Days(0, 20261130), {1}},
        {"both ends inclusive", Days(20261130, 20261205), {5, 4, 3, 2, 1}},
        {"a day with nothing", Days(20261203, 20261204), {}},
        {"from after to", Days(20261210, 20261201), {}},
        {"card part at the end", CardPart("123"), {6, 5, 4, 3, 2, 1}},
        {"card part in the middle", CardPart("0012"), {6, 3, 2, 1}},
        {"whole card number", CardPart("555555"), {7}},
        {"card part nowhere", CardPart("999"), {}},
        {"Chinese name part", NamePart("张三"), {6, 2, 1}},
        {"name part in the middle", NamePart("小"), {7}},
        {"Latin part lower case", NamePart("li"), {5, 4}},
        {"Latin part upper case", NamePart("LI W"), {4}},
        {"Latin part mixed case", NamePart("yAnG"), {5}},
        {"one operation", OperationOf(extend), {6, 3}},
        {"an operation of the history itself",
         OperationOf(static_cast<int>(HistoryOperation::Export)),
         {8}},
        {"an operation nobody did", OperationOf(static_cast<int>(CardOperation::Enrol)), {}},
        {"operation and name", extendedByZhang, {6}},
        {"card and days", cardAndDays, {2}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Numbers(view.Filter(c.filter)), c.numbers) << c.what;
    }
}

TEST_F(HistoryViewTest, RowsAreNewestFirstWithTheirFields) {
    Load();
    EXPECT_TRUE(view.Exists());
    ASSERT_EQ(view.Count(), 8u);
    EXPECT_EQ(All(), (std::vector<uint64_t>{8, 7, 6, 5, 4, 3, 2, 1}));
    // The first and last day are the earliest and latest, not the first and last written.
    EXPECT_EQ(view.FirstDay(), 20261130);
    EXPECT_EQ(view.LastDay(), 20261210);

    // Row 2 is record 6.
    EXPECT_EQ(view.TimeText(2), "2026-12-10 09:05:00");
    EXPECT_EQ(view.Day(2), 20261210);
    EXPECT_EQ(view.Desk(2), "desk1/operator");
    EXPECT_EQ(view.Operation(2), static_cast<uint8_t>(CardOperation::Extend));
    EXPECT_EQ(view.CardNo(2), "000123");
    EXPECT_EQ(view.Name(2), "张三丰");
    EXPECT_EQ(view.Content(2), "有效期:20261231→20270630");
    EXPECT_EQ(view.ContentText(2), "有效期:20261231→20270630; 收费:12.50元");
    EXPECT_EQ(view.ContentText(3), "删除");  // no fee, nothing added
    EXPECT_EQ(view.TimeText(4), "2026-12-02 00:30:00");
}

TEST(HistoryView, DaysAreTheDesksLocalDays) {
    struct Case {
        int64_t time;
        int32_t utcOffset;
        int32_t day;
    };
    const Case cases[] = {
        {UtcTime(2024, 2, 29, 15, 59) + 59, 8 * 3600, 20240229},  // 23:59:59 local
        {UtcTime(2024, 2, 29, 16, 0), 8 * 3600, 20240301},
        {UtcTime(2026, 12, 31, 16, 0), 8 * 3600, 20270101},
        {UtcTime(2027, 1, 1, 3, 0), -5 * 3600, 20261231},
        {UtcTime(1969, 12, 31, 23, 0), 0, 19691231},
        {-1, 0, 19691231},
        {0, 0, 19700101},
        {UtcTime(2100, 3, 1, 0, 0), 0, 21000301},
    };
    TempDir dir;
    std::vector<CHistoryEntry> entries;
    for (const Case& c : cases) {
        CHistoryEntry entry;
        entry.time = c.time;
        entry.utcOffset = c.utcOffset;
        entries.push_back(entry);
    }
    AppendEntries(dir / "h", entries);
    CHistoryView view;
    std::string error;
    ASSERT_TRUE(view.Load(dir / "h", error)) << error;
    ASSERT_EQ(view.Count(), std::size(cases));
    for (size_t i = 0; i < std::size(cases); ++i) {
        const uint32_t row = view.Count() - 1 - static_cast<uint32_t>(i);
        CHistoryEntryView entry;
        entry.time = cases[i].time;
        entry.utcOffset = cases[i].utcOffset;
        EXPECT_EQ(view.Day(row), cases[i].day) << i;
        EXPECT_EQ(view.Day(row), entry.LocalDay()) << i;
        EXPECT_EQ(view.TimeText(row), entry.TimeText()) << i;
    }
}

TEST(HistoryView, MissingOrUnreadableHistory) {
    TempDir dir;
    CHistoryView view;
    std::string error;
    ASSERT_TRUE(view.Load(dir / "none.history", error)) << error;
    EXPECT_FALSE(view.Exists());
    EXPECT_EQ(view.Count(), 0u);
    EXPECT_EQ(view.FirstDay(), 0);
    EXPECT_TRUE(view.Filter(HistoryFilter()).empty());

    // A folder where the file should be.
    EXPECT_FALSE(view.Load(dir.path(), error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(view.Count(), 0u);
}

TEST_F(HistoryViewTest, ADamagedHistoryListsWhatIsWhole) {
    CHistoryFile::Contents contents;
    std::string error;
    ASSERT_TRUE(CHistoryFile::Read(path, contents, error)) << error;
    ASSERT_EQ(contents.records.size(), 8u);
    const uint64_t secondAt = contents.records[1].offset;
    const uint64_t end = contents.validEnd;
    std::string bytes = ReadFile(path);

    struct Case {
        const char* what;
        std::string bytes;
        std::vector<uint64_t> numbers;
    };
    std::string changedMarker = bytes;
    changedMarker[secondAt] = 'X';
    std::string changedLength = bytes;
    changedLength[secondAt + 7] = '\x7F';  // longer than the file
    const Case cases[] = {
        {"cut in the last record", bytes.substr(0, end - 10), {7, 6, 5, 4, 3, 2, 1}},
        {"cut after a record's header",
         bytes.substr(0, contents.records[7].offset + 16),
         {7, 6, 5, 4, 3, 2, 1}},
        {"garbage after the last record", bytes + "KCHR\x05", {8, 7, 6, 5, 4, 3, 2, 1}},
        {"a record's marker changed", changedMarker, {8, 7, 6, 5, 4, 3, 1}},
        {"a record's length changed", changedLength, {8, 7, 6, 5, 4, 3, 1}},
    };
    for (const Case& c : cases) {
        WriteFile(path, c.bytes);
        CHistoryView damaged;
        ASSERT_TRUE(damaged.Load(path, error)) << c.what << ": " << error;
        EXPECT_EQ(NumbersOf(damaged, damaged.Filter(HistoryFilter())), c.numbers) << c.what;
        // What is listed is read correctly.
        if (!c.numbers.empty()) {
            EXPECT_EQ(damaged.Name(0), c.numbers[0] == 8 ? "" : "王小明") << c.what;
        }
    }
}

TEST_F(HistoryViewTest, ARecordOfAnotherFormatIsLeftOut) {
    AppendPayloads(
        path, {"not an entry",
               EntryAt(2026, 12, 11, 8, 0, CardOperation::Add, "777777", "赵六", "新增").Encode()});
    Load();
    EXPECT_EQ(view.Undecodable(), 1u);
    EXPECT_EQ(All(), (std::vector<uint64_t>{10, 8, 7, 6, 5, 4, 3, 2, 1}));
    EXPECT_EQ(view.Name(0), "赵六");
}

TEST(HistoryView, ContainsComparesBytesAndLatinLettersInEitherCase) {
    struct Case {
        std::string_view text;
        std::string_view part;
        bool contains;
    };
    const Case cases[] = {
        {"Li Wei", "", true},      {"", "", true},          {"", "a", false},
        {"ab", "abc", false},      {"Li Wei", "i w", true}, {"Li Wei", "WEI", true},
        {"Li Wei", "Wie", false},  {"x1Y-2", "1y-", true},  {"王小明", "小明", true},
        {"王小明", "明王", false}, {"Ａbc", "ａ", false},   {"张三丰", "三丰", true},
        {"abcabd", "abd", true},   {"AAAB", "aab", true},   {"000123", "0123", true},
        {"000123", "1234", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CHistoryView::Contains(c.text, c.part), c.contains)
            << "\"" << c.text << "\" ∋ \"" << c.part << "\"";
    }
}

ExportTable TableOf(const std::vector<std::vector<std::string>>& rows) {
    ExportTable table;
    table.titles = {"名称", "值"};
    table.rowCount = rows.size();
    table.fillRow = [rows](size_t row, std::vector<std::string>& cells) { cells = rows[row]; };
    return table;
}

TEST(HistoryExport, CsvIsQuotedWhereNeededAndReadsBack) {
    const std::vector<std::vector<std::string>> rows = {
        {"plain", "王小明"}, {"a,b", "say \"hi\""}, {"two\r\nlines", "one\nline"},
        {"", " spaced "},    {"\"", "cr\ronly"},
    };
    const std::string text = CsvText(TableOf(rows));
    EXPECT_EQ(text,
              "\xEF\xBB\xBF"
              "名称,值\r\n"
              "plain,王小明\r\n"
              "\"a,b\",\"say \"\"hi\"\"\"\r\n"
              "\"two\r\nlines\",\"one\nline\"\r\n"
              ", spaced \r\n"
              "\"\"\"\",\"cr\ronly\"\r\n");

    CSheetRows read;
    std::string error;
    ASSERT_TRUE(ReadCsv(text, read, error)) << error;
    ASSERT_EQ(read.size(), rows.size() + 1);
    EXPECT_EQ(read[0], (CSheetRow{"名称", "值"}));
    for (size_t r = 0; r < rows.size(); ++r) {
        for (size_t c = 0; c < 2; ++c) {
            // The reader gives every line break inside a cell as LF.
            std::string expected = rows[r][c];
            for (size_t at; (at = expected.find("\r\n")) != std::string::npos;) {
                expected.replace(at, 2, "\n");
            }
            for (size_t at; (at = expected.find('\r')) != std::string::npos;) {
                expected[at] = '\n';
            }
            EXPECT_EQ(read.Cell(r + 1, c), expected) << r << "," << c;
        }
    }
}

TEST_F(HistoryViewTest, TheExportCarriesEachRecordsNumberAndHash) {
    Load();
    const std::string bytes = ReadFile(path);
    CHistoryFile::Contents contents;
    std::string error;
    ASSERT_TRUE(CHistoryFile::Read(path, contents, error)) << error;

    HistoryFilter filter = CardPart("000123");
    const std::vector<uint32_t> rows = view.Filter(filter);
    const ExportTable table = HistoryExportTable(view, rows);
    EXPECT_EQ(table.titles, (std::vector<std::string>{"时间", "工作站", "操作", "卡号", "姓名",
                                                      "内容", "序号", "校验值"}));
    ASSERT_EQ(table.rowCount, 3u);
    std::vector<std::string> cells;
    table.fillRow(0, cells);
    EXPECT_EQ(cells, (std::vector<std::string>{
                         "2026-12-10 09:05:00", "desk1/operator", "延期", "000123", "张三丰",
                         "有效期:20261231→20270630; 收费:12.50元", "6",
                         HexText(contents.records[5].hash, CHistoryFile::kHashSize)}));
    // The hash is the one that closes the record in the file.
    const CHistoryFile::Record& record = contents.records[5];
    const size_t hashAt = record.offset + CHistoryFile::kRecordHeaderSize + record.payload.size();
    EXPECT_EQ(cells[7], HexText(reinterpret_cast<const uint8_t*>(bytes.data() + hashAt), 32));
    EXPECT_EQ(cells[7].size(), 64u);
    table.fillRow(2, cells);
    EXPECT_EQ(cells[2], "新增");
    EXPECT_EQ(cells[6], "1");
}

TEST(HistoryExport, ALongCsvIsWrittenWholeInPieces) {
    std::vector<std::vector<std::string>> rows;
    for (int i = 0; i < 40000; ++i) {
        rows.push_back({std::to_string(i), std::string(60, static_cast<char>('a' + i % 26)) +
                                               (i % 7 == 0 ? ",\"x\"" : "")});
    }
    const ExportTable table = TableOf(rows);
    TempDir dir;
    std::string error;
    ASSERT_TRUE(WriteCsvFile(dir / "big.csv", table, error)) << error;
    const std::string written = ReadFile(dir / "big.csv");
    EXPECT_GT(written.size(), 2u << 20);
    EXPECT_EQ(written, CsvText(table));
}

TEST(HistoryExport, AFailedCsvLeavesTheFileAsItWas) {
    ScopedTmpfs disk;
    disk.Mount(4 << 20);
    std::vector<std::vector<std::string>> rows(40000, {"row", std::string(50, 'z')});
    const ExportTable table = TableOf(rows);  // about 2.2 MB
    WriteFile(disk / "out.csv", "before");
    // The disk is full when the second piece is written, or at once.
    std::vector<std::string> files = {"out.csv"};
    for (const size_t free : {size_t{3} << 19, size_t{0}}) {
        const std::string filler = "filler" + std::to_string(free);
        disk.LeaveFree(free, filler);
        files.push_back(filler);
        std::sort(files.begin(), files.end());
        std::string error;
        EXPECT_FALSE(WriteCsvFile(disk / "out.csv", table, error)) << free;
        EXPECT_NE(error.find(ErrnoText(ENOSPC)), std::string::npos) << free << ": " << error;
        EXPECT_EQ(ReadFile(disk / "out.csv"), "before") << free;
        EXPECT_EQ(ListDir(disk.path()), files) << free;
    }
}

}  // namespace
