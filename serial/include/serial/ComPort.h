#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "protocol/Frame.h"
#include "serial/AutoResetEvent.h"

// The record that travels with every reply notification.
struct CardReply {
    uint32_t dwCount = 0;                 // valid bytes in data (1 ... 100)
    uint8_t data[kReplyBufferSize] = {};  // the burst from offset 0, the rest zero
};

// The serial link to the card reader/writer: the device (57600 8N1, raw, no flow control)
// and the reader thread that gathers each burst of reply bytes and hands it on.
class CComPort {
public:
    // Hands a burst to the receiver and returns when the receiver has handled it, or at once
    // when there is none. Runs on the reader thread; must return when Cancel() of the
    // delivery is called by ClosePort (see SetDeliveryCancel).
    using Deliver = std::function<void(CardReply& reply)>;

    static constexpr size_t kMaxRead = 40;

    CComPort() = default;
    ~CComPort();
    CComPort(const CComPort&) = delete;
    CComPort& operator=(const CComPort&) = delete;

    // Opens and configures the device; false when it cannot be opened or configured.
    bool OpenPort(const std::string& devicePath);
    // Starts the reader thread on an open port; false when the thread cannot be created.
    bool StartReader(Deliver deliver, std::function<void()> cancelDelivery);
    // Closes the device, releases the reader thread from any wait, joins it. Always true.
    bool ClosePort();
    // At most 40 bytes of what is queued; 0 when nothing is.
    size_t ReadPort(uint8_t* buffer);
    // Writes one frame; false when no port is open or the write fails.
    bool WritePort(const uint8_t* bytes, size_t count);

    bool IsOpen() const { return m_bPortOpen.load(); }
    int Descriptor() const { return m_fd; }
    // Signalled before every write and by the receiver after copying a reply.
    CAutoResetEvent& GoAhead() { return m_hGoAheadEvent; }
    std::mutex& ReplyLock() { return m_csReply; }
    // Wake-ups of the reader thread: each return from its wait for the line (for tests and
    // benchmarks; an idle line must cause none).
    uint64_t WakeUps() const { return m_nWakeUps.load(); }

private:
    void ReaderThreadProc();
    // Reads one burst: until the queue is empty, at most 100 bytes kept.
    uint32_t ReadBurst(uint8_t burst[kReplyBufferSize]);

    std::atomic<int> m_bPortOpen{0};
    int m_fd = -1;
    int m_wakeFd = -1;
    std::thread m_pReaderThread;
    CAutoResetEvent m_hGoAheadEvent;
    std::mutex m_csReply;
    CardReply m_reply;
    Deliver m_deliver;
    std::function<void()> m_cancelDelivery;
    std::atomic<uint64_t> m_nWakeUps{0};
};
