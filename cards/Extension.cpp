#include "cards/Extension.h"

#include <optional>

#include "register/Amount.h"
#include "register/Card.h"

ExtensionChange MakeExtension(const CCardMap& cards, const std::string& cardNo,
                              const std::string& validDate, const std::string& sentFee) {
    ExtensionChange result;
    const CCard* current = cards.Lookup(cardNo);
    if (current == nullptr) {
        result.payment = sentFee.empty() ? ExtensionPayment::None : ExtensionPayment::NotRegistered;
        return result;
    }
    result.card = CopyOfCard(*current);
    result.card->m_strValidDate = validDate;
    if (sentFee.empty()) {
        return result;
    }
    const std::optional<std::string> total = AddAmounts(result.card->m_strPaid, sentFee, 10);
    if (!total) {
        result.payment = ExtensionPayment::NotAdded;
        return result;
    }
    result.card->m_strPaid = *total;
    result.payment = ExtensionPayment::Recorded;
    return result;
}

ExtensionResult ApplyExtension(CCardMap& cards, const std::string& cardNo,
                               const std::string& validDate, const std::string& sentFee) {
    ExtensionChange change = MakeExtension(cards, cardNo, validDate, sentFee);
    ExtensionResult result;
    result.payment = change.payment;
    if (change.card != nullptr) {
        result.card = cards.SetAt(cardNo, std::move(change.card));
    }
    return result;
}
