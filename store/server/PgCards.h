#pragma once

// What the server store's parts share: the cards' columns and their conversion, the lock
// that changes take in turn, the history's chain on the server. Private to this library.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "register/Card.h"
#include "server/PgConnection.h"

// The lock that changes of all desks take in turn (an arbitrary number among the server's
// advisory locks), held to the end of the transaction.
constexpr const char* kPgChangeLock = "SELECT pg_advisory_xact_lock(7240194)";

// The 19 fields' columns, in the record's order.
constexpr const char* kPgCardFields =
    "number, status, card_no, card_type, valid_date, password, reg_date, name, phone, "
    "house_no, id_no, address, remark, rights, rights2, sex, paid, month_fee, year_fee";

// A big-endian integer of a binary result (2, 4 or 8 bytes, signed).
int64_t PgInteger(std::string_view bytes);
// "$from, $from+1, ..." for `count` parameters.
std::string PgPlaceholders(int from, int count);
// The card's 19 fields as parameters: numbers as text, texts as bytes.
void AddPgCardFields(const CCard& card, std::vector<std::string>& params,
                     std::vector<bool>& binary);
// The card in row `row` of a binary result whose columns from `first` are the 19 fields.
std::unique_ptr<CCard> PgCardOf(const CPgResult& result, int row, int first);
// Appends history records after the last one of any desk; inside a transaction that holds
// kPgChangeLock.
bool AppendPgHistory(CPgConnection& connection, const std::vector<std::string>& payloads,
                     std::string& error);
