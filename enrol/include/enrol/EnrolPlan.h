#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "enrol/EnrolFields.h"
#include "enrol/SheetRows.h"
#include "register/CardMap.h"
#include "store/CardChange.h"

// What enrolling a row of a resident list does.
enum class RowOutcome : uint8_t {
    New,           // a new card
    Changed,       // an existing card with other values
    Unchanged,     // an existing card that already has the row's values
    Refused,       // nothing; the reason says why
    HolderChange,  // an existing card whose holder (name or identity number) the row replaces
};

// One field of an existing card that a row changes (UTF-8, for the operator).
struct CFieldChange {
    EnrolField field;
    std::string before;
    std::string after;
};

// A row of the file that is not blank, and what it does.
struct CEnrolRow {
    size_t line = 0;  // the row of the file, from 1
    RowOutcome outcome = RowOutcome::Refused;
    bool cardNoGiven = true;  // false: the number was given automatically
    uint8_t cardType = 0;
    uint32_t given = 0;   // bit f: the row sets field f
    size_t valuesAt = 0;  // the row's values in the plan's buffer
    std::string cardNo;   // as the file gives it, or the free number given to a new card
    std::string reason;   // why a row is refused (UTF-8)
    std::vector<CFieldChange> changes;

    bool Given(EnrolField field) const { return (given >> static_cast<size_t>(field)) & 1u; }
};

// What a new card gets where the row gives nothing: the "新增" defaults.
struct CEnrolDefaults {
    std::string password;                     // the system password
    std::string regDate;                      // today, YYYYMMDD
    std::string validDate = "20991231";       // the form's default validity
    std::string rights = "1111111111111111";  // every door
};

struct CEnrolPlan {
    std::vector<CEnrolRow> rows;
    size_t added = 0;
    size_t changed = 0;
    size_t holderChanges = 0;
    size_t unchanged = 0;
    size_t refused = 0;
    // The rows that go into the register: holder changes only where they are allowed.
    size_t Accepted(bool allowHolderChange = false) const {
        return added + changed + (allowHolderChange ? holderChanges : 0);
    }
    // The value that the row sets for a field it gives, in the register's code page (the
    // permission string for the doors); empty for a field it does not give.
    std::string_view Value(const CEnrolRow& row, EnrolField field) const;

    // Every row's values, back to back: one buffer instead of an allocation for each row.
    std::string values;
};

// What each row from `firstRow` (0 for a file without header) does to the register: a row
// with a six-digit card number that the register holds changes that card (fields the row
// leaves empty stay as they are; a name or identity number other than the card's non-empty
// one is a change of holder), any other accepted row is a new card, under the free number
// that the register and every card number of the file leave, in file order, when the row has
// none. A row is refused for every one of its faults: a card number that is not six digits, a
// text longer than the field takes or with a character that the register's code page cannot
// store, a date that is no day (or a validity that a card cannot carry), a fee that is no
// amount, a card type that is not one of the four, doors that are neither a permission string
// nor door numbers, a card number that an earlier row has; and when no free card number is
// left. Blank rows are left out. `progress` is told the rows worked out now and then.
CEnrolPlan MakeEnrolPlan(const CSheetRows& rows, size_t firstRow, const CColumnMap& map,
                         const CCardMap& cards, const CProgress& progress = nullptr);

// The permission string of a door cell: sixteen characters '0'/'1' as the register stores them
// (door 16 first), or door numbers 1 ... 16 separated by commas, "、", semicolons or blanks
// ("1,2,16"). False when the cell is neither.
bool ParseDoors(std::string_view cell, std::string& rights);
// The doors that a permission string opens, as door numbers ("1,2,16"); "无" for none.
std::string DoorsText(std::string_view rights);

// Enrols every accepted row of the plan at once: the changes go into their cards (changes of
// holder only when `allowHolderChange`), the new cards join the register with serial numbers
// from `maxNumber` + 1 in file order (raising `maxNumber`), the status 未发行 and, where the row
// gives nothing, `defaults`. False, with nothing changed, when the register no longer fits the
// plan (a new card's number is taken, a changed card is gone).
bool ApplyEnrolPlan(const CEnrolPlan& plan, CCardMap& cards, uint32_t& maxNumber,
                    const CEnrolDefaults& defaults, bool allowHolderChange = false);
// The same enrolment as one change for the card store (every row or none), the register
// untouched; false when the register no longer fits the plan.
bool MakeEnrolChange(const CEnrolPlan& plan, const CCardMap& cards, uint32_t maxNumber,
                     const CEnrolDefaults& defaults, bool allowHolderChange, CCardChange& change);

// The refused rows as CSV (UTF-8 with its byte order mark): the header row when the file has
// one, then each refused row's cells, each with the column "原因" and its reason added.
std::string RefusedRowsCsv(const CSheetRows& rows, size_t firstRow, const CEnrolPlan& plan);
