#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "register/CardMap.h"

// How the card window reads and writes some of a record's texts.

// n as a card number of six digits with leading zeros ("000042").
std::string CardNoText(int n);

// n when `key` is one of the card numbers 000001 ... 999999, otherwise 0.
int SearchedCardNo(std::string_view key);

// The lowest card number from 000001 to 999999 that `taken` refuses, or none when all are
// taken.
std::optional<std::string> FirstFreeCardNo(const std::function<bool(const std::string&)>& taken);
std::optional<std::string> FirstFreeCardNo(const CCardMap& cards);
// The lowest number from `from` to 999999 that `taken` refuses, or 0 when all are taken. A
// caller that takes the numbers it is given in turn searches on from the last one.
int FirstFreeCardNumber(int from, const std::function<bool(int)>& taken);

// The permission string: sixteen '1'/'0' characters, port 16 first and port 1 last.
// `ports[1]` ... `ports[16]` are the ports; `ports[0]` is not used.
std::string RightsText(const bool ports[17]);
// Whether the string permits `port` (1 ... 16). A string shorter than sixteen characters
// leaves its missing ports not permitted.
bool PortPermitted(std::string_view rights, int port);

// The year, month and day of a date text YYYYMMDD; false unless it has exactly eight digits.
// Whether the day exists in the calendar is the caller's question.
bool SplitRecordDate(std::string_view text, int& year, int& month, int& day);
