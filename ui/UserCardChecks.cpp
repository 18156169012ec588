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
        {CardField::CardNo, 1014},     {CardField::Paid, 1049},      {CardField::MonthFee, 1050},
        {CardField::YearFee, 1051},    {CardField::ExtendFee, 1055}, {CardField::ValidDate, 1068},
        {CardField::ExtendDate, 1069},
    };
    for (const auto& [field, id] : fields) {
        if (field == failure->focus) {
            Control(id)->setFocus();
        }
    }
    return false;
}
