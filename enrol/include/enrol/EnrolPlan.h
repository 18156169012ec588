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
    New,        // a new card
    Changed,    // an existing card with other values
    Unchanged,  // an existing card that already has the row's values
    Refused,    // nothing; the reason says why
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
    std::string cardNo;       // as the file gives it, or the free number given to a new card
    bool cardNoGiven = true;  // false: the number was given automatically
    std::string reason;       // why a row is refused (UTF-8)
    std::vector<CFieldChange> changes;
    // The values that the row sets, in the register's code page, by field; only those that
    // the row gives (`given`).
    std::array<std::string, kEnrolFieldCount> values;
    std::array<bool, kEnrolFieldCount> given{};
    uint8_t cardType = 0;
};

// What a new card gets where the row gives nothing: the "新增" defaults.
struct CEnrolDefaults {
    std::string password;                // the system password
    std::string regDate;                 // today, YYYYMMDD
    std::string validDate = "20991231";  // the form's default validity
};

struct CEnrolPlan {
    std::vector<CEnrolRow> rows;
    size_t added = 0;
    size_t changed = 0;
    size_t unchanged = 0;
    size_t refused = 0;
    size_t Accepted() const { return added + changed; }
};

// What each row from `firstRow` (0 for a file without header) does to the register: a row
// with a six-digit card number that the register holds changes that card (fields the row
// leaves empty stay as they are), any other accepted row is a new card, under the free number
// that the register and every card number of the file leave, in file order, when the row has
// none. A row is refused for every one of its faults: a card number that is not six digits, a
// text longer than the field takes or with a character that GB2312 does not hold, a date that
// is no day (or a validity that a card cannot carry), a fee that is no amount, a card type
// that is not one of the four, a card number that an earlier row has; and when no free card
// number is left. Blank rows are left out.
CEnrolPlan MakeEnrolPlan(const CSheetRows& rows, size_t firstRow, const CColumnMap& map,
                         const CCardMap& cards);

// Enrols every accepted row of the plan at once: the changes go into their cards, the new
// cards join the register with serial numbers from `maxNumber` + 1 in file order (raising
// `maxNumber`), the status 未发行 and, where the row gives nothing, `defaults`. False, with nothing
// changed, when the register no longer fits the plan (a new card's number is taken, a changed card
// is gone).
bool ApplyEnrolPlan(const CEnrolPlan& plan, CCardMap& cards, uint32_t& maxNumber,
                    const CEnrolDefaults& defaults);
// The same enrolment as one change for the card store (every row or none), the register
// untouched; false when the register no longer fits the plan.
bool MakeEnrolChange(const CEnrolPlan& plan, const CCardMap& cards, uint32_t maxNumber,
                     const CEnrolDefaults& defaults, CCardChange& change);

// The refused rows as CSV (UTF-8 with its byte order mark): the header row when the file has
// one, then each refused row's cells, each with the column "原因" and its reason added.
std::string RefusedRowsCsv(const CSheetRows& rows, size_t firstRow, const CEnrolPlan& plan);
