// libFuzzer target for reply checking and decoding: any burst is judged without reading past
// the 100-byte reply buffer, and what is accepted decodes to well-formed texts.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "protocol/Reply.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    uint8_t buffer[kReplyBufferSize] = {};
    std::memcpy(buffer, data, std::min(size, kReplyBufferSize));
    const uint32_t count = static_cast<uint32_t>(std::min<size_t>(size, 1000));
    const CReplyCheck check = CheckReply(buffer, count);
    if (check.format != ReplyFormat::Valid) {
        return 0;
    }
    if (count != check.length + 2u || count > kReplyBufferSize ||
        buffer[check.length + 1] != FRAME_TAIL) {
        std::abort();
    }
    const ReplyKind kind = ClassifyReply(check);
    if (kind == ReplyKind::Data && check.command == CMD_READ_CARD) {
        const CCardData card = DecodeCardData(buffer);
        if (card.cardNo.size() < 6 || card.cardNo.size() > 12 || card.rights.size() != 16) {
            std::abort();
        }
    } else if (kind == ReplyKind::Data && check.command == CMD_READ_SETTINGS) {
        const CFrameClock clock = DecodeClock(buffer + 4);
        const std::string digits = DecodeDigits(buffer + 4, 5);
        if (clock.date.year < 2000 || clock.date.year > 2165 || digits.size() < 10) {
            std::abort();
        }
    }
    return 0;
}
