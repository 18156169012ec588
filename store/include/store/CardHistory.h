#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "register/Card.h"
#include "register/CardMap.h"
#include "store/CardChange.h"
#include "store/HistoryEntry.h"

// Who and when, for the records of one change.
struct HistoryStamp {
    int64_t time = 0;
    int32_t utcOffset = 0;
    std::string desk;
};

// Now at this desk: the local offset of this moment, "host/login".
HistoryStamp CurrentStamp();

// The card's fields as the history shows them, "名称:值" joined by "; " (UTF-8): those that
// hold something, or all of them. The password is never shown, only whether it is set.
std::string CardFieldsText(const CCard& card, bool all = false);
// What changed from `before` to `after`, "名称:前→后" joined by "; "; empty when nothing did.
std::string CardDiffText(const CCard& before, const CCard& after);

// The history records of `change` applied to the register `before` (not yet applied), one for
// each card the change touches, numbered from `firstNumber` (a batch enrolment names its first
// record as its batch). A step that changes nothing gives no record unless the change carries
// a note or a fee.
std::vector<std::string> HistoryPayloads(const CCardChange& change, const CCardMap& before,
                                         const HistoryStamp& stamp, uint64_t firstNumber);

// A record that is no card change (an export, an import, the system password changed).
std::string EventPayload(uint8_t operation, const HistoryStamp& stamp, std::string content,
                         const std::string& cardNo = std::string(), int64_t feeCents = 0);
inline std::string EventPayload(HistoryOperation operation, const HistoryStamp& stamp,
                                std::string content) {
    return EventPayload(static_cast<uint8_t>(operation), stamp, std::move(content));
}
