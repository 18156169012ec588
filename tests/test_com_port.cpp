// The serial link against a real pseudo-terminal: the test plays the device on the master
// side, the port opens the slave side.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "TestUtil.h"
#include "serial/ComPort.h"

namespace {

using namespace std::chrono_literals;

// Records every delivered reply; optionally hands back the go-ahead like a window does.
class Receiver {
public:
    explicit Receiver(CComPort& port, bool signalGoAhead = true)
        : m_port(port), m_bSignal(signalGoAhead) {}

    void operator()(CardReply& reply) {
        CardReply copy;
        {
            std::lock_guard<std::mutex> lock(m_port.ReplyLock());
            copy.dwCount = reply.dwCount;
            std::memcpy(copy.data, reply.data, sizeof copy.data);
        }
        if (m_bSignal) {
            m_port.GoAhead().Set();
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        m_replies.push_back(copy);
        m_cv.notify_all();
    }
    // Waits until `n` replies have come (a deadline only against a hang).
    bool WaitFor(size_t n) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_cv.wait_for(lock, 10s, [&] { return m_replies.size() >= n; });
    }
    size_t Count() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_replies.size();
    }
    CardReply At(size_t i) {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_replies.at(i);
    }

private:
    CComPort& m_port;
    bool m_bSignal;
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::vector<CardReply> m_replies;
};

std::vector<uint8_t> Pattern(size_t n, uint8_t seed) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) {
        v[i] = static_cast<uint8_t>(seed + i * 7 + 1);
    }
    return v;
}

class ComPortTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(pty.slave.empty());
        ASSERT_TRUE(port.OpenPort(pty.slave));
    }
    void Start(Receiver& receiver) {
        ASSERT_TRUE(port.StartReader([&receiver](CardReply& r) { receiver(r); }, nullptr));
    }
    PseudoTerminal pty;
    CComPort port;
};

TEST_F(ComPortTest, LineSettings) {
    termios t{};
    ASSERT_EQ(::tcgetattr(port.Descriptor(), &t), 0);
    EXPECT_EQ(::cfgetispeed(&t), B57600);
    EXPECT_EQ(::cfgetospeed(&t), B57600);
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(t.c_cflag & (CREAD | CLOCAL), static_cast<tcflag_t>(CREAD | CLOCAL));
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF | IXANY | ICRNL | ISTRIP), 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    // Opened exclusively (root may still open it, so the flag itself is checked).
    int exclusive = 0;
    ASSERT_EQ(::ioctl(port.Descriptor(), TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 1);
}

TEST_F(ComPortTest, EachBurstIsOneReplyWithZerosAfter) {
    Receiver receiver(port);
    Start(receiver);
    const size_t sizes[] = {1, 5, 39, 40, 41, 80, 99, 100};
    size_t expected = 0;
    for (const size_t n : sizes) {
        const auto bytes = Pattern(n, static_cast<uint8_t>(n));
        pty.Send(bytes);
        ASSERT_TRUE(receiver.WaitFor(++expected)) << n;
        const CardReply r = receiver.At(expected - 1);
        EXPECT_EQ(r.dwCount, n);
        EXPECT_EQ(std::memcmp(r.data, bytes.data(), n), 0) << n;
        for (size_t i = n; i < kReplyBufferSize; ++i) {
            ASSERT_EQ(r.data[i], 0) << n << " at " << i;
        }
    }
}

TEST_F(ComPortTest, MoreThan100BytesKeepsTheFirst100) {
    Receiver receiver(port);
    Start(receiver);
    const auto bytes = Pattern(150, 3);
    pty.Send(bytes);
    ASSERT_TRUE(receiver.WaitFor(1));
    const CardReply r = receiver.At(0);
    EXPECT_EQ(r.dwCount, 100u);
    EXPECT_EQ(std::memcmp(r.data, bytes.data(), 100), 0);
    // The line is still usable: the next reply comes whole.
    pty.Send({0xAA, 0x03, 0xA1, 0x01, 0x55});
    ASSERT_TRUE(receiver.WaitFor(2));
    EXPECT_EQ(receiver.At(receiver.Count() - 1).dwCount, 5u);
}

TEST_F(ComPortTest, AReplyInTwoBurstsIsTwoReplies) {
    Receiver receiver(port);
    Start(receiver);
    pty.Send({0xAA, 0x10, 0xA2});
    ASSERT_TRUE(receiver.WaitFor(1));
    pty.Send({0x00, 0x01, 0x23, 0x55});
    ASSERT_TRUE(receiver.WaitFor(2));
    EXPECT_EQ(receiver.At(0).dwCount, 3u);
    EXPECT_EQ(receiver.At(1).dwCount, 4u);
    EXPECT_EQ(receiver.At(1).data[0], 0x00);
}

