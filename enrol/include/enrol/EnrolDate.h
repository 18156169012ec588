#pragma once

#include <string>
#include <string_view>

// A date of a resident list as a record keeps it (YYYYMMDD). Taken are the forms that the
// card list and its export show (20991231), the user-card window's (2099-12-31), and the
// usual others: 2099/12/31, 2099.12.31 and 2099年12月31日 (month and day with one or two
// digits), each optionally followed by a time of day (" 10:20" or " 10:20:30"), which is
// dropped. False when the text has none of these forms or names no day of the calendar.
bool ParseEnrolDate(std::string_view text, std::string& recordDate);
