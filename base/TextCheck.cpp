#include "base/TextCheck.h"

namespace {

bool IsDigitChar(char c) {
    const signed char s = static_cast<signed char>(c);
    return s >= '0' && s <= '9';
}

}  // namespace

bool IsDigits(std::string_view text, int n) {
    if (n < 0 || text.size() != static_cast<size_t>(n)) {
        return false;
    }
    for (char c : text) {
        if (!IsDigitChar(c)) {
            return false;
        }
    }
    return true;
}

bool IsAmount(std::string_view text, int n) {
    if (n < 1 || text.size() != static_cast<size_t>(n) || text[0] == '0') {
        return false;
    }
    bool seenDot = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (IsDigitChar(c)) {
            continue;
        }
        const bool dotAllowedHere = i >= 1 && i + 2 <= text.size();
        if (c != '.' || seenDot || !dotAllowedHere) {
            return false;
        }
        seenDot = true;
    }
    return true;
}
