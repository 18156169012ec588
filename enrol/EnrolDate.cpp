#include "enrol/EnrolDate.h"

#include <chrono>
#include <cstdio>

namespace {

bool Digit(char c) {
    return c >= '0' && c <= '9';
}

// Reads 1 ... `most` digits at `at`.
bool Number(std::string_view text, size_t& at, size_t least, size_t most, int& value) {
    size_t count = 0;
    value = 0;
    while (at < text.size() && Digit(text[at]) && count < most) {
        value = value * 10 + (text[at] - '0');
        ++at;
        ++count;
    }
    return count >= least;
}

bool Skip(std::string_view text, size_t& at, std::string_view what) {
    if (text.substr(at, what.size()) != what) {
        return false;
    }
    at += what.size();
    return true;
}

// " hh:mm" or " hh:mm:ss" (also after a 'T'), with or without fractions of a second.
bool TimeOfDay(std::string_view rest) {
    if (rest.empty()) {
        return true;
    }
    if (rest.front() != ' ' && rest.front() != 'T') {
        return false;
    }
    size_t at = 1;
    int value = 0;
    if (!Number(rest, at, 1, 2, value) || value > 23 || !Skip(rest, at, ":") ||
        !Number(rest, at, 2, 2, value) || value > 59) {
        return false;
    }
    if (Skip(rest, at, ":")) {
        if (!Number(rest, at, 2, 2, value) || value > 60) {
            return false;
        }
        if (Skip(rest, at, ".") && !Number(rest, at, 1, 9, value)) {
            return false;
        }
    }
    return at == rest.size();
}

}  // namespace

bool ParseEnrolDate(std::string_view text, std::string& recordDate) {
    int year = 0;
    int month = 0;
    int day = 0;
    size_t at = 0;
    if (!Number(text, at, 4, 4, year)) {
        return false;
    }
    if (at < text.size() && Digit(text[at])) {
        // YYYYMMDD
        if (!Number(text, at, 2, 2, month) || !Number(text, at, 2, 2, day)) {
            return false;
        }
    } else if (Skip(text, at, "年")) {
        if (!Number(text, at, 1, 2, month) || !Skip(text, at, "月") ||
            !Number(text, at, 1, 2, day)) {
            return false;
        }
        Skip(text, at, "日");
    } else {
        const char separator = at < text.size() ? text[at] : '\0';
        if (separator != '-' && separator != '/' && separator != '.') {
            return false;
        }
        ++at;
        if (!Number(text, at, 1, 2, month) || !Skip(text, at, std::string_view(&separator, 1)) ||
            !Number(text, at, 1, 2, day)) {
            return false;
        }
    }
    if (!TimeOfDay(text.substr(at))) {
        return false;
    }
    using namespace std::chrono;
    const year_month_day date{std::chrono::year{year},
                              std::chrono::month{static_cast<unsigned>(month)},
                              std::chrono::day{static_cast<unsigned>(day)}};
    if (year < 1 || !date.ok()) {
        return false;
    }
    char out[16];
    std::snprintf(out, sizeof out, "%04d%02d%02d", year, month, day);
    recordDate = out;
    return true;
}
