#pragma once

#include <optional>
#include <string>
#include <vector>

// The connection string and the statements of the spreadsheet export (UTF-8), and their
// reading back by the program's own workbook writer, which takes what an ODBC driver would.

constexpr const char* kSheetTableName = "IC卡发卡信息";

// Column 0 and columns from 12 up hold numbers, columns 1 ... 11 text.
bool SheetColumnIsText(int column);

std::string SheetConnectionString(const std::string& driver, const std::string& file);
// "CREATE TABLE IC卡发卡信息 (  编号 NUMBER,  卡片状态 TEXT, ... ) ".
std::string SheetCreateTable(const std::vector<std::string>& titles);
// "INSERT INTO IC卡发卡信息 ( 编号 ,  ... ) VALUES(1, '已发行', ...)". Apostrophes inside a
// text cell are doubled, so that a text such as O'Brien arrives intact.
std::string SheetInsert(const std::vector<std::string>& titles,
                        const std::vector<std::string>& cells);

// What the workbook writer needs of them.
struct SheetColumn {
    std::string title;
    bool text = false;
};
struct SheetValue {
    std::string value;
    bool text = false;  // written between apostrophes
};
// The value of a key ("DBQ") in a connection string; none when it is missing.
std::optional<std::string> SheetConnectionValue(const std::string& connection,
                                                const std::string& key);
// The table name and the columns of a CREATE TABLE statement; none when it is not one.
std::optional<std::pair<std::string, std::vector<SheetColumn>>> ParseSheetCreateTable(
    const std::string& statement);
// The values of an INSERT statement, quoting undone; none when it is not one.
std::optional<std::vector<SheetValue>> ParseSheetInsert(const std::string& statement);
