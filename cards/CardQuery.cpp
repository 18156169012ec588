#include "cards/CardQuery.h"

#include "register/Card.h"

namespace {

bool Matches(std::string_view criterion, std::string_view value) {
    return criterion.empty() || criterion == value;
}

}  // namespace

bool MatchesQuery(const CardQuery& query, const CCard& card) {
    const bool anyStatus = query.status < 0 || query.status > 2;
    return Matches(query.cardNo, card.m_strCardNo) && Matches(query.name, card.m_strName) &&
           (anyStatus || card.m_nStatus == query.status) && Matches(query.phone, card.m_strPhone) &&
           Matches(query.houseNo, card.m_strHouseNo) && query.regFrom <= card.m_strRegDate &&
           query.regTo >= card.m_strRegDate;
}

std::vector<const CCardMap::CAssoc*> QueryCards(const CCardMap& cards, const CardQuery& query) {
    std::vector<const CCardMap::CAssoc*> found;
    for (const CCardMap::CAssoc& entry : cards) {
        if (MatchesQuery(query, *entry.value)) {
            found.push_back(&entry);
        }
    }
    return found;
}
