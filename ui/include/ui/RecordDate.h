#pragma once

#include <QDateTime>

#include <string>
#include <string_view>

// A record's date text YYYYMMDD as a date at 00:00:00; an invalid date-time unless the text
// names a real day.
QDateTime DateFromRecord(std::string_view text);

// A date as a record stores it: YYYYMMDD.
std::string RecordDate(const QDateTime& date);
