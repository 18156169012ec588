#pragma once

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

// A confirmed extension: the register's card of `cardNo` gets the new validity (YYYYMMDD)
// and the payment `sentFee` (the amount checked and sent with the command) joins its amount
// paid, so that the register and its exports show what the holder has paid.
ExtensionResult ApplyExtension(CCardMap& cards, const std::string& cardNo,
                               const std::string& validDate, const std::string& sentFee);
