#pragma once

#include <optional>
#include <span>
#include <string_view>

#include "protocol/Frame.h"

class CCardMap;

// The fields of the card windows that a failed check puts the focus on.
enum class CardField {
    None,  // the message only
    CardNo,
    Paid,
    MonthFee,
    YearFee,
    ExtendFee,
    ValidDate,
    ExtendDate,
    Clock,
};

// What the checks read of a card window's form.
struct CardForm {
    std::string_view cardNo;
    std::string_view password;
    std::string_view paid;
    std::string_view monthFee;
    std::string_view yearFee;
    std::string_view extendFee;
    CFrameDate validDate{0, 0, 0};  // {0, 0, 0} where the picker holds no date
    CFrameDate extendDate{0, 0, 0};
    CFrameDate clockDate{0, 0, 0};  // the management card's clock, local time
    bool editing = false;           // the form edits a stored card ("修改")
    const CCardMap* cards = nullptr;
};

// The first check that fails: what the operator is told (UTF-8) and where the focus goes.
struct CheckFailure {
    const char* message;
    CardField focus;
};

// One rule a form must satisfy before an operation.
struct CardCheck {
    bool (*holds)(const CardForm& form);
    const char* message;
    CardField focus;
};

// The checks in order; the first that fails stops the operation.
std::optional<CheckFailure> FirstFailure(std::span<const CardCheck> checks, const CardForm& form);

// "保存": card number, password, then the three amounts.
std::optional<CheckFailure> CheckSave(const CardForm& form);
// "发卡": card number, password, a card not issued yet (unless editing), the validity.
std::optional<CheckFailure> CheckIssue(const CardForm& form);
// "延期": the payment, password, the new validity.
std::optional<CheckFailure> CheckExtend(const CardForm& form);
// "读卡": the password.
std::optional<CheckFailure> CheckReadCard(const CardForm& form);

// The settings a management card carries, in the order of the dialog's choices.
enum ManageCommand { kSetTime = 0, kSetPassword = 1, kReportLost = 2, kUnlock = 3, kClear = 4 };
// "制卡": the card number for a lost or unlocked card, the password for all but clearing,
// the clock's year for the clock.
std::optional<CheckFailure> CheckMakeCard(int command, const CardForm& form);

// A card and a door controller hold years as two digits from 2000: other dates cannot be
// written to them.
bool IsCardDate(const CFrameDate& date);
// What the operator is told when a date outside those years is to be written.
extern const char* const kNotACardDate;
