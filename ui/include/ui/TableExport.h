#pragma once

#include <QString>

#include <string>
#include <string_view>

#include "history/HistoryExport.h"

class QWidget;

enum class TableFileFormat { Csv, Xlsx };

// A window's "导出CSV…" or "导出EXCEL…" of a table: asks for the file (an existing one is
// overwritten only when the operator says so), writes it whole (a workbook's one sheet named
// `sheetName`) and tells the operator: `done`, its one place marker left (%1, or %2 after an
// arg() of the caller) taking the file's name, or why it could not be written. False when
// nothing was written.
bool ExportTableAsked(QWidget* parent, TableFileFormat format, const ExportTable& table,
                      std::string_view sheetName, const QString& done);

// Writes `table` as the one sheet `sheetName` of a workbook that replaces `path` only once it
// is whole; the columns marked in table.numeric become numbers. False with `error` (for the
// operator) on failure.
bool WriteXlsxTable(const std::string& path, std::string_view sheetName, const ExportTable& table,
                    std::string& error);
