#include "ui/TableExport.h"

#include <charconv>
#include <cmath>
#include <vector>

#include "app/FileDialog.h"
#include "app/MessageBox.h"
#include "app/WaitCursor.h"
#include "sheet/XlsxWriter.h"

bool ExportTableAsked(QWidget* parent, TableFileFormat format, const ExportTable& table,
                      std::string_view sheetName, const QString& done) {
    const bool csv = format == TableFileFormat::Csv;
    const FileDlg::SaveTarget target =
        csv ? FileDlg::AskSaveTarget(parent, QStringLiteral("保存为一个csv格式的文件"),
                                     {QStringLiteral("Files(*.csv)"), QStringLiteral("*.csv")},
                                     QStringLiteral(".csv"), Qt::CaseInsensitive)
            : FileDlg::AskSaveTarget(parent, QStringLiteral("保存为一个xlsx格式的文件"),
                                     {QStringLiteral("Files(*.xlsx)"), QStringLiteral("*.xlsx")},
                                     QStringLiteral(".xlsx"), Qt::CaseInsensitive);
    if (target.IsEmpty()) {
        return false;
    }
    std::string error;
    bool written = false;
    {
        WaitCursor wait;
        written = csv ? WriteCsvFile(target.path, table, error)
                      : WriteXlsxTable(target.path, sheetName, table, error);
    }
    if (!written) {
        Msg::Show(parent,
                  (csv ? QStringLiteral("导出失败:\n%1") : QStringLiteral("导出EXCEL失败:\n%1"))
                      .arg(QString::fromStdString(error)));
        return false;
    }
    Msg::Tell(parent, done.arg(target.name));
    return true;
}

bool WriteXlsxTable(const std::string& path, std::string_view sheetName, const ExportTable& table,
                    std::string& error) {
    CXlsxWriter writer;
    if (!writer.Create(path, error) || !writer.AddSheet(sheetName, error)) {
        return false;
    }
    for (const std::string& title : table.titles) {
        writer.Text(title);
    }
    if (!writer.EndRow(error)) {
        return false;
    }
    std::vector<std::string> cells;
    for (size_t row = 0; row < table.rowCount; ++row) {
        table.fillRow(row, cells);
        for (size_t c = 0; c < cells.size(); ++c) {
            const std::string& cell = cells[c];
            if (c < table.numeric.size() && table.numeric[c] && !cell.empty()) {
                double value = 0;
                const char* end = cell.data() + cell.size();
                const std::from_chars_result read = std::from_chars(cell.data(), end, value);
                if (read.ec == std::errc() && read.ptr == end && std::isfinite(value)) {
                    writer.Number(value);
                    continue;
                }
            }
            writer.Text(cell);
        }
        if (!writer.EndRow(error)) {
            return false;
        }
    }
    return writer.Finish(error);
}
