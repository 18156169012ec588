#pragma once

#include <string>
#include <string_view>
#include <vector>

// The cells of a resident list, row by row from the file's first row, as UTF-8 texts. Rows
// may differ in length; a missing cell is an empty one.
using CSheetRow = std::vector<std::string>;
using CSheetRows = std::vector<CSheetRow>;

// Reads a resident list from a file's bytes: a workbook (.xlsx, the first sheet) when the
// bytes are a zip archive, otherwise CSV text. False with `error` (UTF-8, for the operator)
// when the file cannot be read as either.
bool ReadResidentList(std::string_view bytes, CSheetRows& rows, std::string& error);
