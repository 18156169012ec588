#include "cards/Extension.h"

#include <optional>

#include "register/Amount.h"
#include "register/Card.h"

ExtensionResult ApplyExtension(CCardMap& cards, const std::string& cardNo,
                               const std::string& validDate, const std::string& sentFee) {
    ExtensionResult result;
    result.card = cards.Lookup(cardNo);
    if (result.card == nullptr) {
        result.payment = sentFee.empty() ? ExtensionPayment::None : ExtensionPayment::NotRegistered;
        return result;
    }
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
