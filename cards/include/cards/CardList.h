#pragma once

#include <vector>

#include "register/CardMap.h"

// The card list's column titles (UTF-8), left to right; the spreadsheet export takes them as
// its column names.
constexpr int kCardListColumns = 12;
extern const char* const kCardListTitles[kCardListColumns];

// The order of the card list when the window opens: the cards under card numbers 000001 ...
// 999999 in ascending number, then those under other keys (000000, keys brought in by an
// import) in the register's order. The same order as looking up every number in turn,
// without a million look-ups.
std::vector<const CCardMap::CAssoc*> CardListOrder(const CCardMap& cards);
