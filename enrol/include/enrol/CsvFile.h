#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "enrol/SheetRows.h"

// The encodings a CSV file is recognised in.
enum class TextEncoding { Utf8, Gb18030 };

// Text bytes to UTF-8, the encoding recognised by content: a UTF-8 byte order mark (dropped)
// or well-formed UTF-8 is UTF-8, anything else that decodes as GB18030 is GB18030. False with
// `error` when the bytes are neither.
bool DecodeText(std::string_view bytes, std::string& utf8, TextEncoding& encoding,
                std::string& error);

// Splits CSV text into rows of cells: cells separated by commas, rows by CR, LF or CR LF; a
// cell that starts with a double quote runs to the closing quote and may hold commas, line
// breaks (kept as LF) and doubled quotes (one quote each). A quote inside an unquoted cell is
// an ordinary character. False with `error` when a quoted cell is not closed. `progress` is told
// the bytes parsed now and then.
bool ParseCsv(std::string_view text, CSheetRows& rows, std::string& error,
              const CProgress& progress = nullptr);

// DecodeText, then ParseCsv.
bool ReadCsv(std::string_view bytes, CSheetRows& rows, std::string& error,
             const CProgress& progress = nullptr);

// One CSV row ending in CR LF: a cell with a comma, quote or line break, or leading or trailing
// blanks, is quoted, its quotes doubled.
std::string CsvLine(const std::vector<std::string>& cells);
