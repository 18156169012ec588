#include <gtest/gtest.h>

#include <cstring>

#include "TestUtil.h"
#include "protocol/Frame.h"
#include "protocol/Reply.h"

namespace {

std::string Bytes(const Frame& f) {
    return std::string(f.begin(), f.end());
}

const char* kPassword = "5820463917";
const std::string kPasswordBytes = FromHex("58 20 46 39 17");

TEST(Frames, EveryCommandByteForByte) {
    struct Case {
        const char* what;
        Frame frame;
        std::string expected;
    };
    const Case cases[] = {
        {"issue 000123 until 2026-12-31, doors 1 and 2",
         BuildIssueCardFrame("000123", {2026, 12, 31}, kPassword, "0000000000000011"),
         FromHex("AA 15 A1 00 01 23 26 12 31") + kPasswordBytes +
             FromHex("00 00 00 00 00 00 00 11 55")},
        {"issue with doors 1, 2 and 16",
         BuildIssueCardFrame("999999", {2099, 1, 2}, "0123456789", "1000000000000011"),
         FromHex("AA 15 A1 99 99 99 99 01 02 01 23 45 67 89 10 00 00 00 00 00 00 11 55")},
        {"read card", BuildReadCardFrame(kPassword),
         FromHex("AA 07 A2") + kPasswordBytes + FromHex("55")},
        {"extend to 2026-03-09", BuildExtendFrame({2026, 3, 9}, kPassword),
         FromHex("AA 0A A3 26 03 09") + kPasswordBytes + FromHex("55")},
        {"set time 2026-03-09 14:05", BuildSetTimeFrame({{2026, 3, 9}, 14, 5}, kPassword),
         FromHex("AA 0C A4 26 03 09 14 05") + kPasswordBytes + FromHex("55")},
        {"set password", BuildSetPasswordFrame("0000000001"),
         FromHex("AA 07 A5 00 00 00 00 01 55")},
        {"report lost", BuildReportLostFrame("000123", kPassword),
         FromHex("AA 0A A6 00 01 23") + kPasswordBytes + FromHex("55")},
        {"unlock", BuildUnlockFrame("654321", kPassword),
         FromHex("AA 0A A7 65 43 21") + kPasswordBytes + FromHex("55")},
        {"read settings", BuildReadSettingsFrame(), FromHex("AA 07 A8 00 00 00 00 00 55")},
        {"clear settings", BuildClearSettingsFrame(), FromHex("AA 07 A9 00 00 00 00 00 55")},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Bytes(c.frame), c.expected) << c.what;
        EXPECT_EQ(c.frame[1], c.frame.size() - 2) << c.what;
    }
    EXPECT_EQ(cases[0].frame.size(), 23u);
}

TEST(Frames, PermissionsBothWays) {
    struct Case {
        const char* rights;
        std::string packed;
    };
    const Case cases[] = {
        {"0000000000000000", FromHex("00 00 00 00 00 00 00 00")},
        {"1111111111111111", FromHex("11 11 11 11 11 11 11 11")},
        {"1000000000000001", FromHex("10 00 00 00 00 00 00 01")},  // doors 16 and 1
        {"0100000000000010", FromHex("01 00 00 00 00 00 00 10")},  // doors 15 and 2
        {"1000000000000011", FromHex("10 00 00 00 00 00 00 11")},
    };
    for (const Case& c : cases) {
        uint8_t out[8];
        PackRights(c.rights, out);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(out), 8), c.packed) << c.rights;
        EXPECT_EQ(UnpackRights(out), c.rights);
    }
    uint8_t shortString[8];
    PackRights("11", shortString);  // missing doors are not permitted
    EXPECT_EQ(std::string(reinterpret_cast<char*>(shortString), 8),
              FromHex("11 00 00 00 00 00 00 00"));
    const uint8_t anyNibble[8] = {0x20, 0x0F, 0, 0, 0, 0, 0x90, 0x01};
    EXPECT_EQ(UnpackRights(anyNibble), "1001000000001001");
}

