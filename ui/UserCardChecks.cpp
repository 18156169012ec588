// The user-card window's side of the card rules: the form they read, and a failed check
// told to the operator with the focus on its field.

#include "app/MessageBox.h"
#include "ui/CardDate.h"
#include "ui/UserCardDlg.h"
#include "ui/UserCardIds.h"

using namespace UserCardIds;

CardForm CUserCardDlg::Form() const {
    CardForm form;
    form.cardNo = m_strCardNo;
    form.password = m_strPassword;
    form.paid = m_strPaid;
    form.monthFee = m_strMonthFee;
    form.yearFee = m_strYearFee;
    form.extendFee = m_strExtendFee;
    form.validDate = FrameDate(m_dateValid);
    form.extendDate = FrameDate(m_dateExtend);
    form.editing = m_bEdit;
    form.cards = &m_desk.cards;
    return form;
}

bool CUserCardDlg::Passed(const std::optional<CheckFailure>& failure) {
    if (!failure) {
        return true;
    }
    Msg::Tell(this, failure->message);
    const std::pair<CardField, int> fields[] = {
        {CardField::CardNo, IDC_CARD_NO},         {CardField::Paid, IDC_PAID},
        {CardField::MonthFee, IDC_MONTH_FEE},     {CardField::YearFee, IDC_YEAR_FEE},
        {CardField::ExtendFee, IDC_EXTEND_FEE},   {CardField::ValidDate, IDC_VALID_DATE},
        {CardField::ExtendDate, IDC_EXTEND_DATE},
    };
    for (const auto& [field, id] : fields) {
        if (field == failure->focus) {
            Control(id)->setFocus();
        }
    }
    return false;
}
