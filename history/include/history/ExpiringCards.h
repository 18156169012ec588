#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "history/HistoryExport.h"
#include "register/CardMap.h"

// The cards of the register whose validity ends within a number of days from today or has
// already ended.

struct CExpiringCard {
    // The register's code-page bytes, converted only where shown or exported; their order is
    // the order of GB2312, which puts the common characters in pinyin order.
    std::string cardNo;
    std::string name;
    std::string houseNo;
    std::string phone;
    int32_t validDay = 0;  // yyyymmdd
    int32_t daysLeft = 0;  // from today to the last valid day; negative: ended that long ago
};

struct CExpiringList {
    std::vector<CExpiringCard> cards;  // by validity, then card number
    size_t skipped = 0;                // cards whose validity is no date
};

// The cards whose last valid day is at most `days` days after `today` (yyyymmdd), those whose
// validity has ended included.
CExpiringList FindExpiringCards(const CCardMap& map, int32_t today, int days);

// A day yyyymmdd from the register's "yyyymmdd" text; false when it is no date.
bool ParseCardDay(std::string_view text, int32_t& day);
// The days from `from` to `to` (both yyyymmdd dates).
int32_t DaysBetween(int32_t from, int32_t to);

// The columns of the list, in the window's order.
enum class ExpiringColumn : uint8_t { CardNo, Name, HouseNo, Phone, Validity, DaysLeft };
constexpr int kExpiringColumnCount = 6;

// The column titles: 卡号, 姓名, 门牌号, 联系电话, 有效期, 剩余天数.
const std::vector<std::string>& ExpiringColumnTitles();
// The text of a card's cell in UTF-8 (the validity as "2026-12-31"); bytes that are no
// character of the code page are shown as \xHH.
std::string ExpiringCellText(const CExpiringCard& card, ExpiringColumn column);

// The order of `cards` (which are in validity order) by `column`, ascending or descending: the
// indices of the cards, first to last. Cards equal in a text column stay in validity order.
std::vector<uint32_t> ExpiringOrder(const std::vector<CExpiringCard>& cards, ExpiringColumn column,
                                    bool descending);

// The cards as exported, in the order `order` (indices into `cards`), with the window's
// columns. Both must outlive it.
ExportTable ExpiringExportTable(const std::vector<CExpiringCard>& cards,
                                const std::vector<uint32_t>& order);
