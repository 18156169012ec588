// libFuzzer target for reply checking and decoding: any burst is judged without reading past
// the 100-byte reply buffer, and what is accepted decodes to well-formed texts. The same bytes
// cut into bursts are put together into replies of at most a reply buffer, and a frame that
// the checker accepts whole comes out whole however it was cut.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "protocol/Reply.h"
#include "protocol/ReplyAssembly.h"

namespace {

// The first byte chooses where the rest is cut: each of its bits in turn makes a burst of one
// byte (set) or of up to seven (clear).
void CheckAssembly(const uint8_t* data, size_t size) {
    if (size < 2 || size - 1 > kReplyBufferSize) {
        return;
    }
    const uint8_t cuts = data[0];
    const uint8_t* bytes = data + 1;
    const size_t count = size - 1;
    uint8_t whole[kReplyBufferSize] = {};
    std::memcpy(whole, bytes, count);
    const CReplyCheck check = CheckReply(whole, static_cast<uint32_t>(count));
    const bool valid = check.format == ReplyFormat::Valid;

    CReplyAssembly assembly;
    uint8_t reply[kReplyBufferSize];
    bool first = true;
    for (size_t at = 0, burst = 0; at < count; ++burst) {
        const size_t piece =
            std::min<size_t>(count - at, ((cuts >> (burst % 8)) & 1) != 0 ? 1 : 1 + burst % 7);
        if (assembly.Add(bytes + at, static_cast<uint32_t>(piece))) {
            const uint32_t taken = assembly.Take(reply);
            if (taken == 0 || taken > kReplyBufferSize) {
                std::abort();
            }
            if (valid && first &&
                (taken != count || std::memcmp(reply, whole, kReplyBufferSize) != 0)) {
                std::abort();
            }
            first = false;
        }
        at += piece;
    }
    if (valid && (first || assembly.Pending())) {
        std::abort();  // a whole frame was held back
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CheckAssembly(data, size);
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
