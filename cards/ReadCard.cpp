#include "cards/ReadCard.h"

#include <cstdio>

#include "protocol/Reply.h"
#include "register/CardFields.h"

ReadCardForm MergeReadCard(const uint8_t data[kReplyBufferSize], const CCardMap& cards) {
    const CCardData card = DecodeCardData(data);
    ReadCardForm form;
    form.cardNo = card.cardNo;
    form.valid = card.valid;
    char text[32];
    std::snprintf(text, sizeof text, "%04d%02d%02d", card.valid.year, card.valid.month,
                  card.valid.day);
    form.validText = text;
    bool all = true;
    for (int port = 1; port <= 16; ++port) {
        form.ports[port] = PortPermitted(card.rights, port);
        all = all && form.ports[port];
    }
    form.allPorts = all;
    form.record = cards.Lookup(form.cardNo);
    return form;
}
