#pragma once

#include <string>
#include <vector>

#include "register/CardMap.h"

class CCard;

// The query panel's criteria. An empty text matches every card; a text matches only the
// whole field (code-page bytes).
struct CardQuery {
    std::string cardNo;
    std::string name;
    std::string phone;
    std::string houseNo;
    int status = -1;  // 0 ... 2 the card status; any other value: any status
    // Registration dates YYYYMMDD, both ends included.
    std::string regFrom;
    std::string regTo;
};

bool MatchesQuery(const CardQuery& query, const CCard& card);

// The register's entries that match, in the register's order.
std::vector<const CCardMap::CAssoc*> QueryCards(const CCardMap& cards, const CardQuery& query);
