#include "cards/CardList.h"

#include "register/CardFields.h"

const char* const kCardListTitles[kCardListColumns] = {
    "编号", "卡片状态", "卡号",   "卡类",     "有效期", "登记日期",
    "姓名", "联系电话", "门牌号", "证件号码", "地址",   "备注",
};

std::vector<const CCardMap::CAssoc*> CardListOrder(const CCardMap& cards) {
    std::vector<const CCardMap::CAssoc*> order;
    order.reserve(cards.GetCount());
    cards.ForEachNumbered([&order](const CCardMap::CAssoc& entry) { order.push_back(&entry); });
    // The walk through the buckets stops once the last other key is found.
    size_t others = cards.GetCount() - order.size();
    for (auto entry = cards.begin(); others > 0 && entry != cards.end(); ++entry) {
        if (SearchedCardNo(entry->key) == 0) {
            order.push_back(&*entry);
            --others;
        }
    }
    return order;
}
