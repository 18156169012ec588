#include "register/Card.h"

#include "register/Archive.h"

const char* const g_cardTexts[kCardTextCount] = {
    "未发行", "已发行", "挂失", "免费卡", "月卡", "年卡", "临时卡", "男", "女",
};

namespace {

const char* TextAt(int base, int count, uint8_t value) {
    return value < count ? g_cardTexts[base + value] : nullptr;
}

}  // namespace

const char* CardStatusText(uint8_t status) {
    return TextAt(0, 3, status);
}
const char* CardTypeText(uint8_t type) {
    return TextAt(kCardTypeTextBase, 4, type);
}
const char* CardSexText(uint8_t sex) {
    return TextAt(kCardSexTextBase, 2, sex);
}

void CCard::Serialize(CArchive& ar) {
    if (ar.IsStoring()) {
        // The record's size first, so that it goes into the buffer in one piece.
        size_t size = 0;
        VisitFields(*this, [&size](const char*, const auto& field) {
            size += CArchive::StoredSize(field);
        });
        if (uint8_t* at = ar.Room(size)) {
            VisitFields(*this,
                        [&at](const char*, const auto& field) { at = CArchive::Store(at, field); });
            return;
        }
    }
    VisitFields(*this, [&ar](const char* name, auto& field) {
        if (ar.IsStoring()) {
            ar << field;
        } else {
            ar.SetField(name);
            ar >> field;
        }
    });
}