TEST(Frames, Decoders) {
    const uint8_t card[3] = {0x00, 0x01, 0x23};
    EXPECT_EQ(DecodeDigits(card, 3), "000123");
    const uint8_t wild[3] = {0xAB, 0x01, 0xF0};
    EXPECT_EQ(DecodeDigits(wild, 3), "101101150");  // nibbles above 9 print as two digits
    const uint8_t password[5] = {0x58, 0x20, 0x46, 0x39, 0x17};
    EXPECT_EQ(DecodeDigits(password, 5), "5820463917");
    const uint8_t date[3] = {0x26, 0x12, 0x31};
    const CFrameDate d = DecodeDate(date);
    EXPECT_EQ(d.year, 2026);
    EXPECT_EQ(d.month, 12);
    EXPECT_EQ(d.day, 31);
    const uint8_t clock[5] = {0x99, 0x01, 0x02, 0x23, 0x59};
    const CFrameClock c = DecodeClock(clock);
    EXPECT_EQ(c.date.year, 2099);
    EXPECT_EQ(c.hour, 23);
    EXPECT_EQ(c.minute, 59);
    EXPECT_EQ(BcdPair('4', '2'), 0x42);
    EXPECT_EQ(FromBcd(0x42), 42);
    EXPECT_EQ(BcdByte(7), 0x07);
}

struct ReplyCase {
    const char* what;
    std::string bytes;
    ReplyFormat format;
    ReplyKind kind;  // for valid replies
};

CReplyCheck Check(const std::string& bytes, uint32_t count) {
    uint8_t buffer[kReplyBufferSize] = {};
    std::memcpy(buffer, bytes.data(), std::min(bytes.size(), kReplyBufferSize));
    return CheckReply(buffer, count);
}

TEST(Replies, CheckAndClassify) {
    using F = ReplyFormat;
    using K = ReplyKind;
    const ReplyCase cases[] = {
        {"issue ok", FromHex("AA 03 A1 01 55"), F::Valid, K::Success},
        {"issue failed", FromHex("AA 03 A1 00 55"), F::Valid, K::Failure},
        {"issue, result 2", FromHex("AA 03 A1 02 55"), F::Valid, K::Ignored},
        {"extend ok", FromHex("AA 03 A3 01 55"), F::Valid, K::Success},
        {"set time, result 2", FromHex("AA 03 A4 02 55"), F::Valid, K::Ignored},
        {"set time, LEN 4", FromHex("AA 04 A4 01 00 55"), F::Valid, K::Failure},
        {"set password ok", FromHex("AA 03 A5 01 55"), F::Valid, K::Success},
        {"report lost failed", FromHex("AA 03 A6 00 55"), F::Valid, K::Failure},
        {"unlock ok", FromHex("AA 03 A7 01 55"), F::Valid, K::Success},
        {"clear ok", FromHex("AA 03 A9 01 55"), F::Valid, K::Success},
        {"read card time-out", FromHex("AA 03 A2 00 55"), F::Valid, K::TimeOut},
        {"read card short 01 is data", FromHex("AA 03 A2 01 55"), F::Valid, K::Data},
        {"card data", FromHex("AA 10 A2 00 01 23 26 12 31 10 00 00 00 00 00 00 11 55"), F::Valid,
         K::Data},
        {"read settings failed", FromHex("AA 03 A8 00 55"), F::Valid, K::Failure},
        {"settings clock", FromHex("AA 08 A8 A4 26 03 09 14 05 55"), F::Valid, K::Data},
        {"settings lost card", FromHex("AA 06 A8 A6 00 01 23 55"), F::Valid, K::Data},
        {"settings unknown sub-code", FromHex("AA 06 A8 A9 00 01 23 55"), F::Valid, K::Ignored},
        {"unknown command", FromHex("AA 03 B0 01 55"), F::Valid, K::Ignored},
        {"code below the range", FromHex("AA 03 A0 01 55"), F::Valid, K::Ignored},
        {"bad head", FromHex("AB 03 A1 01 55"), F::HeaderError, K::Ignored},
        {"bad tail", FromHex("AA 03 A1 01 56"), F::TrailerError, K::Ignored},
        {"first of two pieces", FromHex("AA 10 A2 00 01 23"), F::HeaderError, K::Ignored},
        {"stray byte after the frame", FromHex("AA 03 A1 01 55 55"), F::HeaderError, K::Ignored},
        {"empty", "", F::HeaderError, K::Ignored},
        {"0xAA and 0x55 inside the payload", FromHex("AA 06 A8 A6 AA 55 AA 55"), F::Valid, K::Data},
    };
    for (const ReplyCase& c : cases) {
        const CReplyCheck check = Check(c.bytes, static_cast<uint32_t>(c.bytes.size()));
        EXPECT_EQ(check.format, c.format) << c.what;
        if (check.format == ReplyFormat::Valid) {
            EXPECT_EQ(ClassifyReply(check), c.kind) << c.what;
            EXPECT_EQ(check.command, static_cast<uint8_t>(c.bytes[2])) << c.what;
        }
    }
}

