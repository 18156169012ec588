#pragma once

#include <memory>
#include <string>

#include "register/CardMap.h"

class CCard;

// What became of the payment that was sent with an extension.
enum class ExtensionPayment {
    None,           // nothing was paid
    Recorded,       // added to the card's amount paid
    NotAdded,       // the sum is no amount of at most ten characters: the amount paid is kept
    NotRegistered,  // the card is not in the register: nothing to add it to
};

struct ExtensionResult {
    CCard* card = nullptr;  // the register's card, or none
    ExtensionPayment payment = ExtensionPayment::None;
};

// A confirmed extension as the card's new state, for the register to take: `card` is the
// register's card of `cardNo` with the new validity and the payment added (none when the
// register has no such card); `payment` as below. The register itself is not touched.
struct ExtensionChange {
    std::unique_ptr<CCard> card;
    ExtensionPayment payment = ExtensionPayment::None;
};
ExtensionChange MakeExtension(const CCardMap& cards, const std::string& cardNo,
                              const std::string& validDate, const std::string& sentFee);

// A confirmed extension: the register's card of `cardNo` gets the new validity (YYYYMMDD)
// and the payment `sentFee` (the amount checked and sent with the command) joins its amount
// paid, so that the register and its exports show what the holder has paid.
ExtensionResult ApplyExtension(CCardMap& cards, const std::string& cardNo,
                               const std::string& validDate, const std::string& sentFee);
