// Reply latency and idle wake-ups of the serial link, over a real pseudo-terminal:
//   1. the time from the device side writing the last byte of a 5-byte reply to the start of
//      the receiver's handler on the user-interface thread (through the same synchronous
//      hand-off as the program), median and 99th percentile over 1,000 replies;
//   2. the same for a reply that comes in two pieces 2 ms apart (put together by its length
//      byte), timed from the last piece;
//   3. the reader thread's wake-ups while the line is idle for 10 seconds.

#include <fcntl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

#include "app/ReplyHandoff.h"
#include "serial/ComPort.h"

namespace {

using Clock = std::chrono::steady_clock;

// Takes the time at the start of its handler; the hand-off has given the go-ahead by then.
class TimingReceiver : public CReplyReceiver {
public:
    void OnCardReply(const CardReply&) override {
        const auto now = Clock::now();
        std::lock_guard<std::mutex> lock(mutex);
        latencies.push_back(std::chrono::duration<double, std::milli>(now - written).count());
        done = true;
        handled.notify_all();
    }

    std::mutex mutex;
    std::condition_variable handled;
    Clock::time_point written;
    std::vector<double> latencies;
    bool done = false;
};

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const int replies = argc > 1 ? std::atoi(argv[1]) : 1000;
    const int idleSeconds = argc > 2 ? std::atoi(argv[2]) : 10;

    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
        std::perror("pseudo-terminal");
        return 1;
    }
    CComPort port;
    if (!port.OpenPort(::ptsname(master))) {
        std::fprintf(stderr, "cannot open the port\n");
        return 1;
    }

    TimingReceiver receiver;
    CReplyHandoff handoff(port);
    handoff.SetReceiver(&receiver);
    port.StartReader(handoff);

    // The device answers `replies` times, whole or in two pieces, each after the last was handled.
    const auto measure = [&](bool split, const char* what) {
        receiver.latencies.clear();
        std::thread device([&] {
            const uint8_t reply[5] = {0xAA, 0x03, 0xA1, 0x01, 0x55};
            const size_t first = split ? 2 : 0;
            for (int i = 0; i < replies; ++i) {
                if (first > 0) {
                    if (::write(master, reply, first) != static_cast<ssize_t>(first)) {
                        break;
                    }
                    std::this_thread::sleep_for(std::chrono::milliseconds(2));
                }
                std::unique_lock<std::mutex> lock(receiver.mutex);
                receiver.done = false;
                receiver.written = Clock::now();
                if (::write(master, reply + first, sizeof reply - first) !=
                    static_cast<ssize_t>(sizeof reply - first)) {
                    break;
                }
                receiver.handled.wait(lock, [&] { return receiver.done; });
            }
            QMetaObject::invokeMethod(&app, &QCoreApplication::quit, Qt::QueuedConnection);
        });
        QCoreApplication::exec();
        device.join();

        std::vector<double>& latencies = receiver.latencies;
        if (latencies.empty()) {
            std::printf("%s: no reply handled\n", what);
            return;
        }
        std::sort(latencies.begin(), latencies.end());
        const auto at = [&](double q) {
            return latencies[std::min(
                latencies.size() - 1,
                static_cast<size_t>(q * static_cast<double>(latencies.size())))];
        };
        std::printf("%s over %zu replies: median %.3f ms, 99th percentile %.3f ms, max %.3f ms\n",
                    what, latencies.size(), at(0.5), at(0.99), latencies.back());
    };
    measure(false, "reply latency");
    measure(true, "reply latency, two pieces");

    const uint64_t before = port.WakeUps();
    std::this_thread::sleep_for(std::chrono::seconds(idleSeconds));
    std::printf("reader thread wake-ups while idle for %d s: %llu\n", idleSeconds,
                static_cast<unsigned long long>(port.WakeUps() - before));
    port.ClosePort();
    ::close(master);
    return 0;
}
