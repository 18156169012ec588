// The reply hand-off: the reply, its lock, the go-ahead and the receiver slot, between the
// port's reader thread (over a real pseudo-terminal, or a test thread playing it) and the
// user-interface thread.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QThread>
#include <QWidget>
#include <QtTest/QTest>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "TestUtil.h"
#include "app/MessageBox.h"
#include "app/ReplyHandoff.h"
#include "protocol/Frame.h"
#include "serial/ComPort.h"

namespace {

class Receiver : public CReplyReceiver {
public:
    void OnCardReply(const CardReply& reply) override { replies.push_back(reply); }
    void OnNoReply() override { ++noReplies; }
    std::vector<CardReply> replies;
    int noReplies = 0;
};

// A window that takes replies and keeps the default for a reply that does not come.
class WindowReceiver : public QWidget, public CReplyReceiver {
public:
    void OnCardReply(const CardReply&) override {}
};

std::string Bytes(const CardReply& reply) {
    return std::string(reply.data, reply.data + reply.dwCount);
}

std::vector<uint8_t> Pattern(size_t n, uint8_t seed) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) {
        v[i] = static_cast<uint8_t>(seed + i * 7 + 1);
    }
    return v;
}

// Waits until `done` holds without handling any event of the user-interface thread, so that a
// notification posted meanwhile stays queued (a deadline only against a hang).
template <typename Done>
bool WaitWithoutEvents(Done done) {
    for (int i = 0; i < 10000; ++i) {
        if (done()) {
            return true;
        }
        ::usleep(1000);
    }
    return done();
}

// The program's route: the port's reader thread hands bursts to the hand-off, whose receiver
// slot holds `receiver`.
class ReplyHandoffTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(pty.slave.empty());
        ASSERT_TRUE(port.OpenPort(pty.slave));
        ASSERT_TRUE(port.StartReader(handoff));
        handoff.SetReceiver(&receiver);
    }
    PseudoTerminal pty;
    CComPort port;
    Receiver receiver;
    CReplyHandoff handoff{port};  // closes the port when it goes
};

TEST_F(ReplyHandoffTest, EachReplyReachesTheReceiverOnceWithZerosAfter) {
    const auto longer = Pattern(100, 9);
    pty.Send(longer);
    ASSERT_TRUE(QTest::qWaitFor([&] { return receiver.replies.size() == 1; }, 10000));
    EXPECT_EQ(Bytes(receiver.replies[0]), std::string(longer.begin(), longer.end()));
    // No frame written: the receiver's taking the reply gave the go-ahead. The shorter reply
    // in the same buffer leaves nothing of the longer one.
    pty.Send({0xAA, 0x03, 0xA1, 0x01, 0x55});
    ASSERT_TRUE(QTest::qWaitFor([&] { return receiver.replies.size() == 2; }, 10000));
    const CardReply& shorter = receiver.replies[1];
    EXPECT_EQ(Bytes(shorter), FromHex("AA 03 A1 01 55"));
    for (size_t i = 5; i < kReplyBufferSize; ++i) {
        ASSERT_EQ(shorter.data[i], 0) << i;
    }
    EXPECT_EQ(receiver.replies.size(), 2u);
    EXPECT_EQ(handoff.Posted(), 2u);
    EXPECT_EQ(handoff.Handled(), 2u);
}

TEST_F(ReplyHandoffTest, WithoutAReceiverTheReaderWaitsForTheNextWrite) {
    handoff.ReleaseReceiver(&receiver);
    pty.Send({0xAA, 0x03, 0xA1, 0x01, 0x55});
    ASSERT_TRUE(QTest::qWaitFor([&] { return handoff.Handled() == 1; }, 10000));
    handoff.SetReceiver(&receiver);
    pty.Send({0xAA, 0x03, 0xA3, 0x01, 0x55});
    QTest::qWait(200);
    EXPECT_EQ(handoff.Posted(), 1u);  // parked: nobody took the first reply
    EXPECT_TRUE(receiver.replies.empty());

    const Frame frame = BuildReadSettingsFrame();
    EXPECT_TRUE(handoff.Write(frame));
    ASSERT_TRUE(QTest::qWaitFor([&] { return receiver.replies.size() == 1; }, 10000));
    EXPECT_EQ(Bytes(receiver.replies[0]), FromHex("AA 03 A3 01 55"));
    std::string written;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            written += pty.Received();
            return written.size() >= frame.size();
        },
        10000));
    EXPECT_EQ(written, std::string(frame.begin(), frame.end()));
}

