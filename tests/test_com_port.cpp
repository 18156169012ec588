// The serial link against a real pseudo-terminal: the test plays the device on the master
// side, the port opens the slave side.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "TestUtil.h"
#include "base/PosixIo.h"
#include "serial/ComPort.h"

namespace {

using namespace std::chrono_literals;

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
    void Start(RecordingSink& sink) { ASSERT_TRUE(port.StartReader(sink)); }
    PseudoTerminal pty;
    // Declared before the port: the port's destructor cancels the sinks it was started with.
    RecordingSink sink;
    RecordingSink parkedSink{/*giveGoAhead=*/false};
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

// (That the reply holds zeros after the burst is the hand-off's work now: test_reply_handoff.)
TEST_F(ComPortTest, EachBurstIsOneDeliveryOfExactlyItsBytes) {
    Start(sink);
    const size_t sizes[] = {1, 5, 39, 40, 41, 80, 99, 100};
    size_t expected = 0;
    for (const size_t n : sizes) {
        const auto bytes = Pattern(n, static_cast<uint8_t>(n));
        pty.Send(bytes);
        ASSERT_TRUE(sink.WaitFor(++expected)) << n;
        const std::string r = sink.At(expected - 1);
        EXPECT_EQ(r.size(), n);
        EXPECT_EQ(r, std::string(bytes.begin(), bytes.end())) << n;
    }
    // After every delivery the reader asked for the go-ahead before reading on.
    ASSERT_TRUE(sink.WaitForGoAheadWait(expected));
    EXPECT_EQ(sink.Count(), expected);
}

TEST_F(ComPortTest, MoreThan100BytesKeepsTheFirst100) {
    Start(sink);
    const auto bytes = Pattern(150, 3);
    pty.Send(bytes);
    ASSERT_TRUE(sink.WaitFor(1));
    const std::string r = sink.At(0);
    EXPECT_EQ(r.size(), 100u);
    EXPECT_EQ(r, std::string(bytes.begin(), bytes.begin() + 100));
    // The line is still usable: the next reply comes whole.
    pty.Send({0xAA, 0x03, 0xA1, 0x01, 0x55});
    ASSERT_TRUE(sink.WaitFor(2));
    EXPECT_EQ(sink.At(sink.Count() - 1).size(), 5u);
}

TEST_F(ComPortTest, AReplyInTwoBurstsIsTwoReplies) {
    Start(sink);
    pty.Send({0xAA, 0x10, 0xA2});
    ASSERT_TRUE(sink.WaitFor(1));
    pty.Send({0x00, 0x01, 0x23, 0x55});
    ASSERT_TRUE(sink.WaitFor(2));
    EXPECT_EQ(sink.At(0).size(), 3u);
    EXPECT_EQ(sink.At(1).size(), 4u);
    EXPECT_EQ(sink.At(1)[0], 0x00);
}

TEST_F(ComPortTest, WithoutGoAheadTheThreadStaysParked) {
    Start(parkedSink);
    pty.Send({0xAA, 0x03, 0xA1, 0x01, 0x55});
    ASSERT_TRUE(parkedSink.WaitFor(1));
    // The reader waits for the go-ahead, which nobody gives, before it reads the line again.
    ASSERT_TRUE(parkedSink.WaitForGoAheadWait(1));
    pty.Send({0xAA, 0x03, 0xA3, 0x01, 0x55});
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(parkedSink.Count(), 1u);  // parked: nobody gave the go-ahead
    // The next command written signals the go-ahead first, as every sender does.
    parkedSink.GiveGoAhead();
    const uint8_t command[] = {0xAA, 0x07, 0xA8, 0, 0, 0, 0, 0, 0x55};
    EXPECT_TRUE(port.WritePort(command, sizeof command));
    ASSERT_TRUE(parkedSink.WaitFor(2));
    EXPECT_EQ(parkedSink.At(1)[2], '\xA3');
    uint8_t written[16] = {};
    EXPECT_EQ(::read(pty.master, written, sizeof written), 9);
    EXPECT_EQ(std::memcmp(written, command, sizeof command), 0);
}

TEST_F(ComPortTest, IdleLineWakesNobodyAndCloseEndsTheWait) {
    Start(sink);
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(port.WakeUps(), 0u);
    EXPECT_TRUE(port.ClosePort());
    EXPECT_FALSE(port.IsOpen());
    EXPECT_TRUE(port.ClosePort());
    EXPECT_EQ(sink.Cancels(), 1u);  // once, by the first close
}

TEST_F(ComPortTest, CloseReleasesAReaderWaitingForTheGoAhead) {
    Start(parkedSink);
    pty.Send({0xAA, 0x03, 0xA1, 0x01, 0x55});
    ASSERT_TRUE(parkedSink.WaitFor(1));
    ASSERT_TRUE(parkedSink.WaitForGoAheadWait(1));
    EXPECT_TRUE(port.ClosePort());  // returns: the cancel ends the wait for the go-ahead
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(parkedSink.Cancels(), 1u);
}

TEST_F(ComPortTest, CloseWhileRepliesKeepComing) {
    Start(sink);
    std::atomic<bool> stop{false};
    std::thread device([&] {
        const std::vector<uint8_t> reply = {0xAA, 0x03, 0xA1, 0x01, 0x55};
        while (!stop) {
            if (::write(pty.master, reply.data(), reply.size()) < 0) {
                std::this_thread::sleep_for(1ms);
            }
        }
    });
    ASSERT_TRUE(sink.WaitFor(3));
    EXPECT_TRUE(port.ClosePort());
    stop = true;
    device.join();
}

// A sink whose handler never finishes: only the cancel releases the reader.
class BusySink : public CReplySink {
public:
    void Deliver(const uint8_t*, uint32_t) override {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_bEntered = true;
        m_cv.notify_all();
        m_cv.wait(lock, [&] { return m_bCancelled; });
    }
    void WaitGoAhead() override {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_cv.wait(lock, [&] { return m_bCancelled; });
    }
    void Cancel() override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bCancelled = true;
        m_cv.notify_all();
    }
    bool WaitEntered() {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_cv.wait_for(lock, 10s, [&] { return m_bEntered; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_bEntered = false;
    bool m_bCancelled = false;
};

TEST_F(ComPortTest, CloseWhileTheReceiverIsBusyIsReleasedByTheCancel) {
    BusySink busy;
    ASSERT_TRUE(port.StartReader(busy));
    pty.Send({0xAA, 0x03, 0xA1, 0x01, 0x55});
    ASSERT_TRUE(busy.WaitEntered());
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
    RecordingSink sink;
    EXPECT_FALSE(port.StartReader(sink));
    EXPECT_TRUE(port.ClosePort());
    EXPECT_EQ(sink.Cancels(), 0u);  // never started, never cancelled
}

TEST_F(ComPortTest, OneReaderAtATime) {
    Start(sink);
    EXPECT_FALSE(port.StartReader(parkedSink));
    pty.Send({0xAA, 0x03, 0xA1, 0x01, 0x55});
    ASSERT_TRUE(sink.WaitFor(1));
    EXPECT_EQ(parkedSink.Count(), 0u);
}

TEST(ComPort, ReaderThreadThatCannotBeCreatedIsReported) {
    // A real refusal: an unprivileged process allowed no further threads (in a child).
    PseudoTerminal pty;
    RecordingSink sink;
    CComPort port;
    const int result = RunAsNobody(
        [&] {
            const rlimit none{1, 1};
            ::setrlimit(RLIMIT_NPROC, &none);
            const bool started = port.StartReader(sink);
            const bool stillWorks = !port.IsOpen() && port.ClosePort();
            return !started && stillWorks ? 0 : 1;
        },
        [&] { return port.OpenPort(pty.slave) ? 0 : 3; });
    if (result == kCannotSwitchUser) {
        GTEST_SKIP() << "cannot switch to an unprivileged user here";
    }
    EXPECT_EQ(result, 0);
}

TEST(ComPort, CloseGivesUpTheExclusiveUse) {
    // Another holder of the line, as the emulator keeps its end of the pseudo-terminal open:
    // without it the flag would go with the last descriptor anyway.
    PseudoTerminal pty;
    const int keep = ::open(pty.slave.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(keep, 0);
    CComPort port;
    ASSERT_TRUE(port.OpenPort(pty.slave));
    int exclusive = 0;
    ASSERT_EQ(::ioctl(keep, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 1);
    EXPECT_TRUE(port.ClosePort());
    ASSERT_EQ(::ioctl(keep, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0);
    // The next start (an unprivileged program would be refused with EBUSY otherwise).
    EXPECT_TRUE(port.OpenPort(pty.slave));
    EXPECT_TRUE(port.ClosePort());
    ::close(keep);
}

// A recording sink that also counts the hang-ups and resumes the reader reports.
class LineSink : public RecordingSink {
public:
    void LineGone() override {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_nGone;
        m_cv.notify_all();
    }
    void Resume() override { ++m_nResumes; }
    bool WaitGone() {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_cv.wait_for(lock, 10s, [&] { return m_nGone > 0; });
    }
    size_t Gone() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_nGone;
    }
    std::atomic<size_t> m_nResumes{0};

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    size_t m_nGone = 0;
};

TEST(ComPort, HangUpIsReportedOnceAndTheNextDeviceOpens) {
    auto pty = std::make_unique<PseudoTerminal>();
    LineSink sink;
    CComPort port;
    ASSERT_TRUE(port.OpenPort(pty->slave));
    ASSERT_TRUE(port.StartReader(sink));
    EXPECT_EQ(sink.m_nResumes.load(), 1u);
    pty->Send({0xAA, 0x03, 0xA1, 0x01, 0x55});
    ASSERT_TRUE(sink.WaitFor(1));
    pty.reset();  // the device side goes away: the line hangs up
    ASSERT_TRUE(sink.WaitGone());
    EXPECT_TRUE(port.LineGone());
    EXPECT_TRUE(port.IsOpen());  // until the owner closes it
    // The reader has ended: it neither spins nor reports again.
    std::this_thread::sleep_for(300ms);
    EXPECT_LE(port.WakeUps(), 3u);
    EXPECT_EQ(sink.Gone(), 1u);
    const uint8_t byte = 0;
    EXPECT_FALSE(port.WritePort(&byte, 1));
    EXPECT_TRUE(port.ClosePort());
    EXPECT_FALSE(port.LineGone());

    // The device is back (another pseudo-terminal): the same port and sink work again.
    PseudoTerminal next;
    ASSERT_TRUE(port.OpenPort(next.slave));
    ASSERT_TRUE(port.StartReader(sink));
    EXPECT_EQ(sink.m_nResumes.load(), 2u);
    next.Send({0xAA, 0x03, 0xA3, 0x01, 0x55});
    ASSERT_TRUE(sink.WaitFor(2));
    EXPECT_EQ(sink.At(1), FromHex("AA 03 A3 01 55"));
    EXPECT_FALSE(port.LineGone());
    EXPECT_TRUE(port.ClosePort());
    EXPECT_EQ(sink.Gone(), 1u);  // a close is no hang-up
}

TEST(ComPort, AFailedCloseIsReportedAndThePortIsClosedAnyway) {
    PseudoTerminal pty;
    RecordingSink sink;
    CComPort port;
    ASSERT_TRUE(port.OpenPort(pty.slave));
    ASSERT_TRUE(port.StartReader(sink));
    {
        ScopedIoOverride io;
        FailNextCloseOf(port.Descriptor());
        EXPECT_FALSE(port.ClosePort());
    }
    EXPECT_EQ(port.CloseError(), EIO);
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(port.Descriptor(), -1);
    EXPECT_TRUE(port.ClosePort());  // nothing left to close
    ASSERT_TRUE(port.OpenPort(pty.slave));
    EXPECT_TRUE(port.ClosePort());
    EXPECT_EQ(port.CloseError(), 0);
}

TEST(ComPort, OpenErrorSaysWhy) {
    CComPort port;
    EXPECT_FALSE(port.OpenPort("/nonexistent/COM1"));
    EXPECT_EQ(port.OpenError(), ENOENT);
    EXPECT_FALSE(port.OpenPort("/dev/null"));
    EXPECT_EQ(port.OpenError(), ENOTTY);
}

TEST(ComPort, APortHeldElsewhereIsBusyUntilItIsClosed) {
    // Also for root, whom the terminal's exclusive flag does not stop.
    PseudoTerminal pty;
    CComPort first;
    CComPort second;
    ASSERT_TRUE(first.OpenPort(pty.slave));
    EXPECT_FALSE(second.OpenPort(pty.slave));
    EXPECT_EQ(second.OpenError(), EBUSY);
    EXPECT_EQ(second.Descriptor(), -1);
    // A program that locks the port the same way is refused too, and waits for none.
    const int other = ::open(pty.slave.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (other >= 0) {  // an unprivileged user is refused already by the exclusive flag
        EXPECT_NE(::flock(other, LOCK_EX | LOCK_NB), 0);
        ::close(other);
    }
    EXPECT_TRUE(first.ClosePort());
    EXPECT_TRUE(second.OpenPort(pty.slave));
    EXPECT_EQ(second.OpenError(), 0);
    EXPECT_FALSE(first.OpenPort(pty.slave));
    EXPECT_EQ(first.OpenError(), EBUSY);
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
