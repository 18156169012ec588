// The spreadsheet export of the user-card window: the rows that the card list shows, as a
// table of a new workbook, written on a thread of its own under a progress dialog.

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QProgressDialog>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>

#include "app/FileDialog.h"
#include "app/MessageBox.h"
#include "app/WaitCursor.h"
#include "base/PosixIo.h"
#include "sheet/OdbcDrivers.h"
#include "sheet/SheetStatements.h"
#include "sheet/SheetTarget.h"
#include "sheet/SheetWriter.h"
#include "ui/UserCardDlg.h"

namespace {

// Stands in the connection string where no ODBC driver for workbooks is installed.
const char* const kOwnWriterName = "Excel workbook writer (built in)";

// Hands the statements on to the export's target until the export is cancelled; from then on
// refuses them and drops the target without closing it, so that the own writer never puts an
// unfinished workbook in place of the chosen file.
class CCancellableSheet : public CSheetTarget {
public:
    CCancellableSheet(std::unique_ptr<CSheetTarget> target, const std::atomic<bool>& cancelled)
        : m_pTarget(std::move(target)), m_cancelled(cancelled) {}

    bool Open(const std::string& connection, std::string& error) override {
        return m_pTarget->Open(connection, error);
    }
    bool Execute(const std::string& statement, std::string& error) override {
        if (m_cancelled.load()) {
            error = "导出已取消";
            return false;
        }
        return m_pTarget->Execute(statement, error);
    }
    bool Close(std::string& error) override {
        if (m_cancelled.load()) {
            m_pTarget.reset();
            error = "导出已取消";
            return false;
        }
        return m_pTarget->Close(error);
    }

private:
    std::unique_ptr<CSheetTarget> m_pTarget;
    const std::atomic<bool>& m_cancelled;
};

}  // namespace

void CUserCardDlg::OnExportExcel() {
    if (m_list.GetItemCount() == 0) {
        return;
    }
    // An installed ODBC driver for workbooks is used where there is one; otherwise the
    // program's own writer takes the same connection string and statements.
    const std::string installed = FindExcelDriver();
    const std::string driver = installed.empty() ? kOwnWriterName : installed;
    std::unique_ptr<CSheetTarget> target =
        installed.empty() ? MakeWorkbookSheet() : MakeOdbcSheet();
    if (!target) {
        Msg::Show(QApplication::activeWindow(),
                  QStringLiteral("没有安装Excel!\n请先安装Excel软件才能使用导出功能!"));
        return;
    }
    // The own writer writes Office Open XML, which spreadsheet programs open only under the
    // extension .xlsx: it offers that, and adds it to a name typed without an extension.
    QString chosen =
        installed.empty()
            ? FileDlg::Save(nullptr, QStringLiteral("保存为一个xlsx格式的文件"),
                            {{QStringLiteral("Files(*.xlsx)"), QStringLiteral("*.xlsx")}})
            : FileDlg::Save(nullptr, QStringLiteral("保存为一个xls格式的文件"),
                            {{QStringLiteral("Files(*.xls)"), QStringLiteral("*.xls")}});
    if (chosen.isEmpty()) {
        return;
    }
    if (installed.empty() && QFileInfo(chosen).suffix().isEmpty()) {
        chosen += QStringLiteral(".xlsx");
    }
    const std::string file = QFile::encodeName(chosen).toStdString();
    struct stat info {};
    if (::stat(file.c_str(), &info) == 0) {
        if (!Msg::Ask(this, QStringLiteral("保存的文件已经存在,是否覆盖?"),
                      QStringLiteral("保存"))) {
            return;
        }
        // The own writer replaces the file only with a whole workbook. An ODBC driver writes
        // under the name itself and is given a free one.
        if (!installed.empty() && ::unlink(file.c_str()) != 0) {
            Msg::Show(this, QStringLiteral("无法删除文件:\n%1\n\n%2")
                                .arg(chosen, QString::fromStdString(ErrnoText(errno))));
            return;
        }
    }

    WaitCursor wait;
    std::vector<std::string> titles;
    for (int c = 0; c < m_list.Model()->columnCount(); ++c) {
        titles.push_back(m_list.Model()
                             ->headerData(c, Qt::Horizontal, Qt::DisplayRole)
                             .toString()
                             .toStdString());
    }
    const SheetExportEnd end =
        WriteSheet(std::move(target), SheetConnectionString(driver, file), titles);
    if (end.canceled) {
        // What a driver wrote of the workbook is not a whole export: it goes. The own writer
        // has left the file as it was.
        if (!installed.empty()) {
            ::unlink(file.c_str());
        }
        if (!end.windowClosed) {
            Msg::Show(this, QStringLiteral("导出已取消,没有保存文件。"), QMessageBox::Information);
        }
        return;
    }
    if (end.windowClosed) {
        return;  // closed after the last row: the workbook is whole, and no one is asked
    }
    if (!end.written) {
        Msg::Show(this,
                  QStringLiteral("导出EXCEL失败:\n%1").arg(QString::fromStdString(end.error)));
        return;
    }
    std::string error;
    m_desk.store.Record(
        static_cast<uint8_t>(HistoryOperation::ExportExcel),
        "文件:" + chosen.toStdString() + "; 行数" + std::to_string(m_list.GetItemCount()), error);
    Msg::Show(QApplication::activeWindow(), QStringLiteral("导出文件保存于%1!").arg(chosen));
}

