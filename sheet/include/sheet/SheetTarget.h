#pragma once

#include <memory>
#include <string>

// Where the spreadsheet export sends its connection string and statements: an ODBC driver
// through the driver manager, or the program's own workbook writer. Errors come as text for
// the operator.
class CSheetTarget {
public:
    virtual ~CSheetTarget() = default;
    virtual bool Open(const std::string& connection, std::string& error) = 0;
    virtual bool Execute(const std::string& statement, std::string& error) = 0;
    // Ends the work; false when what was executed could not be kept.
    virtual bool Close(std::string& error) = 0;
};

std::unique_ptr<CSheetTarget> MakeOdbcSheet();
std::unique_ptr<CSheetTarget> MakeWorkbookSheet();
