#pragma once

#include <string>
#include <string_view>

#include "enrol/SheetRows.h"

// Reads the first sheet of an Office Open XML workbook (.xlsx) from its bytes: row r of the
// sheet is rows[r - 1]; texts, shared and inline strings as they are, numbers as the file
// writes them, and a number in a date format as the day it stands for ("2025-03-01"). False
// with `error` (for the operator) when the bytes are no readable workbook. `progress` is told the
// bytes of the sheet read now and then.
bool ReadXlsx(std::string_view bytes, CSheetRows& rows, std::string& error,
              const CProgress& progress = nullptr);

// The day of a spreadsheet's date serial number ("2025-03-01"); empty when `serial` is no day
// from 1900 to 9999. `date1904`: the workbook counts from 1904-01-01.
std::string SerialDateText(double serial, bool date1904);

// Whether a number format's code shows a date (a year or a day in it, outside quoted text
// and brackets).
bool IsDateFormatCode(std::string_view code);
