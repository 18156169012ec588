#include "register/Amount.h"

#include <cstdint>

namespace {

struct Fixed {
    int64_t units = 0;  // the amount times 10^decimals
    int decimals = 0;
};

// Digits with at most one point; at most 18 digits, so that the sum cannot overflow.
std::optional<Fixed> Parse(std::string_view text) {
    Fixed value;
    bool point = false;
    int digits = 0;
    if (text.empty() || text.front() == '.' || text.back() == '.') {
        return text.empty() ? std::optional<Fixed>(value) : std::nullopt;
    }
    for (const char c : text) {
        if (c == '.') {
            if (point) {
                return std::nullopt;
            }
            point = true;
        } else if (c >= '0' && c <= '9') {
            if (++digits > 18) {
                return std::nullopt;
            }
            value.units = value.units * 10 + (c - '0');
            value.decimals += point ? 1 : 0;
        } else {
            return std::nullopt;
        }
    }
    return value;
}

// The amount in units of 10^-decimals; none where that does not fit comfortably.
std::optional<int64_t> Scaled(const Fixed& value, int decimals) {
    int64_t units = value.units;
    for (int i = value.decimals; i < decimals; ++i) {
        if (units > INT64_C(100000000000000000)) {
            return std::nullopt;
        }
        units *= 10;
    }
    return units;
}

}  // namespace

std::optional<std::string> AddAmounts(std::string_view paid, std::string_view more,
                                      size_t maxChars) {
    const std::optional<Fixed> a = Parse(paid);
    const std::optional<Fixed> b = Parse(more);
    if (!a || !b) {
        return std::nullopt;
    }
    int decimals = a->decimals > b->decimals ? a->decimals : b->decimals;
    const std::optional<int64_t> scaledA = Scaled(*a, decimals);
    const std::optional<int64_t> scaledB = Scaled(*b, decimals);
    if (!scaledA || !scaledB) {
        return std::nullopt;
    }
    int64_t units = *scaledA + *scaledB;
    while (decimals > 0 && units % 10 == 0) {
        units /= 10;
        --decimals;
    }
    std::string text = std::to_string(units);
    if (decimals > 0) {
        if (text.size() <= static_cast<size_t>(decimals)) {
            text.insert(0, static_cast<size_t>(decimals) + 1 - text.size(), '0');
        }
        text.insert(text.size() - static_cast<size_t>(decimals), ".");
    }
    if (text.size() > maxChars) {
        return std::nullopt;
    }
    return text;
}
