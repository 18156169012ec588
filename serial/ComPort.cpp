#include "serial/ComPort.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

#include <algorithm>

#include "base/PosixIo.h"

namespace {

// Raw 57600 baud, 8 data bits, no parity, 1 stop bit, receiver on, modem lines local, no
// hardware or software flow control.
bool ConfigureLine(int fd) {
    termios t{};
    if (::tcgetattr(fd, &t) != 0) {
        return false;
    }
    ::cfmakeraw(&t);
    ::cfsetispeed(&t, B57600);
    ::cfsetospeed(&t, B57600);
    t.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
    t.c_cflag |= CS8 | CREAD | CLOCAL;
    t.c_iflag &= ~(IXON | IXOFF | IXANY);
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    t.c_cc[VSTART] = 0x11;
    t.c_cc[VSTOP] = 0x13;
    return ::tcsetattr(fd, TCSANOW, &t) == 0;
}

void SetModemLines(int fd, bool on) {
    // A pseudo-terminal has no modem lines; the call then fails and that is fine.
    int lines = TIOCM_DTR | TIOCM_RTS;
    ::ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &lines);
}

// A line that has hung up refuses every request with EIO (a device that has gone: ENXIO,
// ENODEV).
bool HasHungUp(int fd) {
    int queued = 0;
    if (::ioctl(fd, FIONREAD, &queued) == 0) {
        return false;
    }
    return errno == EIO || errno == ENXIO || errno == ENODEV;
}

}  // namespace

CComPort::~CComPort() {
    ClosePort();
}

bool CComPort::OpenPort(const std::string& devicePath) {
    if (m_fd >= 0) {
        return false;
    }
    const int fd = ::open(devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        m_nOpenError = errno;
        return false;
    }
    // Linux lets any number of programs open a terminal. The lock on the open port is what
    // other serial programs honour (and root, whom TIOCEXCL does not stop, meets it too): a
    // port held elsewhere is busy. It goes with the descriptor.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        m_nOpenError = errno == EWOULDBLOCK ? EBUSY : errno;
        ::close(fd);
        return false;
    }
    if (::ioctl(fd, TIOCEXCL) != 0 || !ConfigureLine(fd)) {
        m_nOpenError = errno;
        ::close(fd);
        return false;
    }
    ::tcflush(fd, TCIOFLUSH);
    SetModemLines(fd, true);
    m_wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_wakeFd < 0) {
        m_nOpenError = errno;
        ::ioctl(fd, TIOCNXCL);
        ::close(fd);
        return false;
    }
    m_fd = fd;
    m_nOpenError = 0;
    m_bLineGone = false;
    return true;
}

bool CComPort::StartReader(CReplySink& sink) {
    if (m_fd < 0 || m_pReaderThread.joinable()) {
        return false;
    }
    m_pSink = &sink;
    sink.Resume();
    m_bPortOpen = 1;
    try {
        m_pReaderThread = std::thread(&CComPort::ReaderThreadProc, this);
    } catch (const std::system_error&) {
        m_bPortOpen = 0;
        return false;
    }
    return true;
}

bool CComPort::ClosePort() {
    if (m_fd < 0) {
        return true;
    }
    m_bPortOpen = 0;
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(m_wakeFd, &one, sizeof one);
    if (m_pSink != nullptr) {
        m_pSink->Cancel();
    }
    if (m_pReaderThread.joinable()) {
        m_pReaderThread.join();
    }
    m_pSink = nullptr;
    SetModemLines(m_fd, false);
    ::tcflush(m_fd, TCIOFLUSH);
    // The line is exclusive only while the program has it: where another process keeps it
    // open (the emulator its pseudo-terminal), the flag would outlive this descriptor and
    // refuse the next start of an unprivileged program with EBUSY.
    ::ioctl(m_fd, TIOCNXCL);
    // The descriptor is gone even when close reports an error (a write that the device never
    // took, an adapter that failed): the port is closed either way.
    const bool closed = Io().close(m_fd) == 0;
    m_nCloseError = closed ? 0 : errno;
    ::close(m_wakeFd);
    m_fd = -1;
    m_wakeFd = -1;
    m_bLineGone = false;
    return closed;
}

size_t CComPort::ReadPort(uint8_t* buffer) {
    int queued = 0;
    if (m_fd < 0 || ::ioctl(m_fd, FIONREAD, &queued) != 0 || queued <= 0) {
        return 0;
    }
    const size_t want = std::min<size_t>(static_cast<size_t>(queued), kMaxRead);
    const ssize_t n = ::read(m_fd, buffer, want);
    return n > 0 ? static_cast<size_t>(n) : 0;
}

bool CComPort::WritePort(const uint8_t* bytes, size_t count) {
    if (m_fd < 0) {
        return false;
    }
    const ssize_t n = ::write(m_fd, bytes, count);
    return n == static_cast<ssize_t>(count);
}

uint32_t CComPort::ReadBurst(uint8_t burst[kReplyBufferSize]) {
    uint32_t count = 0;
    while (m_bPortOpen) {
        uint8_t chunk[kReplyBufferSize] = {};
        const size_t n = ReadPort(chunk);
        if (n == 0) {
            break;
        }
        // Bytes beyond the 100th of one burst are read from the line and dropped.
        const size_t keep = std::min<size_t>(n, kReplyBufferSize - count);
        std::memcpy(burst + count, chunk, keep);
        count += static_cast<uint32_t>(keep);
    }
    return count;
}

void CComPort::ReaderThreadProc() {
    bool delivered = false;
    while (m_bPortOpen) {
        if (delivered) {
            m_pSink->WaitGoAhead();
            delivered = false;
            continue;
        }
        // Wait for bytes, or for ClosePort.
        pollfd fds[2] = {{m_wakeFd, POLLIN, 0}, {m_fd, POLLIN, 0}};
        const int ready = ::poll(fds, 2, -1);
        m_nWakeUps.fetch_add(1);
        if (ready < 0 || fds[0].revents != 0) {
            continue;
        }
        const bool hungUp = (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
        uint8_t burst[kReplyBufferSize] = {};
        const uint32_t count = (fds[1].revents & POLLIN) != 0 ? ReadBurst(burst) : 0;
        if (count == 0) {
            if (hungUp || HasHungUp(m_fd)) {
                // The device side has gone (an unplugged adapter, a closed pseudo-terminal):
                // the line stays dead, so the reader ends and the sink has the port closed.
                m_bLineGone = true;
                if (m_bPortOpen) {
                    m_pSink->LineGone();
                }
                return;
            }
            continue;
        }
        // The reply route starts here: see CReplyHandoff (app/ReplyHandoff.h).
        if (m_bPortOpen) {
            m_pSink->Deliver(burst, count);
        }
        delivered = true;
    }
}
