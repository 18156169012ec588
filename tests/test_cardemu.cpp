// The card-reader emulator answers every command like a device, over a real pseudo-terminal
// opened through the program's own serial link.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include "TestUtil.h"
#include "protocol/Frame.h"
#include "protocol/Reply.h"
#include "serial/ComPort.h"

namespace {

using namespace std::chrono_literals;

const std::string kPassword = "5820463917";

class EmulatorTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(emulator.ready());
        ASSERT_TRUE(port.OpenPort(dir / "COM1"));
        ASSERT_TRUE(port.StartReader(
            [this](CardReply& reply) {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_replies.push_back(std::string(reply.data, reply.data + reply.dwCount));
                m_cv.notify_all();
                port.GoAhead().Set();
            },
            nullptr));
    }
    // Sends a frame and returns the next reply ("" when none comes within the deadline).
    std::string Exchange(const Frame& frame, std::chrono::milliseconds wait = 5000ms) {
        std::unique_lock<std::mutex> lock(m_mutex);
        const size_t before = m_replies.size();
        port.GoAhead().Set();
        port.WritePort(frame.data(), frame.size());
        if (!m_cv.wait_for(lock, wait, [&] { return m_replies.size() > before; })) {
            return "";
        }
        return m_replies[before];
    }
    size_t Replies() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_replies.size();
    }

    TempDir dir;
    CardEmulator emulator{CARDEMU, dir / "COM1"};
    CComPort port;
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::vector<std::string> m_replies;
};

std::string Ok(uint8_t cmd) {
    return std::string{'\xAA', 3, static_cast<char>(cmd), 1, 0x55};
}
std::string Fail(uint8_t cmd) {
    return std::string{'\xAA', 3, static_cast<char>(cmd), 0, 0x55};
}

TEST_F(EmulatorTest, UserCardIssueReadExtend) {
    EXPECT_EQ(Exchange(BuildReadCardFrame(kPassword)), Fail(CMD_READ_CARD));  // blank card
    EXPECT_EQ(
        Exchange(BuildIssueCardFrame("000123", {2026, 12, 31}, kPassword, "1000000000000011")),
        Ok(CMD_ISSUE_CARD));
    EXPECT_EQ(Exchange(BuildReadCardFrame(kPassword)),
              FromHex("AA 10 A2 00 01 23 26 12 31 10 00 00 00 00 00 00 11 55"));
    EXPECT_EQ(Exchange(BuildExtendFrame({2028, 6, 30}, kPassword)), Ok(CMD_EXTEND));
    EXPECT_EQ(Exchange(BuildReadCardFrame(kPassword)),
              FromHex("AA 10 A2 00 01 23 28 06 30 10 00 00 00 00 00 00 11 55"));
    // A wrong system password is refused.
    EXPECT_EQ(Exchange(BuildExtendFrame({2030, 1, 1}, "0000000000")), Fail(CMD_EXTEND));
    EXPECT_EQ(Exchange(BuildIssueCardFrame("000124", {2026, 1, 1}, "0000000000", "")),
              Fail(CMD_ISSUE_CARD));
}

TEST_F(EmulatorTest, ManagementCardHoldsTheLastSetting) {
    EXPECT_EQ(Exchange(BuildReadSettingsFrame()), Fail(CMD_READ_SETTINGS));
    EXPECT_EQ(Exchange(BuildSetTimeFrame({{2026, 3, 9}, 14, 5}, kPassword)), Ok(CMD_SET_TIME));
    EXPECT_EQ(Exchange(BuildReadSettingsFrame()), FromHex("AA 08 A8 A4 26 03 09 14 05 55"));
    EXPECT_EQ(Exchange(BuildSetPasswordFrame("0123456789")), Ok(CMD_SET_PASSWORD));
    EXPECT_EQ(Exchange(BuildReadSettingsFrame()), FromHex("AA 08 A8 A5 01 23 45 67 89 55"));
    EXPECT_EQ(Exchange(BuildReportLostFrame("000123", kPassword)), Ok(CMD_REPORT_LOST));
    EXPECT_EQ(Exchange(BuildReadSettingsFrame()), FromHex("AA 06 A8 A6 00 01 23 55"));
    EXPECT_EQ(Exchange(BuildUnlockFrame("654321", kPassword)), Ok(CMD_UNLOCK));
    EXPECT_EQ(Exchange(BuildReadSettingsFrame()), FromHex("AA 06 A8 A7 65 43 21 55"));
    EXPECT_EQ(Exchange(BuildClearSettingsFrame()), Ok(CMD_CLEAR_SETTINGS));
    EXPECT_EQ(Exchange(BuildReadSettingsFrame()), Fail(CMD_READ_SETTINGS));
    EXPECT_EQ(Exchange(BuildReportLostFrame("000123", "1111111111")), Fail(CMD_REPORT_LOST));
}

