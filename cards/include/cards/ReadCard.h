#pragma once

#include <cstdint>
#include <string>

#include "protocol/Frame.h"
#include "register/CardMap.h"

class CCard;

// What a user card read by "读卡" puts into the form: the card number, validity and door
// permissions the card holds, and the register's record of that number for everything else.
// The password is not among them: the reply carries none.
struct ReadCardForm {
    std::string cardNo;
    CFrameDate valid;               // as the card holds it, a day or not
    std::string validText;          // YYYYMMDD of those bytes, for a validity that is no day
    bool ports[17] = {};            // ports[1] ... ports[16]
    bool allPorts = false;          // every one of the sixteen permitted
    const CCard* record = nullptr;  // the register's card; none leaves the other fields as they are
};

ReadCardForm MergeReadCard(const uint8_t data[kReplyBufferSize], const CCardMap& cards);