TEST_F(ReplyHandoffTest, AReceiverReleasedWhileTheReplyIsQueuedGetsNothing) {
    pty.Send({0xAA, 0x03, 0xA1, 0x01, 0x55});
    ASSERT_TRUE(WaitWithoutEvents([&] { return handoff.Posted() == 1; }));
    handoff.ReleaseReceiver(&receiver);
    ASSERT_TRUE(QTest::qWaitFor([&] { return handoff.Handled() == 1; }, 10000));
    EXPECT_TRUE(receiver.replies.empty());
    EXPECT_EQ(handoff.Receiver(), nullptr);
}

TEST_F(ReplyHandoffTest, ReleaseEmptiesTheSlotOnlyForItsReceiver) {
    Receiver other;
    handoff.ReleaseReceiver(&other);
    EXPECT_EQ(handoff.Receiver(), &receiver);
    handoff.SetReceiver(&other);
    handoff.ReleaseReceiver(&receiver);
    EXPECT_EQ(handoff.Receiver(), &other);
    handoff.ReleaseReceiver(&other);
    EXPECT_EQ(handoff.Receiver(), nullptr);

    // A receiver that has gone is in no slot, and a reply then reaches nobody.
    auto gone = std::make_unique<Receiver>();
    handoff.SetReceiver(gone.get());
    EXPECT_EQ(handoff.Receiver(), gone.get());
    gone.reset();
    EXPECT_EQ(handoff.Receiver(), nullptr);
    pty.Send({0xAA, 0x03, 0xA1, 0x01, 0x55});
    ASSERT_TRUE(QTest::qWaitFor([&] { return handoff.Handled() == 1; }, 10000));
}

TEST_F(ReplyHandoffTest, CloseReleasesTheReaderAndDropsTheQueuedNotification) {
    pty.Send({0xAA, 0x03, 0xA1, 0x01, 0x55});
    ASSERT_TRUE(WaitWithoutEvents([&] { return handoff.Posted() == 1; }));
    EXPECT_TRUE(port.ClosePort());  // returns although the reader waits for the handler
    QCoreApplication::processEvents();
    QTest::qWait(50);
    EXPECT_TRUE(receiver.replies.empty());
    EXPECT_EQ(handoff.Handled(), 0u);

    // Cancelled for good: nothing waits and nothing is queued any more.
    const uint8_t burst[] = {0xAA, 0x03, 0xA2, 0x01, 0x55};
    handoff.Deliver(burst, sizeof burst);
    handoff.WaitGoAhead();
    handoff.WaitGoAhead();
    EXPECT_EQ(handoff.Posted(), 1u);
    QTest::qWait(50);
    EXPECT_TRUE(receiver.replies.empty());
}

TEST_F(ReplyHandoffTest, CloseReleasesAReaderWaitingForTheGoAhead) {
    handoff.ReleaseReceiver(&receiver);
    pty.Send({0xAA, 0x03, 0xA1, 0x01, 0x55});
    // Handled without a receiver: the reader goes on to wait for a go-ahead nobody gives.
    ASSERT_TRUE(QTest::qWaitFor([&] { return handoff.Handled() == 1; }, 10000));
    EXPECT_TRUE(port.ClosePort());
    EXPECT_FALSE(port.IsOpen());
}

