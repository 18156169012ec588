// The query panel of the user-card window: the list narrowed to the matching cards, or all
// cards again.

#include "app/OrvaneApp.h"
#include "register/Card.h"
#include "ui/RecordDate.h"
#include "ui/UserCardDlg.h"

namespace {

// Whole-text equality; an empty criterion matches everything.
bool Matches(const std::string& criterion, const std::string& value) {
    return criterion.empty() || criterion == value;
}

}  // namespace

void CUserCardDlg::OnQuery() {
    UpdateData(true);
    m_list.DeleteAllItems();
    if (m_dateQueryFrom > m_dateQueryTo) {
        UpdateData(false);
        return;
    }
    const std::string from = RecordDate(m_dateQueryFrom);
    const std::string to = RecordDate(m_dateQueryTo);
    const bool anyStatus = m_nQueryStatus < 0 || m_nQueryStatus > 2;
    std::vector<CListRow> rows;
    for (const CCardMap::CAssoc& entry : theApp().m_mapCards) {
        const CCard& card = *entry.value;
        if (Matches(m_strQueryCardNo, card.m_strCardNo) &&
            Matches(m_strQueryName, card.m_strName) &&
            (anyStatus || card.m_nStatus == m_nQueryStatus) &&
            Matches(m_strQueryPhone, card.m_strPhone) &&
            Matches(m_strQueryHouseNo, card.m_strHouseNo) && from <= card.m_strRegDate &&
            to >= card.m_strRegDate) {
            rows.push_back(CardRow(entry.key, card));
        }
    }
    m_list.AppendRows(std::move(rows));
    UpdateData(false);
}

void CUserCardDlg::OnShowAll() {
    UpdateData(true);
    ListAllCards();
    UpdateData(false);
}
