#include "protocol/Frame.h"

namespace {

// AA, LEN, code, payload, 55.
Frame Wrap(uint8_t command, const Frame& payload) {
    Frame frame;
    frame.reserve(payload.size() + 4);
    frame.push_back(FRAME_HEAD);
    frame.push_back(static_cast<uint8_t>(payload.size() + 2));
    frame.push_back(command);
    frame.insert(frame.end(), payload.begin(), payload.end());
    frame.push_back(FRAME_TAIL);
    return frame;
}

// Digit pairs of a text as BCD bytes; a missing digit counts as '0'.
void AppendDigits(Frame& out, std::string_view digits, size_t pairs) {
    for (size_t i = 0; i < pairs; ++i) {
        const char high = 2 * i < digits.size() ? digits[2 * i] : '0';
        const char low = 2 * i + 1 < digits.size() ? digits[2 * i + 1] : '0';
        out.push_back(BcdPair(high, low));
    }
}

void AppendDate(Frame& out, const CFrameDate& date) {
    out.push_back(BcdByte(((date.year % 100) + 100) % 100));
    out.push_back(BcdByte(date.month));
    out.push_back(BcdByte(date.day));
}

}  // namespace

uint8_t BcdPair(char high, char low) {
    return static_cast<uint8_t>((high - '0') * 16 + (low - '0'));
}

uint8_t BcdByte(int value) {
    return static_cast<uint8_t>((value / 10) * 16 + value % 10);
}

int FromBcd(uint8_t byte) {
    return (byte >> 4) * 10 + (byte & 0x0F);
}

void PackRights(std::string_view rights, uint8_t out[8]) {
    for (size_t k = 0; k < 8; ++k) {
        const bool high = 2 * k < rights.size() && rights[2 * k] == '1';
        const bool low = 2 * k + 1 < rights.size() && rights[2 * k + 1] == '1';
        out[k] = static_cast<uint8_t>((high ? 0x10 : 0) | (low ? 0x01 : 0));
    }
}

std::string UnpackRights(const uint8_t bytes[8]) {
    std::string rights(16, '0');
    for (size_t k = 0; k < 8; ++k) {
        rights[2 * k] = (bytes[k] & 0xF0) != 0 ? '1' : '0';
        rights[2 * k + 1] = (bytes[k] & 0x0F) != 0 ? '1' : '0';
    }
    return rights;
}

Frame BuildIssueCardFrame(std::string_view cardNo, const CFrameDate& valid,
                          std::string_view password, std::string_view rights) {
    Frame payload;
    AppendDigits(payload, cardNo, 3);
    AppendDate(payload, valid);
    AppendDigits(payload, password, 5);
    uint8_t packed[8];
    PackRights(rights, packed);
    payload.insert(payload.end(), packed, packed + 8);
    return Wrap(CMD_ISSUE_CARD, payload);
}

Frame BuildReadCardFrame(std::string_view password) {
    Frame payload;
    AppendDigits(payload, password, 5);
    return Wrap(CMD_READ_CARD, payload);
}

Frame BuildExtendFrame(const CFrameDate& newValid, std::string_view password) {
    Frame payload;
    AppendDate(payload, newValid);
    AppendDigits(payload, password, 5);
    return Wrap(CMD_EXTEND, payload);
}

Frame BuildSetTimeFrame(const CFrameClock& clock, std::string_view password) {
    Frame payload;
    AppendDate(payload, clock.date);
    payload.push_back(BcdByte(clock.hour));
    payload.push_back(BcdByte(clock.minute));
    AppendDigits(payload, password, 5);
    return Wrap(CMD_SET_TIME, payload);
}

Frame BuildSetPasswordFrame(std::string_view newPassword) {
    Frame payload;
    AppendDigits(payload, newPassword, 5);
    return Wrap(CMD_SET_PASSWORD, payload);
}

Frame BuildReportLostFrame(std::string_view cardNo, std::string_view password) {
    Frame payload;
    AppendDigits(payload, cardNo, 3);
    AppendDigits(payload, password, 5);
    return Wrap(CMD_REPORT_LOST, payload);
}

Frame BuildUnlockFrame(std::string_view cardNo, std::string_view password) {
    Frame payload;
    AppendDigits(payload, cardNo, 3);
    AppendDigits(payload, password, 5);
    return Wrap(CMD_UNLOCK, payload);
}

Frame BuildReadSettingsFrame() {
    return Wrap(CMD_READ_SETTINGS, Frame(5, 0));
}

Frame BuildClearSettingsFrame() {
    return Wrap(CMD_CLEAR_SETTINGS, Frame(5, 0));
}

std::string DecodeDigits(const uint8_t* bytes, size_t count) {
    std::string text;
    for (size_t i = 0; i < count; ++i) {
        text += std::to_string(bytes[i] >> 4);
        text += std::to_string(bytes[i] & 0x0F);
    }
    return text;
}

CFrameDate DecodeDate(const uint8_t bytes[3]) {
    return CFrameDate{2000 + FromBcd(bytes[0]), FromBcd(bytes[1]), FromBcd(bytes[2])};
}

CFrameClock DecodeClock(const uint8_t bytes[5]) {
    return CFrameClock{DecodeDate(bytes), FromBcd(bytes[3]), FromBcd(bytes[4])};
}