TEST_F(ReplyHandoffTest, NoReplyInTimeIsToldOnceAndALateReplyIsHandledAsBefore) {
    handoff.SetReplyTimeout(std::chrono::milliseconds(1000));
    EXPECT_FALSE(handoff.AwaitingReply());
    ASSERT_TRUE(handoff.Write(BuildReadSettingsFrame()));
    EXPECT_TRUE(handoff.AwaitingReply());
    ASSERT_TRUE(QTest::qWaitFor([&] { return receiver.noReplies == 1; }, 10000));
    EXPECT_FALSE(handoff.AwaitingReply());
    pty.Send({0xAA, 0x03, 0xA8, 0x00, 0x55});
    ASSERT_TRUE(QTest::qWaitFor([&] { return receiver.replies.size() == 1; }, 10000));
    EXPECT_EQ(Bytes(receiver.replies[0]), FromHex("AA 03 A8 00 55"));

    // A reply in time ends the wait: nothing more is told.
    ASSERT_TRUE(handoff.Write(BuildReadSettingsFrame()));
    pty.Send({0xAA, 0x03, 0xA8, 0x00, 0x55});
    ASSERT_TRUE(QTest::qWaitFor([&] { return receiver.replies.size() == 2; }, 10000));
    EXPECT_FALSE(handoff.AwaitingReply());
    EXPECT_EQ(receiver.noReplies, 1);
}

TEST_F(ReplyHandoffTest, AFrameThatNeverCompletesIsDroppedWithTheReplyTime) {
    handoff.SetReplyTimeout(std::chrono::milliseconds(1000));
    ASSERT_TRUE(handoff.Write(BuildReadSettingsFrame()));
    pty.Send({0xAA, 0x03});
    ASSERT_TRUE(QTest::qWaitFor([&] { return receiver.noReplies == 1; }, 10000));
    EXPECT_EQ(handoff.Posted(), 0u);  // a beginning alone reaches nobody
    // What comes next is judged alone, not as the rest of the dropped beginning.
    pty.Send({0xA1, 0x01, 0x55});
    ASSERT_TRUE(QTest::qWaitFor([&] { return receiver.replies.size() == 1; }, 10000));
    EXPECT_EQ(Bytes(receiver.replies[0]), FromHex("A1 01 55"));

    // Without a command awaiting its reply, a beginning older than the reply time goes as
    // soon as new bytes come.
    pty.Send({0xAA, 0x03});
    QTest::qWait(1200);
    pty.Send({0xAA, 0x03, 0xA1, 0x01, 0x55});
    ASSERT_TRUE(QTest::qWaitFor([&] { return receiver.replies.size() == 2; }, 10000));
    EXPECT_EQ(Bytes(receiver.replies[1]), FromHex("AA 03 A1 01 55"));
    EXPECT_EQ(receiver.noReplies, 1);
}

TEST_F(ReplyHandoffTest, ByDefaultTheWindowTellsTheOperatorThatNoReplyCame) {
    Msg::Recorder boxes;
    WindowReceiver window;
    handoff.SetReceiver(&window);
    handoff.SetReplyTimeout(std::chrono::milliseconds(100));
    ASSERT_TRUE(handoff.Write(BuildReadSettingsFrame()));
    ASSERT_TRUE(QTest::qWaitFor([&] { return boxes.shown().size() == 1; }, 10000));
    EXPECT_EQ(boxes.shown()[0].text, QStringLiteral("读卡器没有回应,请检查读卡器和连接。"));
    EXPECT_EQ(boxes.shown()[0].icon, QMessageBox::Warning);

    // Closed while a reply is awaited: nothing is told any more.
    ASSERT_TRUE(handoff.Write(BuildReadSettingsFrame()));
    EXPECT_TRUE(port.ClosePort());
    QTest::qWait(300);
    EXPECT_EQ(boxes.shown().size(), 1u);
}

TEST_F(ReplyHandoffTest, AHangUpIsHandledOnTheUserInterfaceThreadAndAReopenedPortWorks) {
    int gone = 0;
    bool onUiThread = false;
    handoff.SetLineGoneHandler([&] {
        ++gone;
        onUiThread = QThread::currentThread() == QCoreApplication::instance()->thread();
    });
    EXPECT_TRUE(handoff.Linked());
    ASSERT_TRUE(handoff.Write(BuildReadSettingsFrame()));
    ::close(pty.master);  // the device side goes away
    pty.master = -1;
    ASSERT_TRUE(QTest::qWaitFor([&] { return gone == 1; }, 10000));
    EXPECT_TRUE(onUiThread);
    EXPECT_FALSE(handoff.Linked());
    // Told as a lost line, not as a missing reply (the reply time of 5 s has not run out).
    EXPECT_FALSE(handoff.AwaitingReply());
    EXPECT_EQ(receiver.noReplies, 0);

    // The device back behind a new line: the same hand-off takes its replies.
    EXPECT_TRUE(port.ClosePort());
    PseudoTerminal next;
    ASSERT_TRUE(port.OpenPort(next.slave));
    ASSERT_TRUE(port.StartReader(handoff));
    EXPECT_TRUE(handoff.Linked());
    next.Send({0xAA, 0x03, 0xA1, 0x01, 0x55});
    ASSERT_TRUE(QTest::qWaitFor([&] { return receiver.replies.size() == 1; }, 10000));
    EXPECT_EQ(Bytes(receiver.replies[0]), FromHex("AA 03 A1 01 55"));
    EXPECT_EQ(handoff.Handled(), handoff.Posted());
}

