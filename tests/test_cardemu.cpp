// The card-reader emulator answers every command like a device, over a real pseudo-terminal
// opened through the program's own serial link.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "TestUtil.h"
#include "protocol/Frame.h"
#include "protocol/Reply.h"
#include "serial/ComPort.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;

const std::string kPassword = "5820463917";

class EmulatorTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(emulator.ready());
        ASSERT_TRUE(port.OpenPort(dir / "COM1"));
        ASSERT_TRUE(port.StartReader(replies));
    }
    // Sends a frame and returns the next reply ("" when none comes within the deadline).
    std::string Exchange(const Frame& frame, std::chrono::milliseconds wait = 5000ms) {
        const size_t before = replies.Count();
        replies.GiveGoAhead();
        port.WritePort(frame.data(), frame.size());
        if (!replies.WaitFor(before + 1, wait)) {
            return "";
        }
        return replies.At(before);
    }
    size_t Replies() { return replies.Count(); }

    TempDir dir;
    CardEmulator emulator{CARDEMU, dir / "COM1"};
    // Every burst, with the go-ahead given at once; declared before the port, which cancels it.
    RecordingSink replies;
    CComPort port;
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
    ASSERT_TRUE(emulator.Control("remove"));
    EXPECT_EQ(Exchange(BuildSetTimeFrame({{2026, 3, 9}, 14, 5}, kPassword)), Fail(CMD_SET_TIME));
    ASSERT_TRUE(emulator.Control("place user 000777 271231 0000000000000001"));
    EXPECT_EQ(Exchange(BuildReadCardFrame(kPassword)),
              FromHex("AA 10 A2 00 07 77 27 12 31 00 00 00 00 00 00 00 01 55"));

    ASSERT_TRUE(emulator.Control("fault fail"));
    EXPECT_EQ(Exchange(BuildReadCardFrame(kPassword)), Fail(CMD_READ_CARD));
    ASSERT_TRUE(emulator.Control("fault silent"));
    EXPECT_EQ(Exchange(BuildReadCardFrame(kPassword), 300ms), "");
    ASSERT_TRUE(emulator.Control("fault garbage"));
    const std::string garbage = Exchange(BuildReadCardFrame(kPassword));
    uint8_t buffer[kReplyBufferSize] = {};
    std::memcpy(buffer, garbage.data(), garbage.size());
    EXPECT_NE(CheckReply(buffer, static_cast<uint32_t>(garbage.size())).format, ReplyFormat::Valid);
    ASSERT_TRUE(emulator.Control("fault long"));
    EXPECT_EQ(Exchange(BuildReadCardFrame(kPassword)).size(), 100u);  // 150 sent, 100 kept
    ASSERT_TRUE(emulator.Control("fault split"));
    const size_t before = Replies();
    const std::string first = Exchange(BuildReadCardFrame(kPassword));
    EXPECT_EQ(first, FromHex("AA 10 A2 00 07 77 27 12 31"));
    ASSERT_TRUE(replies.WaitFor(before + 2));
    ASSERT_EQ(Replies(), before + 2);
    EXPECT_EQ(replies.At(before + 1), FromHex("00 00 00 00 00 00 00 01 55"));
}