TEST_F(EmulatorTest, ControlLinesAndFaults) {
    emulator.Control("remove");
    EXPECT_EQ(Exchange(BuildSetTimeFrame({{2026, 3, 9}, 14, 5}, kPassword)), Fail(CMD_SET_TIME));
    emulator.Control("place user 000777 271231 0000000000000001");
    EXPECT_EQ(Exchange(BuildReadCardFrame(kPassword)),
              FromHex("AA 10 A2 00 07 77 27 12 31 00 00 00 00 00 00 00 01 55"));

    emulator.Control("fault fail");
    EXPECT_EQ(Exchange(BuildReadCardFrame(kPassword)), Fail(CMD_READ_CARD));
    emulator.Control("fault silent");
    EXPECT_EQ(Exchange(BuildReadCardFrame(kPassword), 300ms), "");
    emulator.Control("fault garbage");
    const std::string garbage = Exchange(BuildReadCardFrame(kPassword));
    uint8_t buffer[kReplyBufferSize] = {};
    std::memcpy(buffer, garbage.data(), garbage.size());
    EXPECT_NE(CheckReply(buffer, static_cast<uint32_t>(garbage.size())).format, ReplyFormat::Valid);
    emulator.Control("fault long");
    EXPECT_EQ(Exchange(BuildReadCardFrame(kPassword)).size(), 100u);  // 150 sent, 100 kept
    emulator.Control("fault split");
    const size_t before = Replies();
    const std::string first = Exchange(BuildReadCardFrame(kPassword));
    EXPECT_EQ(first, FromHex("AA 10 A2 00 07 77 27 12 31"));
    for (int i = 0; i < 100 && Replies() < before + 2; ++i) {
        std::this_thread::sleep_for(10ms);
    }
    ASSERT_EQ(Replies(), before + 2);
    std::lock_guard<std::mutex> lock(m_mutex);
    EXPECT_EQ(m_replies.back(), FromHex("00 00 00 00 00 00 00 01 55"));
}

TEST_F(EmulatorTest, EveryControlLineIsAnswered) {
    const struct {
        const char* line;
        const char* answer;
    } cases[] = {
        {"status", "ok"},
        {"place blank", "ok"},
        {"place user 000777 271231 0000000000000001", "ok"},
        {"place user 77 271231 0000000000000001", "error: place user CARDNO YYMMDD RIGHTS16"},
        {"fault silent", "ok"},
        {"fault reply AA 03 A1 01 55", "ok"},
        {"fault reply", "error: fault reply HEX..."},
        {"fault reply AA zz", "error: fault reply HEX..."},
        {"fault never", "error: unknown fault: never"},
        {"juggle", "error: unknown control line: juggle"},
        {"remove", "ok"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(emulator.Control(c.line), std::string(c.answer) == "ok") << c.line;
        EXPECT_EQ(emulator.lastAnswer(), c.answer) << c.line;
    }
    // Refused lines changed nothing: the next reply is the one set by the last good "fault".
    EXPECT_EQ(Exchange(BuildReadCardFrame(kPassword)), FromHex("AA 03 A1 01 55"));
}

}  // namespace