// The hand-off alone, with a test thread playing the reader (the port stays closed).
class HandoffAloneTest : public ::testing::Test {
protected:
    CComPort port;
    CReplyHandoff handoff{port};
};

TEST_F(HandoffAloneTest, TheReaderWaitsUntilTheReplyHasBeenHandled) {
    std::atomic<bool> returned{false};
    std::vector<bool> returnedDuringHandler;
    struct : CReplyReceiver {
        std::function<void(const CardReply&)> on;
        void OnCardReply(const CardReply& reply) override { on(reply); }
    } receiver;
    std::vector<std::string> replies;
    receiver.on = [&](const CardReply& reply) {
        returnedDuringHandler.push_back(returned.load());
        replies.push_back(Bytes(reply));
    };
    handoff.SetReceiver(&receiver);
    std::thread reader([&] {
        const uint8_t burst[] = {0xAA, 0x03, 0xA1, 0x01, 0x55};
        handoff.Deliver(burst, sizeof burst);
        returned = true;
        handoff.WaitGoAhead();  // given when the receiver took the reply
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return returned.load(); }, 10000));
    reader.join();
    QCoreApplication::processEvents();
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0], FromHex("AA 03 A1 01 55"));
    EXPECT_EQ(returnedDuringHandler, std::vector<bool>{false});
}

// Bursts as the line brings them, and the replies that reach the receiver.
TEST_F(HandoffAloneTest, APieceIsPutTogetherByItsLengthByteBeforeItIsChecked) {
    std::string cardData = "AA 10 A2 00 07 77 27 12 31 00 00 00 00 00 00 00 01 55";
    std::string longStart = "AA 62";
    for (int i = 0; i < 50; ++i) {
        longStart += " 11";
    }
    std::string longRest;
    for (int i = 0; i < 60; ++i) {
        longRest += " 22";
    }
    const struct {
        const char* name;
        std::vector<std::string> bursts;
        std::vector<std::string> replies;
    } cases[] = {
        {"two pieces", {"AA 03", "A1 01 55"}, {"AA 03 A1 01 55"}},
        {"three pieces", {"AA", "03 A1", "01 55"}, {"AA 03 A1 01 55"}},
        {"card data split", {cardData.substr(0, 26), cardData.substr(27)}, {cardData}},
        {"cannot begin a frame", {"13 37 AA 00 FF"}, {"13 37 AA 00 FF"}},
        {"each stray piece alone", {"55 03", "A1 01 55"}, {"55 03", "A1 01 55"}},
        {"more than its length", {"AA 03 A1 01 55 AA"}, {"AA 03 A1 01 55 AA"}},
        {"rest with a byte too many", {"AA 03 A1", "01 55 13"}, {"AA 03 A1 01 55 13"}},
        {"a length no reply holds", {"AA 70 A2"}, {"AA 70 A2"}},
        {"one frame, then the next",
         {"AA 03 A1", "01 55", "AA 03 A3 01 55"},
         {"AA 03 A1 01 55", "AA 03 A3 01 55"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CComPort port;
        CReplyHandoff handoff{port};
        Receiver receiver;
        handoff.SetReceiver(&receiver);
        std::thread reader([&] {
            // As the port's reader: every burst handed over, then the wait for the go-ahead.
            for (const std::string& burst : c.bursts) {
                const std::string bytes = FromHex(burst);
                handoff.Deliver(reinterpret_cast<const uint8_t*>(bytes.data()),
                                static_cast<uint32_t>(bytes.size()));
                handoff.WaitGoAhead();
            }
        });
        ASSERT_TRUE(
            QTest::qWaitFor([&] { return receiver.replies.size() >= c.replies.size(); }, 10000));
        reader.join();
        QCoreApplication::processEvents();
        ASSERT_EQ(receiver.replies.size(), c.replies.size());
        for (size_t i = 0; i < c.replies.size(); ++i) {
            EXPECT_EQ(Bytes(receiver.replies[i]), FromHex(c.replies[i])) << i;
        }
    }

    // A frame longer than the reply buffer is cut at its 100th byte, and reported as a whole.
    Receiver receiver;
    handoff.SetReceiver(&receiver);
    std::thread reader([&] {
        for (const std::string& burst : {longStart, longRest}) {
            const std::string bytes = FromHex(burst);
            handoff.Deliver(reinterpret_cast<const uint8_t*>(bytes.data()),
                            static_cast<uint32_t>(bytes.size()));
            handoff.WaitGoAhead();
        }
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return receiver.replies.size() == 1; }, 10000));
    reader.join();
    EXPECT_EQ(receiver.replies[0].dwCount, kReplyBufferSize);
    EXPECT_EQ(Bytes(receiver.replies[0]), FromHex(longStart + longRest).substr(0, 100));
}

TEST_F(HandoffAloneTest, WithoutAReceiverTheGoAheadComesWithTheNextWrite) {
    std::atomic<bool> goAhead{false};
    std::thread reader([&] {
        const uint8_t burst[] = {0xAA, 0x03, 0xA1, 0x01, 0x55};
        handoff.Deliver(burst, sizeof burst);
        handoff.WaitGoAhead();
        goAhead = true;
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return handoff.Handled() == 1; }, 10000));
    QTest::qWait(100);
    EXPECT_FALSE(goAhead.load());
    EXPECT_FALSE(handoff.Write(BuildReadSettingsFrame()));  // no link, but the go-ahead
    ASSERT_TRUE(WaitWithoutEvents([&] { return goAhead.load(); }));
    reader.join();
}

