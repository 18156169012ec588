#include "register/CardFields.h"

#include <algorithm>
#include <cstdio>

std::string CardNoText(int n) {
    char text[16];
    std::snprintf(text, sizeof text, "%06d", n);
    return text;
}

int SearchedCardNo(std::string_view key) {
    if (key.size() != 6 || key.find_first_not_of("0123456789") != std::string_view::npos) {
        return 0;
    }
    int n = 0;
    for (const char c : key) {
        n = n * 10 + (c - '0');
    }
    return n;
}

std::optional<std::string> FirstFreeCardNo(const std::function<bool(const std::string&)>& taken) {
    for (int n = 1; n <= 999999; ++n) {
        std::string cardNo = CardNoText(n);
        if (!taken(cardNo)) {
            return cardNo;
        }
    }
    return std::nullopt;
}

std::optional<std::string> FirstFreeCardNo(const CCardMap& cards) {
    const int n = FirstFreeCardNumber(1, [&cards](int n) { return cards.IsNumberTaken(n); });
    return n > 0 ? std::optional<std::string>(CardNoText(n)) : std::nullopt;
}

int FirstFreeCardNumber(int from, const std::function<bool(int)>& taken) {
    for (int n = std::max(from, 1); n <= 999999; ++n) {
        if (!taken(n)) {
            return n;
        }
    }
    return 0;
}

std::string RightsText(const bool ports[17]) {
    std::string rights;
    for (int port = 16; port >= 1; --port) {
        rights += ports[port] ? '1' : '0';
    }
    return rights;
}

bool PortPermitted(std::string_view rights, int port) {
    const size_t at = static_cast<size_t>(16 - port);
    return port >= 1 && port <= 16 && at < rights.size() && rights[at] == '1';
}

bool SplitRecordDate(std::string_view text, int& year, int& month, int& day) {
    if (text.size() != 8 || text.find_first_not_of("0123456789") != std::string_view::npos) {
        return false;
    }
    const auto number = [text](size_t from, size_t count) {
        int value = 0;
        for (size_t i = from; i < from + count; ++i) {
            value = value * 10 + (text[i] - '0');
        }
        return value;
    };
    year = number(0, 4);
    month = number(4, 2);
    day = number(6, 2);
    return true;
}
