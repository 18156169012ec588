#include "store/CardChange.h"

#include "register/Archive.h"

namespace {

constexpr uint8_t kPutStep = 1;
constexpr uint8_t kRemoveStep = 2;

}  // namespace

std::string CCardChange::Encode() const {
    std::string out;
    CArchive ar(&out);
    ar << static_cast<uint8_t>(m_operation) << m_nMaxNumber
       << static_cast<uint32_t>(m_steps.size());
    for (const Step& step : m_steps) {
        ar << (step.card != nullptr ? kPutStep : kRemoveStep) << std::string_view(step.key);
        if (step.card != nullptr) {
            step.card->Serialize(ar);
        }
    }
    return out;
}

bool CCardChange::Decode(std::string_view bytes, CCardChange& change) {
    CArchive ar(bytes.data(), bytes.size());
    uint8_t operation = 0;
    uint32_t count = 0;
    ar >> operation >> change.m_nMaxNumber >> count;
    change.m_operation = static_cast<CardOperation>(operation);
    change.m_steps.clear();
    // Every step takes at least two bytes: a bound on the count before anything is reserved.
    if (ar.Failed() || count > ar.Remaining() / 2) {
        return false;
    }
    change.m_steps.reserve(count);
    for (uint32_t i = 0; i < count; ++i) {
        uint8_t kind = 0;
        std::string key;
        ar >> kind >> key;
        if (ar.Failed() || (kind != kPutStep && kind != kRemoveStep)) {
            return false;
        }
        std::unique_ptr<CCard> card;
        if (kind == kPutStep) {
            card = std::make_unique<CCard>();
            card->Serialize(ar);
        }
        if (ar.Failed()) {
            return false;
        }
        change.m_steps.push_back({std::move(key), std::move(card)});
    }
    return ar.Remaining() == 0;
}

void CCardChange::RaiseNumbers(uint32_t above, uint32_t by) {
    for (Step& step : m_steps) {
        if (step.card != nullptr && step.card->m_nNumber > 0 &&
            static_cast<uint32_t>(step.card->m_nNumber) > above) {
            step.card->m_nNumber += static_cast<int32_t>(by);
        }
    }
    if (m_nMaxNumber > above) {
        m_nMaxNumber += by;
    }
}

void CCardChange::ApplyTo(CCardMap& map, uint32_t& maxNumber) {
    for (Step& step : m_steps) {
        if (step.card != nullptr) {
            map.SetAt(step.key, std::move(step.card));
        } else {
            map.RemoveKey(step.key);
        }
    }
    m_steps.clear();
    if (m_nMaxNumber > maxNumber) {
        maxNumber = m_nMaxNumber;
    }
}
