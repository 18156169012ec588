#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Frames of the card reader/writer: AA, LEN (bytes after it), command code, BCD payload, 55.
// No checksum, no escaping.
constexpr uint8_t FRAME_HEAD = 0xAA;
constexpr uint8_t FRAME_TAIL = 0x55;

enum : uint8_t {
    CMD_ISSUE_CARD = 0xA1,
    CMD_READ_CARD = 0xA2,
    CMD_EXTEND = 0xA3,
    CMD_SET_TIME = 0xA4,
    CMD_SET_PASSWORD = 0xA5,
    CMD_REPORT_LOST = 0xA6,
    CMD_UNLOCK = 0xA7,
    CMD_READ_SETTINGS = 0xA8,
    CMD_CLEAR_SETTINGS = 0xA9,
};

constexpr uint8_t RESULT_OK = 0x01;
constexpr uint8_t RESULT_FAIL = 0x00;

// The reply record's buffer: a reply is copied into it from offset 0, the rest zero.
constexpr size_t kReplyBufferSize = 100;

struct CFrameDate {
    int year = 2000;  // 2000 ... 2099 travel; the year is sent modulo 100
    int month = 1;
    int day = 1;
};

struct CFrameClock {
    CFrameDate date;
    int hour = 0;
    int minute = 0;
};

using Frame = std::vector<uint8_t>;

// Two digit characters as one BCD byte, kept to 8 bits; the caller has checked the digits.
uint8_t BcdPair(char high, char low);
// A value 0 ... 99 as one BCD byte.
uint8_t BcdByte(int value);
// One BCD byte as a number: (x >> 4) * 10 + (x & 0x0F).
int FromBcd(uint8_t byte);

// The command frames. Card numbers are 6 digits, passwords 10 digits (checked by the
// caller); `rights` is the record's permission string, character 0 = door 16 ... character
// 15 = door 1, '1' = permitted (missing characters count as not permitted).
Frame BuildIssueCardFrame(std::string_view cardNo, const CFrameDate& valid,
                          std::string_view password, std::string_view rights);
Frame BuildReadCardFrame(std::string_view password);
Frame BuildExtendFrame(const CFrameDate& newValid, std::string_view password);
Frame BuildSetTimeFrame(const CFrameClock& clock, std::string_view password);
Frame BuildSetPasswordFrame(std::string_view newPassword);
Frame BuildReportLostFrame(std::string_view cardNo, std::string_view password);
Frame BuildUnlockFrame(std::string_view cardNo, std::string_view password);
Frame BuildReadSettingsFrame();
Frame BuildClearSettingsFrame();

// Eight permission bytes (byte k: door 16 - 2k high nibble, door 15 - 2k low nibble).
void PackRights(std::string_view rights, uint8_t out[8]);
// Back to the 16-character string; any non-zero nibble is a permitted door.
std::string UnpackRights(const uint8_t bytes[8]);

// The nibbles of `count` bytes printed one by one as decimal numbers ("%d" each): a nibble
// above 9 prints as two digits.
std::string DecodeDigits(const uint8_t* bytes, size_t count);
// YY MM DD with year 2000 + YY.
CFrameDate DecodeDate(const uint8_t bytes[3]);
// YY MM DD hh mm.
CFrameClock DecodeClock(const uint8_t bytes[5]);
