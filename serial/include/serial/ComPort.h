#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <thread>

#include "protocol/Frame.h"
#include "serial/ReplySink.h"

// The serial link to the card reader/writer: the device (57600 8N1, raw, no flow control)
// and the reader thread that gathers each burst of reply bytes and hands it to a reply sink.
// The port keeps no reply of its own: the sink holds the reply, and the go-ahead for which
// the reader waits after every burst.
class CComPort {
public:
    static constexpr size_t kMaxRead = 40;

    CComPort() = default;
    ~CComPort();
    CComPort(const CComPort&) = delete;
    CComPort& operator=(const CComPort&) = delete;

    // Opens the device for this program alone (an exclusive flock while it is open, and
    // TIOCEXCL) and configures it; false when it cannot be opened, locked or configured:
    // OpenError() is EBUSY when another program holds the port.
    bool OpenPort(const std::string& devicePath);
    // Starts the reader thread on an open port, handing every burst to `sink` (resumed first),
    // which must outlive the reader (until ClosePort). False when the port is not open, a
    // reader runs already or the thread cannot be created.
    bool StartReader(CReplySink& sink);
    // Closes the device, cancels the sink (which releases the reader thread from any wait),
    // joins the reader. The port is closed in any case; false when the system reported an
    // error closing the device (CloseError() says which).
    bool ClosePort();
    // At most 40 bytes of what is queued; 0 when nothing is.
    size_t ReadPort(uint8_t* buffer);
    // Writes one frame; false when no port is open or the write fails.
    bool WritePort(const uint8_t* bytes, size_t count);

    bool IsOpen() const { return m_bPortOpen.load(); }
    // The line hung up while the reader watched it; until the port is closed.
    bool LineGone() const { return m_bLineGone.load(); }
    // The errno of the failed open or close; 0 after a successful one.
    int OpenError() const { return m_nOpenError; }
    int CloseError() const { return m_nCloseError; }
    int Descriptor() const { return m_fd; }
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
    CReplySink* m_pSink = nullptr;
    std::atomic<uint64_t> m_nWakeUps{0};
    std::atomic<bool> m_bLineGone{false};
    int m_nOpenError = 0;
    int m_nCloseError = 0;
};
