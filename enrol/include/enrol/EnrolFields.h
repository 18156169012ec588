#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "enrol/SheetRows.h"

// What a column of a resident list can fill in. The serial number and the card status are
// recognised (they head the card list's export) but never taken: the register gives the
// numbers, and a card's status follows what the card reader did.
enum class EnrolField : uint8_t {
    None,  // the column is not taken
    Number,
    Status,
    CardNo,
    CardType,
    ValidDate,
    RegDate,
    Name,
    Phone,
    HouseNo,
    IdNo,
    Address,
    Remark,
    Paid,
    MonthFee,
    YearFee,
    Rights,  // the doors the card opens
};
constexpr size_t kEnrolFieldCount = 17;

// The field's title (UTF-8): the card list's column title, or the form's label without its
// colon for the fees, "门禁权限" for the doors; "不导入" for None.
const char* EnrolFieldTitle(EnrolField field);
// The longest text the field takes, in bytes of the register's code page.
size_t EnrolFieldLimit(EnrolField field);
// Whether the column's cells go into the card.
bool IsTakenField(EnrolField field);

// The text without blanks (space, tab, CR, LF) at either end.
std::string_view TrimBlanks(std::string_view text);

// The field whose title a header cell shows (blanks and a trailing colon aside; "权限" also
// names the doors), or None.
EnrolField FieldOfTitle(std::string_view title);

// Each column's field, by column index.
using CColumnMap = std::vector<EnrolField>;

// The map of a header row; a title that occurs twice maps its first column only.
CColumnMap MapHeader(const CSheetRow& header);
// Whether the row is a header: a cell names a field that is taken.
bool IsHeaderRow(const CSheetRow& row);
// Gives `column` the field (growing the map). Where two columns have one field, the rows take
// the leftmost.
void SetColumnField(CColumnMap& map, size_t column, EnrolField field);
// The fields that more than one column has, in field order.
std::vector<EnrolField> SharedFields(const CColumnMap& map);