TEST_F(EmulatorTest, ModesAnswerEveryReplyInTwoPiecesOrNotAtAll) {
    ASSERT_TRUE(emulator.Control("place user 000777 271231 0000000000000001"));
    const std::string whole = FromHex("AA 10 A2 00 07 77 27 12 31 00 00 00 00 00 00 00 01 55");
    ASSERT_TRUE(emulator.Control("mode split 300"));
    ASSERT_TRUE(emulator.Control("place user 000777 271231 0000000000000001"));  // mode stays
    for (int round = 0; round < 2; ++round) {
        const size_t before = Replies();
        EXPECT_EQ(Exchange(BuildReadCardFrame(kPassword)), whole.substr(0, 9)) << round;
        ASSERT_TRUE(replies.WaitFor(before + 2)) << round;
        EXPECT_EQ(replies.At(before + 1), whole.substr(9)) << round;
    }
    // A fault armed for the next reply goes first; the mode holds after it.
    ASSERT_TRUE(emulator.Control("fault fail"));
    EXPECT_EQ(Exchange(BuildReadCardFrame(kPassword)), Fail(CMD_READ_CARD));
    ASSERT_TRUE(emulator.Control("mode silent"));
    EXPECT_EQ(Exchange(BuildReadCardFrame(kPassword), 300ms), "");
    EXPECT_EQ(Exchange(BuildExtendFrame({2030, 1, 1}, kPassword), 300ms), "");
    ASSERT_TRUE(emulator.Control("mode normal"));
    // The silent extension was carried out all the same, as a device that lost its answer.
    EXPECT_EQ(Exchange(BuildReadCardFrame(kPassword)),
              FromHex("AA 10 A2 00 07 77 30 01 01 00 00 00 00 00 00 00 01 55"));
    // Without a pause the pieces may come as one burst; together they are the reply.
    ASSERT_TRUE(emulator.Control("fault split 0"));
    const size_t before = Replies();
    std::string joined = Exchange(BuildReadCardFrame(kPassword));
    if (joined.size() < whole.size() && replies.WaitFor(before + 2)) {
        joined += replies.At(before + 1);
    }
    EXPECT_EQ(joined, FromHex("AA 10 A2 00 07 77 30 01 01 00 00 00 00 00 00 00 01 55"));
    for (const char* refused :
         {"mode", "mode split", "mode split -1", "mode split 60001", "mode split 1x",
          "mode silent 5", "mode loud", "fault split 1x", "fault split 1 2"}) {
        EXPECT_FALSE(emulator.Control(refused)) << refused;
        EXPECT_EQ(emulator.lastAnswer().rfind("error: ", 0), 0u) << refused;
    }
}

TEST(EmulatorOptions, WrongOptionsAreRefused) {
    TempDir dir;
    for (const std::vector<std::string>& options : {std::vector<std::string>{"--split"},
                                                    {"--split", "soon"},
                                                    {"--split", "70000"},
                                                    {"--loud"},
                                                    {"--password"}}) {
        std::vector<std::string> argv{CARDEMU, dir / "COM1"};
        argv.insert(argv.end(), options.begin(), options.end());
        const ProcessResult result = RunProgram(argv);
        EXPECT_EQ(result.exitCode, 2) << options[0];
        EXPECT_NE(result.err.find("usage: cardemu LINK"), std::string::npos) << result.err;
        EXPECT_FALSE(FileExists(dir / "COM1"));
    }
    const ProcessResult help = RunProgram({CARDEMU, "--help"});
    EXPECT_NE(help.out.find("--split MS"), std::string::npos);
    EXPECT_NE(help.out.find("--silent"), std::string::npos);
}

