// The spreadsheet export of the user-card window: the rows that the card list shows, as a
// table of a new workbook.

#include <QApplication>
#include <QFile>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "app/FileDialog.h"
#include "app/MessageBox.h"
#include "app/WaitCursor.h"
#include "base/PosixIo.h"
#include "sheet/OdbcDrivers.h"
#include "sheet/SheetStatements.h"
#include "sheet/SheetTarget.h"
#include "ui/UserCardDlg.h"

namespace {

// Stands in the connection string where no ODBC driver for workbooks is installed.
const char* const kOwnWriterName = "Excel workbook writer (built in)";

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
    const QString chosen =
        FileDlg::Save(nullptr, QStringLiteral("保存为一个xls格式的文件"),
                      {{QStringLiteral("Files(*.xls)"), QStringLiteral("*.xls")}});
    if (chosen.isEmpty()) {
        return;
    }
    const std::string file = QFile::encodeName(chosen).toStdString();
    struct stat info {};
    if (::stat(file.c_str(), &info) == 0) {
        if (!Msg::Ask(this, QStringLiteral("保存的文件已经存在,是否覆盖?"),
                      QStringLiteral("保存"))) {
            return;
        }
        if (::unlink(file.c_str()) != 0) {
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
    std::string error;
    bool done = target->Open(SheetConnectionString(driver, file), error) &&
                target->Execute(SheetCreateTable(titles), error);
    std::vector<std::string> cells(titles.size());
    for (int row = 0; done && row < m_list.GetItemCount(); ++row) {
        const CListRow listed = m_list.GetRow(row);
        for (size_t c = 0; c < titles.size(); ++c) {
            cells[c] = listed.Cell(static_cast<int>(c)).toString().toStdString();
        }
        done = target->Execute(SheetInsert(titles, cells), error);
    }
    std::string closeError;
    const bool closed = target->Close(closeError);
    if (!done || !closed) {
        Msg::Show(this, QStringLiteral("导出EXCEL失败:\n%1")
                            .arg(QString::fromStdString(done ? closeError : error)));
        return;
    }
    Msg::Show(QApplication::activeWindow(), QStringLiteral("导出文件保存于%1!").arg(chosen));
}
