// The query panel of the user-card window: the list narrowed to the matching cards, or all
// cards again.

#include "cards/CardQuery.h"
#include "ui/RecordDate.h"
#include "ui/UserCardDlg.h"

void CUserCardDlg::OnQuery() {
    UpdateData(true);
    m_list.DeleteAllItems();
    // A range that ends before it starts (to the second) lists nothing.
    if (m_dateQueryFrom > m_dateQueryTo) {
        UpdateData(false);
        return;
    }
    CardQuery query;
    query.cardNo = m_strQueryCardNo;
    query.name = m_strQueryName;
    query.phone = m_strQueryPhone;
    query.houseNo = m_strQueryHouseNo;
    query.status = m_nQueryStatus;
    query.regFrom = RecordDate(m_dateQueryFrom);
    query.regTo = RecordDate(m_dateQueryTo);
    AppendCardRows(QueryCards(m_desk.cards, query));
    UpdateData(false);
}

void CUserCardDlg::OnShowAll() {
    UpdateData(true);
    ListAllCards();
    UpdateData(false);
}