TEST_F(EmulatorTest, ControlLinesAreAnsweredAndRefusedOnesChangeNothing) {
    ASSERT_TRUE(emulator.Control("place user 000777 271231 0000000000000001"));
    EXPECT_EQ(emulator.lastAnswer(), "ok");
    const struct {
        const char* line;
        bool taken;
    } cases[] = {
        {"status", true},
        {"", true},
        {"   ", true},
        {"juggle", false},
        {"quit now", false},
        {"status please", false},
        {"remove now", false},
        {"place", false},
        {"place card", false},
        {"place blank please", false},
        {"place user", false},
        {"place user 00777 271231 0000000000000001", false},     // 5 digits
        {"place user 0007A7 271231 0000000000000001", false},    // not a digit
        {"place user 000778 2712 0000000000000001", false},      // short date
        {"place user 000778 271231 000000000000001", false},     // 15 doors
        {"place user 000778 271231 00000000000000011", false},   // 17 doors
        {"place user 000778 271231 0000000000000002", false},    // not 0 or 1
        {"place user 000778 271231 0000000000000001 x", false},  // one word more
        {"fault", false},
        {"fault never", false},
        {"fault fail now", false},
        {"fault reply", false},
        {"fault reply AA zz 55", false},
        {"fault reply AA 123 55", false},
        {"fault reply AA 0x3 55", false},
        {"fault reply AA 3 55", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(emulator.Control(c.line), c.taken) << '"' << c.line << '"';
        if (c.taken) {
            EXPECT_EQ(emulator.lastAnswer(), "ok") << c.line;
        } else {
            EXPECT_EQ(emulator.lastAnswer().rfind("error: ", 0), 0u)
                << c.line << " -> " << emulator.lastAnswer();
            EXPECT_GT(emulator.lastAnswer().size(), std::strlen("error: ")) << c.line;
        }
    }
    // Still the card placed first, and no fault armed.
    EXPECT_EQ(Exchange(BuildReadCardFrame(kPassword)),
              FromHex("AA 10 A2 00 07 77 27 12 31 00 00 00 00 00 00 00 01 55"));

    ASSERT_TRUE(emulator.Control("fault reply aa 03 A1 01 55"));
    EXPECT_EQ(Exchange(BuildReadCardFrame(kPassword)), FromHex("AA 03 A1 01 55"));
    ASSERT_TRUE(emulator.Control("remove"));
    EXPECT_EQ(Exchange(BuildReadCardFrame(kPassword)), Fail(CMD_READ_CARD));
    // "quit" is answered too, and the emulator ends.
    EXPECT_TRUE(emulator.Control("quit"));
    EXPECT_FALSE(emulator.Control("status"));
    EXPECT_EQ(emulator.lastAnswer(), "");
}

// An emulator whose standard output nobody reads goes on taking control lines and frames.
TEST(EmulatorOutput, NobodyReadingTheAnswersBlocksNothing) {
    enum class Output { ReaderGone, NeverRead, Closed };
    const struct {
        const char* name;
        Output output;
    } cases[] = {
        {"the reader has closed the pipe", Output::ReaderGone},
        {"a small pipe that nobody reads", Output::NeverRead},
        {"standard output closed", Output::Closed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        int control[2];
        int out[2];
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, control), 0);
        ASSERT_EQ(::pipe2(out, O_CLOEXEC), 0);
        ASSERT_GE(::fcntl(out[0], F_SETPIPE_SZ, 4096), 4096);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, control[1], 0);
        if (c.output == Output::Closed) {
            posix_spawn_file_actions_addclose(&actions, 1);
        } else {
            posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        }
        const std::string log = dir / "cardemu.log";
        posix_spawn_file_actions_addopen(&actions, 2, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        std::string program = CARDEMU;
        std::string link = dir / "COM1";
        char* argv[] = {program.data(), link.data(), nullptr};
        pid_t pid = -1;
        ASSERT_EQ(::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        ::close(control[1]);
        ::close(out[1]);
        if (c.output != Output::NeverRead) {
            ::close(out[0]);
        }

        // Far more answers than the pipe holds, then a card to find.
        std::string lines;
        for (int i = 0; i < 3000; ++i) {
            lines += "status\n";
        }
        lines += "place user 000777 271231 0000000000000001\n";
        EXPECT_EQ(::send(control[0], lines.data(), lines.size(), MSG_NOSIGNAL),
                  static_cast<ssize_t>(lines.size()));
        bool placed = false;
        for (int i = 0; i < 1000 && !placed; ++i) {
            placed = ReadFile(log).find("cardemu: card user") != std::string::npos;
            std::this_thread::sleep_for(10ms);
        }
        EXPECT_TRUE(placed);

        // The device answers, with nothing of the control answers among its bytes.
        const std::string expected =
            FromHex("AA 10 A2 00 07 77 27 12 31 00 00 00 00 00 00 00 01 55");
        const int device = ::open(link.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        ASSERT_GE(device, 0);
        termios raw{};
        ::tcgetattr(device, &raw);
        ::cfmakeraw(&raw);
        ::tcsetattr(device, TCSANOW, &raw);
        const Frame frame = BuildReadCardFrame(kPassword);
        EXPECT_EQ(::write(device, frame.data(), frame.size()), static_cast<ssize_t>(frame.size()));
        std::string reply;
        for (int i = 0; i < 500 && reply.size() < expected.size(); ++i) {
            pollfd fd{device, POLLIN, 0};
            char buffer[256];
            if (::poll(&fd, 1, 10) > 0) {
                const ssize_t n = ::read(device, buffer, sizeof buffer);
                reply.append(buffer, n > 0 ? static_cast<size_t>(n) : 0);
            }
        }
        EXPECT_TRUE(SameBytes(reply, expected));
        ::close(device);

        [[maybe_unused]] const ssize_t sent = ::send(control[0], "quit\n", 5, MSG_NOSIGNAL);
        ::close(control[0]);
        int status = 0;
        bool ended = false;
        for (int i = 0; i < 500 && !ended; ++i) {
            ended = ::waitpid(pid, &status, WNOHANG) == pid;
            std::this_thread::sleep_for(10ms);
        }
        if (!ended) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
        }
        EXPECT_TRUE(ended && WIFEXITED(status) && WEXITSTATUS(status) == 0);
        if (c.output == Output::NeverRead) {
            ::close(out[0]);
        }
    }
}

}  // namespace
