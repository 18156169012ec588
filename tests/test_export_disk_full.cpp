// The files that the operator names, written over an existing file on a disk that runs full
// midway (a small tmpfs): the workbook of "导出EXCEL", the register of "导出" and the refused
// rows of the batch enrolment. Each failure is told, leaves the existing file byte for byte
// and leaves nothing else behind; with room, the same export replaces the file.

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <functional>

#include "ScopedTmpfs.h"
#include "TestUtil.h"
#include "WindowDriver.h"
#include "app/FileDialog.h"
#include "enrol/CsvFile.h"
#include "enrol/XlsxFile.h"
#include "register/CardFields.h"
#include "ui/EnrolDlg.h"
#include "ui/EnrolIds.h"
#include "ui/UserCardIds.h"

namespace {

constexpr size_t kDiskBytes = 1024 * 1024;
// What the disk has left for the export: less than any of them needs.
constexpr size_t kRoom = 32 * 1024;

// The content of the file that is there before the export.
std::string OldContent() {
    std::string old;
    for (int i = 0; old.size() < 20000; ++i) {
        old += "old content, line " + std::to_string(i) + "\n";
    }
    return old;
}

// The driver manager keeps the folder of its ini files from its first call: one for all.
const TempDir& OdbcFolder() {
    static TempDir folder;
    return folder;
}

class ExportDiskFullTest : public UserCardTest {
protected:
    void SetUp() override {
        // No ODBC driver for workbooks: "导出EXCEL" takes the program's own writer.
        const TempDir& odbc = OdbcFolder();
        ::setenv("ODBCSYSINI", odbc.path().c_str(), 1);
        ::setenv("ODBCINI", (odbc / "odbc.ini").c_str(), 1);
        WriteFile(odbc / "odbcinst.ini", "");
        WriteFile(odbc / "odbc.ini", "");
        disk.Mount(kDiskBytes);
    }

    QString OnDisk(const std::string& name) const { return QString::fromStdString(disk / name); }

    // Runs `runExport` (which asks for `name` on the disk) over an existing file while the
    // disk has only kRoom left, then again with room. Returns what the second export wrote.
    std::string ExportOverExisting(const std::string& name, const std::function<void()>& runExport,
                                   const QString& failure, const QString& success) {
        const std::string old = OldContent();
        WriteFile(disk / name, old);
        disk.LeaveFree(kRoom);

        boxes.clear();
        AnswerNext(QMessageBox::Yes);
        dialogs.QueueAnswer(OnDisk(name));
        runExport();
        const QStringList told = Messages();
        EXPECT_EQ(told.size(), 2) << told.join('|').toStdString();
        EXPECT_EQ(told.value(0), QStringLiteral("保存的文件已经存在,是否覆盖?"));
        EXPECT_TRUE(told.value(1).startsWith(failure)) << told.value(1).toStdString();
        EXPECT_TRUE(told.value(1).contains(QStringLiteral("磁盘空间不足")))
            << told.value(1).toStdString();
        EXPECT_TRUE(SameBytes(ReadFile(disk / name), old));
        std::vector<std::string> leftBehind = {name, "filler"};
        std::sort(leftBehind.begin(), leftBehind.end());
        EXPECT_EQ(ListDir(disk.path()), leftBehind);
        EXPECT_EQ(disk.FreeBytes(), kRoom);  // the unfinished file's space is given back

        EXPECT_EQ(::unlink((disk / "filler").c_str()), 0);
        boxes.clear();
        AnswerNext(QMessageBox::Yes);
        dialogs.QueueAnswer(OnDisk(name));
        runExport();
        const QStringList saved = Messages();
        EXPECT_EQ(saved.size(), 2) << saved.join('|').toStdString();
        EXPECT_TRUE(saved.value(1).startsWith(success)) << saved.value(1).toStdString();
        EXPECT_EQ(ListDir(disk.path()), std::vector<std::string>{name});
        const std::string written = ReadFile(disk / name);
        EXPECT_GT(written.size(), kRoom);  // the first export did run out of room
        return written;
    }

    // Cards with texts of their own, so that the export does not shrink to nothing.
    void AddCards(int count) {
        for (int n = 1; n <= count; ++n) {
            CCard& card = Add(CardNoText(n), n);
            card.m_strName = "holder " + std::to_string(n * 7919 % 100003);
            card.m_strPhone = std::to_string(13900000000 + n * 104729 % 1000003);
        }
    }

    ScopedTmpfs disk;
    FileDlg::Recorder dialogs;
};

TEST_F(ExportDiskFullTest, TheWorkbookOfTheCardList) {
    AddCards(1600);
    Open();
    const std::string written = ExportOverExisting(
        "cards.xls", [this] { Click(UserCardIds::IDC_EXPORT_EXCEL); },
        QStringLiteral("导出EXCEL失败"), QStringLiteral("导出文件保存于"));
    CSheetRows rows;
    std::string error;
    ASSERT_TRUE(ReadXlsx(written, rows, error)) << error;
    ASSERT_EQ(rows.size(), 1601u);
    EXPECT_EQ(rows.back()[2], Cell(1599, 2).toStdString());
}

TEST_F(ExportDiskFullTest, TheRegister) {
    AddCards(2000);
    Open();
    const std::string written = ExportOverExisting(
        "cards.kcd", [this] { Click(UserCardIds::IDC_EXPORT); }, QStringLiteral("导出失败"),
        QStringLiteral("导出文件保存于"));
    EXPECT_TRUE(SameBytes(written, RegisterBytes(app.m_mapCards)));
}

TEST_F(ExportDiskFullTest, TheRefusedRowsOfABatchEnrolment) {
    std::string csv = "姓名,有效期\r\n";
    for (int i = 1; i <= 3000; ++i) {
        csv += CsvLine({"住户" + std::to_string(i), "2025-02-30"});
    }
    WriteFile(dir / "residents.csv", csv);
    const std::unique_ptr<CEnrolDlg> enrol = NewEnrolDialog(app);
    WindowDriver::Open(enrol.get());
    dialogs.QueueAnswer(Path("residents.csv"));
    Click(EnrolIds::IDC_ENROL_CHOOSE);
    ASSERT_EQ(Text(EnrolIds::IDC_ENROL_SUMMARY),
              QStringLiteral("预览: 新增0张,修改0张,不变0张,拒绝3000行"));

    const std::string written = ExportOverExisting(
        "refused.csv", [this] { Click(EnrolIds::IDC_ENROL_SAVE_REFUSED); },
        QStringLiteral("拒绝的行无法保存"), QStringLiteral("拒绝的行(3000行)已保存于"));
    CSheetRows rows;
    std::string error;
    ASSERT_TRUE(ReadCsv(written, rows, error)) << error;
    ASSERT_EQ(rows.size(), 3001u);
    EXPECT_EQ(rows.back(), (CSheetRow{"住户3000", "2025-02-30", "有效期“2025-02-30”不是日期"}));
}

}  // namespace
