#include "cards/CardList.h"

#include <algorithm>
#include <utility>

#include "register/CardFields.h"

const char* const kCardListTitles[kCardListColumns] = {
    "编号", "卡片状态", "卡号",   "卡类",     "有效期", "登记日期",
    "姓名", "联系电话", "门牌号", "证件号码", "地址",   "备注",
};

std::vector<const CCardMap::CAssoc*> CardListOrder(const CCardMap& cards) {
    std::vector<std::pair<int, const CCardMap::CAssoc*>> numbered;
    std::vector<const CCardMap::CAssoc*> others;
    numbered.reserve(cards.GetCount());
    for (const CCardMap::CAssoc& entry : cards) {
        const int n = SearchedCardNo(entry.key);
        if (n > 0) {
            numbered.emplace_back(n, &entry);
        } else {
            others.push_back(&entry);
        }
    }
    // Keys are unique, so no two entries share a number.
    std::sort(numbered.begin(), numbered.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<const CCardMap::CAssoc*> order;
    order.reserve(numbered.size() + others.size());
    for (const auto& [n, entry] : numbered) {
        order.push_back(entry);
    }
    order.insert(order.end(), others.begin(), others.end());
    return order;
}
