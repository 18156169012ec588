#pragma once

#include <cstdint>

#include "protocol/Frame.h"

// What CheckReply makes of a received burst.
enum class ReplyFormat { HeaderError, TrailerError, Valid };

struct CReplyCheck {
    ReplyFormat format = ReplyFormat::HeaderError;
    uint8_t command = 0;  // position 2
    uint8_t length = 0;   // LEN, position 1
    uint8_t result = 0;   // position 3: the result byte or a sub-code
};

// Header error: byte 0 is not AA, or `count` is not LEN + 2 (a reply cut short, a stray
// byte; a reply that came in pieces is put together first, CReplyAssembly). Trailer error: the byte
// at LEN + 1 is not 55. `data` is the 100-byte reply buffer (zero beyond the received bytes); a
// count above 100 cannot be a reply of that buffer.
CReplyCheck CheckReply(const uint8_t data[kReplyBufferSize], uint32_t count);

// What a valid reply means, judged by its command code.
enum class ReplyKind {
    Success,  // short reply with RESULT_OK
    Failure,  // RESULT_FAIL, or a result reply of another length
    TimeOut,  // CMD_READ_CARD answered with RESULT_FAIL
    Data,     // card data (CMD_READ_CARD) or setting data with sub-code A4 ... A7
    Ignored,  // another result byte, sub-code or command code: no message, no change
};

ReplyKind ClassifyReply(const CReplyCheck& reply);

// The card data reply: card number at 3-5, validity at 6-8, permissions at 9-16.
struct CCardData {
    std::string cardNo;
    CFrameDate valid;
    std::string rights;
};
CCardData DecodeCardData(const uint8_t data[kReplyBufferSize]);

// Texts shown for the replies (UTF-8).
extern const char* const kHeaderErrorText;
extern const char* const kTrailerErrorText;
// No reply came in time after a command.
extern const char* const kNoReplyText;
// A command while no port is open.
extern const char* const kNoPortText;
// The line of an open port has hung up (the reader unplugged).
extern const char* const kLineGoneText;
// The failure or time-out text of a command, or nullptr for an unknown code.
const char* ReplyFailureText(uint8_t command);
// The success text common to both windows, or nullptr where each window has its own
// (CMD_ISSUE_CARD, CMD_READ_CARD) or the text depends on the sub-code (CMD_READ_SETTINGS).
const char* ReplySuccessText(uint8_t command);
// The success text of a setting read back, by sub-code A4 ... A7; nullptr otherwise.
const char* SettingsSuccessText(uint8_t subCode);
