#pragma once

#include <vector>

#include "register/CardMap.h"

// The order of the card list when the window opens: the cards under card numbers 000001 ...
// 999999 in ascending number, then those under other keys (000000, keys brought in by an
// import) in the register's order. The same order as looking up every number in turn,
// without a million look-ups.
std::vector<const CCardMap::CAssoc*> CardListOrder(const CCardMap& cards);