SheetExportEnd CUserCardDlg::WriteSheet(std::unique_ptr<CSheetTarget> target,
                                        const std::string& connection,
                                        const std::vector<std::string>& titles) {
    // The rows are turned into statements here while the writer's thread executes the ones
    // before; the progress dialog shows the rows handed over and then the closing of the file.
    constexpr int kBatchRows = 500;
    const int rows = m_list.GetItemCount();
    QProgressDialog progress(QStringLiteral("正在导出EXCEL..."), QStringLiteral("取消"), 0, rows,
                             this);
    progress.setWindowTitle(QStringLiteral("导出EXCEL"));
    progress.setWindowModality(Qt::WindowModal);
    progress.setAutoClose(false);
    progress.setAutoReset(false);
    progress.setMinimumDuration(500);

    // Repaints and timers go on; the operator's input only once the dialog is up, as it then
    // keeps that input from the window.
    const auto letEventsThrough = [&progress] {
        QApplication::processEvents(progress.isVisible() ? QEventLoop::AllEvents
                                                         : QEventLoop::ExcludeUserInputEvents);
    };

    SheetExportEnd end;
    // The window closed under the export (the program is told to end): the export stops, and
    // nothing waits for the operator afterwards.
    const QMetaObject::Connection closing =
        connect(this, &QDialog::finished, this, [&end] { end.windowClosed = true; });
    std::atomic<bool> cancelled{false};
    CSheetWriter writer(std::make_unique<CCancellableSheet>(std::move(target), cancelled),
                        connection);
    std::vector<std::string> batch{SheetCreateTable(titles)};
    std::vector<std::string> cells(titles.size());
    for (int row = 0; row <= rows && !writer.Failed() && !end.canceled; ++row) {
        if (row < rows) {
            const CListRow listed = m_list.GetRow(row);
            for (size_t c = 0; c < titles.size(); ++c) {
                cells[c] = listed.Cell(static_cast<int>(c)).toString().toStdString();
            }
            batch.push_back(SheetInsert(titles, cells));
            if (batch.size() < kBatchRows) {
                continue;
            }
        }
        while (!writer.Offer(batch) && !writer.Failed()) {
            writer.Wait(std::chrono::milliseconds(20));
            letEventsThrough();
        }
        progress.setValue(std::min(row + 1, rows));
        letEventsThrough();
        end.canceled = progress.wasCanceled() || end.windowClosed;
    }
    cancelled = end.canceled;
    writer.Finish();
    progress.setLabelText(QStringLiteral("正在保存文件..."));
    progress.setCancelButton(nullptr);
    progress.setRange(0, 0);
    while (!writer.Wait(std::chrono::milliseconds(50))) {
        letEventsThrough();
    }
    progress.close();
    disconnect(closing);
    end.written = writer.Result(end.error) && !end.canceled;
    return end;
}