TEST_F(ComPortTest, WithoutGoAheadTheThreadStaysParked) {
    Receiver receiver(port, /*signalGoAhead=*/false);
    Start(receiver);
    pty.Send({0xAA, 0x03, 0xA1, 0x01, 0x55});
    ASSERT_TRUE(receiver.WaitFor(1));
    pty.Send({0xAA, 0x03, 0xA3, 0x01, 0x55});
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(receiver.Count(), 1u);  // parked: nobody gave the go-ahead
    // The next command written signals the go-ahead first, as every sender does.
    port.GoAhead().Set();
    const uint8_t command[] = {0xAA, 0x07, 0xA8, 0, 0, 0, 0, 0, 0x55};
    EXPECT_TRUE(port.WritePort(command, sizeof command));
    ASSERT_TRUE(receiver.WaitFor(2));
    EXPECT_EQ(receiver.At(1).data[2], 0xA3);
    uint8_t written[16] = {};
    EXPECT_EQ(::read(pty.master, written, sizeof written), 9);
    EXPECT_EQ(std::memcmp(written, command, sizeof command), 0);
}

TEST_F(ComPortTest, IdleLineWakesNobodyAndCloseEndsTheWait) {
    Receiver receiver(port);
    Start(receiver);
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(port.WakeUps(), 0u);
    EXPECT_TRUE(port.ClosePort());
    EXPECT_FALSE(port.IsOpen());
    EXPECT_TRUE(port.ClosePort());
}

TEST_F(ComPortTest, CloseWhileRepliesKeepComing) {
    Receiver receiver(port);
    Start(receiver);
    std::atomic<bool> stop{false};
    std::thread device([&] {
        const std::vector<uint8_t> reply = {0xAA, 0x03, 0xA1, 0x01, 0x55};
        while (!stop) {
            if (::write(pty.master, reply.data(), reply.size()) < 0) {
                std::this_thread::sleep_for(1ms);
            }
        }
    });
    ASSERT_TRUE(receiver.WaitFor(3));
    EXPECT_TRUE(port.ClosePort());
    stop = true;
    device.join();
}

TEST_F(ComPortTest, CloseWhileTheReceiverIsBusyIsReleasedByTheCancelHook) {
    std::mutex m;
    std::condition_variable cv;
    bool entered = false;
    bool cancelled = false;
    ASSERT_TRUE(port.StartReader(
        [&](CardReply&) {
            std::unique_lock<std::mutex> lock(m);
            entered = true;
            cv.notify_all();
            cv.wait(lock, [&] { return cancelled; });  // a handler that never finishes
        },
        [&] {
            std::lock_guard<std::mutex> lock(m);
            cancelled = true;
            cv.notify_all();
        }));
    pty.Send({0xAA, 0x03, 0xA1, 0x01, 0x55});
    {
        std::unique_lock<std::mutex> lock(m);
        ASSERT_TRUE(cv.wait_for(lock, 10s, [&] { return entered; }));
    }
    EXPECT_TRUE(port.ClosePort());
}

TEST(ComPort, OpenFailuresAndUnopenedPort) {
    CComPort port;
    EXPECT_TRUE(port.ClosePort());
    const uint8_t byte = 0;
    EXPECT_FALSE(port.WritePort(&byte, 1));
    EXPECT_EQ(port.ReadPort(nullptr), 0u);
    EXPECT_FALSE(port.OpenPort("/nonexistent/COM1"));
    EXPECT_FALSE(port.OpenPort("/dev/null"));  // not a terminal: cannot be configured
    EXPECT_FALSE(port.StartReader(nullptr, nullptr));
}

TEST(ComPort, ReaderThreadThatCannotBeCreatedIsReported) {
    // A real refusal: an unprivileged process allowed no further threads (in a child).
    PseudoTerminal pty;
    CComPort port;
    const int result = RunAsNobody(
        [&] {
            const rlimit none{1, 1};
            ::setrlimit(RLIMIT_NPROC, &none);
            const bool started = port.StartReader([](CardReply&) {}, nullptr);
            const bool stillWorks = !port.IsOpen() && port.ClosePort();
            return !started && stillWorks ? 0 : 1;
        },
        [&] { return port.OpenPort(pty.slave) ? 0 : 3; });
    if (result == kCannotSwitchUser) {
        GTEST_SKIP() << "cannot switch to an unprivileged user here";
    }
    EXPECT_EQ(result, 0);
}

TEST(ComPort, HangUpOfTheDeviceDoesNotSpin) {
    auto* pty = new PseudoTerminal;
    CComPort port;
    ASSERT_TRUE(port.OpenPort(pty->slave));
    ASSERT_TRUE(port.StartReader([](CardReply&) {}, nullptr));
    delete pty;  // the device side goes away
    std::this_thread::sleep_for(300ms);
    EXPECT_LE(port.WakeUps(), 2u);
    EXPECT_TRUE(port.ClosePort());
}

}  // namespace

#include <sys/stat.h>

#include "serial/PortName.h"

namespace {

TEST(PortName, EntryBesideTheProgramFirstThenTtyS) {
    TempDir dir;
    ASSERT_EQ(::symlink("/dev/ttyUSB0", (dir / "COM3").c_str()), 0);
    ASSERT_EQ(::symlink("/dev/ttyACM0", (dir / "COM12").c_str()), 0);
    const std::pair<int, std::string> cases[] = {
        {3, dir / "COM3"},   {12, dir / "COM12"}, {1, "/dev/ttyS0"},   {4, "/dev/ttyS3"},
        {99, "/dev/ttyS98"}, {0, dir / "COM0"},   {-1, dir / "COM-1"},
    };
    for (const auto& [port, device] : cases) {
        EXPECT_EQ(ResolveComDevice(dir.path(), port), device) << port;
    }
}

}  // namespace
