#include "cards/CardChecks.h"

#include "base/TextCheck.h"
#include "register/Card.h"
#include "register/CardMap.h"

const char* const kNotACardDate = "有效期须为2000-01-01至2099-12-31之间的日期!";

namespace {

const char* const kCardNoText = "卡号输入6个数字!";
const char* const kPasswordText = "密码输入10个数字!";
const char* const kAmountText = "输入正确金额格式!";

// An amount may be left empty.
bool IsAmountOrEmpty(std::string_view text) {
    return text.empty() || IsAmount(text, static_cast<int>(text.size()));
}

bool CardNoOk(const CardForm& form) {
    return IsDigits(form.cardNo, 6);
}
bool PasswordOk(const CardForm& form) {
    return IsDigits(form.password, 10);
}
bool PaidOk(const CardForm& form) {
    return IsAmountOrEmpty(form.paid);
}
bool MonthFeeOk(const CardForm& form) {
    return IsAmountOrEmpty(form.monthFee);
}
bool YearFeeOk(const CardForm& form) {
    return IsAmountOrEmpty(form.yearFee);
}
bool ExtendFeeOk(const CardForm& form) {
    return IsAmountOrEmpty(form.extendFee);
}
bool NotIssuedYet(const CardForm& form) {
    if (form.editing || form.cards == nullptr) {
        return true;
    }
    const CCard* card = form.cards->Lookup(form.cardNo);
    return card == nullptr || card->m_nStatus != CARD_ISSUED;
}
bool ValidDateOk(const CardForm& form) {
    return IsCardDate(form.validDate);
}
bool ExtendDateOk(const CardForm& form) {
    return IsCardDate(form.extendDate);
}
bool ClockDateOk(const CardForm& form) {
    return IsCardDate(form.clockDate);
}

const CardCheck kCardNo{CardNoOk, kCardNoText, CardField::CardNo};
const CardCheck kPassword{PasswordOk, kPasswordText, CardField::None};

const CardCheck kSaveChecks[] = {
    kCardNo,
    kPassword,
    {PaidOk, kAmountText, CardField::Paid},
    {MonthFeeOk, kAmountText, CardField::MonthFee},
    {YearFeeOk, kAmountText, CardField::YearFee},
};
const CardCheck kIssueChecks[] = {
    kCardNo,
    kPassword,
    {NotIssuedYet, "此卡已经发行!", CardField::None},
    {ValidDateOk, kNotACardDate, CardField::ValidDate},
};
const CardCheck kExtendChecks[] = {
    {ExtendFeeOk, kAmountText, CardField::ExtendFee},
    kPassword,
    {ExtendDateOk, kNotACardDate, CardField::ExtendDate},
};
const CardCheck kReadCardChecks[] = {kPassword};

const CardCheck kSetTimeChecks[] = {kPassword, {ClockDateOk, kNotACardDate, CardField::Clock}};
const CardCheck kSetPasswordChecks[] = {kPassword};
const CardCheck kCardSettingChecks[] = {kCardNo, kPassword};

}  // namespace

bool IsCardDate(const CFrameDate& date) {
    return date.year >= 2000 && date.year <= 2099 && date.month >= 1 && date.month <= 12 &&
           date.day >= 1 && date.day <= 31;
}

std::optional<CheckFailure> FirstFailure(std::span<const CardCheck> checks, const CardForm& form) {
    for (const CardCheck& check : checks) {
        if (!check.holds(form)) {
            return CheckFailure{check.message, check.focus};
        }
    }
    return std::nullopt;
}

std::optional<CheckFailure> CheckSave(const CardForm& form) {
    return FirstFailure(kSaveChecks, form);
}

std::optional<CheckFailure> CheckIssue(const CardForm& form) {
    return FirstFailure(kIssueChecks, form);
}

std::optional<CheckFailure> CheckExtend(const CardForm& form) {
    return FirstFailure(kExtendChecks, form);
}

std::optional<CheckFailure> CheckReadCard(const CardForm& form) {
    return FirstFailure(kReadCardChecks, form);
}

std::optional<CheckFailure> CheckMakeCard(int command, const CardForm& form) {
    switch (command) {
        case kSetTime:
            return FirstFailure(kSetTimeChecks, form);
        case kSetPassword:
            return FirstFailure(kSetPasswordChecks, form);
        case kReportLost:
        case kUnlock:
            return FirstFailure(kCardSettingChecks, form);
        default:
            return std::nullopt;
    }
}
