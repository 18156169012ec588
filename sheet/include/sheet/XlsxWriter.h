#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/SafeFile.h"

// Writes an Office Open XML workbook (.xlsx) of one sheet as its rows come: the sheet's XML
// is deflated into the file row by row (fastest level, inline strings), so a sheet of a
// million rows needs neither the sheet in memory nor a pass at the end. Texts are UTF-8;
// control characters are written as _xHHHH_ escapes and invalid bytes as U+FFFD. The workbook
// is written under a temporary name beside the chosen one and replaces it only once Finish has
// written it whole and flushed it to disk: a workbook that fails, is abandoned or is never
// finished leaves a file of that name exactly as it was. Errors come as text for the operator.
class CXlsxWriter {
public:
    // The most rows a sheet holds.
    static constexpr uint32_t kMaxRows = 1048576;

    CXlsxWriter() = default;
    ~CXlsxWriter();
    CXlsxWriter(const CXlsxWriter&) = delete;
    CXlsxWriter& operator=(const CXlsxWriter&) = delete;

    // Starts a workbook that is to replace `path` (a plain file, or none).
    bool Create(const std::string& path, std::string& error);
    // Starts the sheet: a name of 1 to 31 characters, none of []:*?/\, not starting or
    // ending with an apostrophe.
    bool AddSheet(std::string_view name, std::string& error);
    bool HasSheet() const { return m_bSheet; }
    // Cells of the current row, left to right; an empty text leaves its cell out.
    void Text(std::string_view utf8);
    // A finite number (the caller writes anything else as text).
    void Number(double value);
    // Ends the row. After a failed write every later call fails, and so does Finish.
    bool EndRow(std::string& error);
    // Ends the sheet (an empty "Sheet1" when none was added) and the file, which then
    // replaces the one at the path given to Create.
    bool Finish(std::string& error);
    // Drops the workbook being written; the file at the path given to Create stays as it was.
    void Abandon();

    // Whether a sheet may carry this name.
    static bool IsSheetName(std::string_view name);

private:
    bool Flush(std::string& error);
    bool WriteEntry(const char* name, std::string_view content, std::string& error);
    // Opens the row where needed and starts a cell; false past the last row.
    bool CellStart(const char* type);
    // Records a failed write (the archive is broken from then on) and drops the workbook.
    bool Fail(std::string& error, const std::string& what);

    void* m_zip = nullptr;     // the minizip handle, writing the temporary file
    CFileReplacement m_file;   // the temporary file, renamed over the target at the end
    std::string m_strPath;     // the target
    std::string m_strFailure;  // the first failed write, repeated by every later call
    std::string m_strSheetName;
    std::string m_xml;  // sheet XML not yet deflated
    bool m_bSheet = false;
    uint32_t m_nRow = 0;     // rows ended so far
    uint32_t m_nColumn = 0;  // cells of the current row so far, written or left out
    bool m_bRowOpen = false;
    uint64_t m_nSheetBytes = 0;
};
