#include "history/ExpiringCards.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <numeric>

#include "base/CodePage.h"
#include "register/CardFields.h"

namespace {

using std::chrono::sys_days;
using std::chrono::year_month_day;

year_month_day DateOf(int32_t day) {
    return year_month_day{std::chrono::year{day / 10000},
                          std::chrono::month{static_cast<unsigned>(day / 100 % 100)},
                          std::chrono::day{static_cast<unsigned>(day % 100)}};
}

// Code-page bytes as UTF-8; bytes that are no character are kept visible as \xHH.
std::string Utf8Of(std::string_view bytes) {
    if (std::all_of(bytes.begin(), bytes.end(), [](char c) { return c > 0; })) {
        return std::string(bytes);  // ASCII, as card numbers and phones are
    }
    std::string utf8;
    if (CodePageToUtf8(bytes, utf8)) {
        return utf8;
    }
    return CodePageToEscapedUtf8(bytes);
}

// The first eight bytes of a text as a number that orders as the bytes do.
uint64_t Prefix(const std::string& text) {
    uint64_t prefix = 0;
    for (size_t i = 0; i < 8; ++i) {
        prefix = prefix << 8 | (i < text.size() ? static_cast<unsigned char>(text[i]) : 0u);
    }
    return prefix;
}

// Sorts `order` (indices in validity order) by a text of the cards, its bytes compared; equal
// texts keep their order. The sort runs on the texts' first bytes held beside the indices, so
// that a million cards are not looked up for every comparison.
void SortByText(const std::vector<CExpiringCard>& cards, std::vector<uint32_t>& order,
                std::string CExpiringCard::*text, bool descending) {
    struct CKey {
        uint64_t prefix;
        uint32_t index;
    };
    std::vector<CKey> keys(order.size());
    for (size_t i = 0; i < order.size(); ++i) {
        keys[i] = {Prefix(cards[order[i]].*text), order[i]};
    }
    std::sort(keys.begin(), keys.end(), [&cards, text, descending](const CKey& a, const CKey& b) {
        if (a.prefix != b.prefix) {
            return descending ? b.prefix < a.prefix : a.prefix < b.prefix;
        }
        const std::string& x = cards[a.index].*text;
        const std::string& y = cards[b.index].*text;
        if (x.size() > 8 && y.size() > 8 && x != y) {
            return descending ? y < x : x < y;
        }
        return a.index < b.index;
    });
    for (size_t i = 0; i < keys.size(); ++i) {
        order[i] = keys[i].index;
    }
}

}  // namespace

bool ParseCardDay(std::string_view text, int32_t& day) {
    int year = 0;
    int month = 0;
    int mday = 0;
    if (!SplitRecordDate(text, year, month, mday)) {
        return false;
    }
    const int32_t value = year * 10000 + month * 100 + mday;
    if (year < 1 || !DateOf(value).ok()) {
        return false;
    }
    day = value;
    return true;
}

int32_t DaysBetween(int32_t from, int32_t to) {
    return static_cast<int32_t>((sys_days{DateOf(to)} - sys_days{DateOf(from)}).count());
}

CExpiringList FindExpiringCards(const CCardMap& map, int32_t today, int days) {
    // The cards are copied in the map's order, which is the order of their place in memory
    // after a load, and sorted through small keys.
    struct CKey {
        int32_t validDay;
        int32_t number;  // the card number, or 0 for a key of another form
        uint32_t index;
    };
    CExpiringList list;
    std::vector<CExpiringCard> found;
    std::vector<CKey> keys;
    const sys_days start{DateOf(today)};
    for (const CCardMap::CAssoc& entry : map) {
        const CCard& card = *entry.value;
        int32_t valid = 0;
        if (!ParseCardDay(card.m_strValidDate, valid)) {
            ++list.skipped;
            continue;
        }
        const auto left = static_cast<int32_t>((sys_days{DateOf(valid)} - start).count());
        if (left > days) {
            continue;
        }
        keys.push_back(
            {valid, SearchedCardNo(card.m_strCardNo), static_cast<uint32_t>(found.size())});
        CExpiringCard& expiring = found.emplace_back();
        expiring.cardNo = card.m_strCardNo.view();
        expiring.name = card.m_strName.view();
        expiring.houseNo = card.m_strHouseNo.view();
        expiring.phone = card.m_strPhone.view();
        expiring.validDay = valid;
        expiring.daysLeft = left;
    }
    std::sort(keys.begin(), keys.end(), [&found](const CKey& a, const CKey& b) {
        if (a.validDay != b.validDay) {
            return a.validDay < b.validDay;
        }
        if (a.number != 0 && b.number != 0) {
            return a.number < b.number;
        }
        return found[a.index].cardNo < found[b.index].cardNo;
    });
    list.cards.reserve(found.size());
    for (const CKey& key : keys) {
        list.cards.push_back(std::move(found[key.index]));
    }
    return list;
}

const std::vector<std::string>& ExpiringColumnTitles() {
    static const std::vector<std::string> titles{"卡号",     "姓名",   "门牌号",
                                                 "联系电话", "有效期", "剩余天数"};
    return titles;
}

std::string ExpiringCellText(const CExpiringCard& card, ExpiringColumn column) {
    switch (column) {
        case ExpiringColumn::CardNo:
            return Utf8Of(card.cardNo);
        case ExpiringColumn::Name:
            return Utf8Of(card.name);
        case ExpiringColumn::HouseNo:
            return Utf8Of(card.houseNo);
        case ExpiringColumn::Phone:
            return Utf8Of(card.phone);
        case ExpiringColumn::Validity: {
            char text[16];
            std::snprintf(text, sizeof text, "%04d-%02d-%02d", card.validDay / 10000,
                          card.validDay / 100 % 100, card.validDay % 100);
            return text;
        }
        case ExpiringColumn::DaysLeft:
            return std::to_string(card.daysLeft);
    }
    return std::string();
}

std::vector<uint32_t> ExpiringOrder(const std::vector<CExpiringCard>& cards, ExpiringColumn column,
                                    bool descending) {
    std::vector<uint32_t> order(cards.size());
    std::iota(order.begin(), order.end(), 0u);
    switch (column) {
        case ExpiringColumn::CardNo:
            SortByText(cards, order, &CExpiringCard::cardNo, descending);
            break;
        case ExpiringColumn::Name:
            SortByText(cards, order, &CExpiringCard::name, descending);
            break;
        case ExpiringColumn::HouseNo:
            SortByText(cards, order, &CExpiringCard::houseNo, descending);
            break;
        case ExpiringColumn::Phone:
            SortByText(cards, order, &CExpiringCard::phone, descending);
            break;
        case ExpiringColumn::Validity:
        case ExpiringColumn::DaysLeft:
            if (descending) {
                std::reverse(order.begin(), order.end());
            }
            break;
    }
    return order;
}

ExportTable ExpiringExportTable(const std::vector<CExpiringCard>& cards,
                                const std::vector<uint32_t>& order) {
    ExportTable table;
    table.titles = ExpiringColumnTitles();
    table.numeric.assign(kExpiringColumnCount, false);
    table.numeric[static_cast<size_t>(ExpiringColumn::DaysLeft)] = true;
    table.rowCount = order.size();
    table.fillRow = [&cards, &order](size_t row, std::vector<std::string>& cells) {
        cells.resize(kExpiringColumnCount);
        for (int c = 0; c < kExpiringColumnCount; ++c) {
            cells[static_cast<size_t>(c)] =
                ExpiringCellText(cards[order[row]], static_cast<ExpiringColumn>(c));
        }
    };
    return table;
}