TEST_F(HandoffAloneTest, TheReceiversCopyIsUnaffectedByTheNextBurst) {
    std::mutex mutex;
    std::condition_variable cv;
    bool secondDelivered = false;
    std::string before;
    std::string after;
    struct : CReplyReceiver {
        std::function<void(const CardReply&)> on;
        void OnCardReply(const CardReply& reply) override { on(reply); }
    } receiver;
    receiver.on = [&](const CardReply& reply) {
        before = Bytes(reply);
        // Shut-down releases the reader while the handler still runs; the next burst then
        // goes into the hand-off's buffer.
        handoff.Cancel();
        std::unique_lock<std::mutex> lock(mutex);
        cv.wait_for(lock, std::chrono::seconds(10), [&] { return secondDelivered; });
        after = Bytes(reply);
    };
    handoff.SetReceiver(&receiver);
    std::thread reader([&] {
        const uint8_t first[] = {0xAA, 0x03, 0xA1, 0x01, 0x55};
        handoff.Deliver(first, sizeof first);
        const uint8_t second[] = {0xAA, 0x05, 0xA3, 0x00, 0x00, 0x00, 0x55};
        handoff.Deliver(second, sizeof second);
        std::lock_guard<std::mutex> lock(mutex);
        secondDelivered = true;
        cv.notify_all();
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return !after.empty(); }, 10000));
    reader.join();
    EXPECT_TRUE(secondDelivered);
    EXPECT_EQ(before, FromHex("AA 03 A1 01 55"));
    EXPECT_EQ(after, before);
    EXPECT_EQ(handoff.Posted(), 1u);  // the second burst came after the cancel
}

TEST_F(HandoffAloneTest, CancelReleasesAReaderWaitingForTheGoAhead) {
    std::atomic<bool> released{false};
    std::thread reader([&] {
        handoff.WaitGoAhead();
        released = true;
    });
    handoff.Cancel();
    ASSERT_TRUE(WaitWithoutEvents([&] { return released.load(); }));
    reader.join();
    handoff.WaitGoAhead();  // and every later wait ends at once
}

}  // namespace