TEST(Replies, LongestValidReplyAndImpossibleCounts) {
    std::string frame = FromHex("AA 62 A2") + std::string(96, '\x11') + FromHex("55");
    ASSERT_EQ(frame.size(), 100u);
    EXPECT_EQ(Check(frame, 100).format, ReplyFormat::Valid);
    EXPECT_EQ(Check(FromHex("AA 63 A2"), 101).format, ReplyFormat::HeaderError);
    EXPECT_EQ(Check(FromHex("AA FF A2"), 257).format, ReplyFormat::HeaderError);
}

TEST(Replies, CardDataFromTheZeroedBuffer) {
    uint8_t buffer[kReplyBufferSize] = {};
    const std::string full = FromHex("AA 10 A2 00 01 23 26 12 31 20 00 00 00 00 00 00 11 55");
    std::memcpy(buffer, full.data(), full.size());
    CCardData data = DecodeCardData(buffer);
    EXPECT_EQ(data.cardNo, "000123");
    EXPECT_EQ(data.valid.year, 2026);
    EXPECT_EQ(data.valid.month, 12);
    EXPECT_EQ(data.valid.day, 31);
    EXPECT_EQ(data.rights, "1000000000000011");

    uint8_t shortReply[kReplyBufferSize] = {0xAA, 0x03, 0xA2, 0x01, 0x55};
    data = DecodeCardData(shortReply);
    EXPECT_EQ(data.cardNo, "015500");  // 01 55 00: the buffer is zero beyond the reply
}

TEST(Replies, Texts) {
    EXPECT_STREQ(kHeaderErrorText, "接收数据格式帧头错误!");
    EXPECT_STREQ(kTrailerErrorText, "接收数据格式帧尾错误!");
    const std::pair<uint8_t, const char*> failures[] = {
        {CMD_ISSUE_CARD, "发卡失败!"},
        {CMD_READ_CARD, "读取超时!"},
        {CMD_EXTEND, "延期设定失败!"},
        {CMD_SET_TIME, "校时失败!"},
        {CMD_SET_PASSWORD, "设定密码失败!"},
        {CMD_REPORT_LOST, "挂失失败!"},
        {CMD_UNLOCK, "解挂失败!"},
        {CMD_READ_SETTINGS, "读设定信息失败!"},
        {CMD_CLEAR_SETTINGS, "清除设定信息失败!"},
    };
    for (const auto& [code, text] : failures) {
        EXPECT_STREQ(ReplyFailureText(code), text) << int(code);
    }
    EXPECT_EQ(ReplyFailureText(0xB0), nullptr);
    EXPECT_STREQ(ReplySuccessText(CMD_EXTEND), "延期设定成功!");
    EXPECT_STREQ(ReplySuccessText(CMD_CLEAR_SETTINGS), "清除设定信息成功!");
    EXPECT_EQ(ReplySuccessText(CMD_ISSUE_CARD), nullptr);
    EXPECT_STREQ(SettingsSuccessText(CMD_SET_TIME), "读设定信息校时成功!");
    EXPECT_STREQ(SettingsSuccessText(CMD_UNLOCK), "读设定信息解挂卡号成功!");
    EXPECT_EQ(SettingsSuccessText(CMD_READ_SETTINGS), nullptr);
}

}  // namespace
