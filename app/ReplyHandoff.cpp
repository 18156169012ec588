#include "app/ReplyHandoff.h"

#include <QWidget>

#include <algorithm>
#include <cstring>

#include "app/MessageBox.h"
#include "protocol/Reply.h"
#include "serial/ComPort.h"

void CReplyReceiver::OnNoReply() {
    Msg::Show(dynamic_cast<QWidget*>(this), QString::fromUtf8(kNoReplyText));
}

CReplyHandoff::CReplyHandoff(CComPort& port) : m_port(port) {
    m_replyTimer.setSingleShot(true);
    QObject::connect(&m_replyTimer, &QTimer::timeout, &m_context, [this] { OnReplyTimeout(); });
}

CReplyHandoff::~CReplyHandoff() {
    m_port.ClosePort();
}

void CReplyHandoff::SetReceiver(CReplyReceiver* receiver) {
    m_pReceiver = receiver;
    m_receiverAlive = receiver != nullptr ? receiver->m_alive : nullptr;
}

void CReplyHandoff::ReleaseReceiver(CReplyReceiver* receiver) {
    if (Receiver() == receiver) {
        SetReceiver(nullptr);
    }
}

CReplyReceiver* CReplyHandoff::Receiver() const {
    return m_receiverAlive.expired() ? nullptr : m_pReceiver;
}

bool CReplyHandoff::Linked() const {
    return m_port.IsOpen() && !m_port.LineGone();
}

bool CReplyHandoff::Write(const Frame& frame) {
    m_hGoAheadEvent.Set();
    const bool written = m_port.WritePort(frame.data(), frame.size());
    if (m_port.IsOpen()) {
        // Also after a failed write: the device may have taken part of the frame, and the
        // operator hears in any case that no reply came.
        m_replyTimer.start(m_replyTimeout);
    }
    return written;
}

void CReplyHandoff::SetReplyTimeout(std::chrono::milliseconds timeout) {
    std::lock_guard<std::mutex> lock(m_csReply);
    m_replyTimeout = timeout;
}

void CReplyHandoff::Deliver(const uint8_t* bytes, uint32_t count) {
    {
        std::lock_guard<std::mutex> lock(m_csReply);
        const auto now = std::chrono::steady_clock::now();
        // A beginning that waited longer than a reply may take never completes.
        if (m_assembly.Pending() && now - m_pendingSince >= m_replyTimeout) {
            m_assembly.Drop();
        }
        if (!m_assembly.Pending()) {
            m_pendingSince = now;
        }
        if (!m_assembly.Add(bytes, count)) {
            // The rest of the frame is still on its way: the reader reads on at once.
            m_hGoAheadEvent.Set();
            return;
        }
        m_reply.dwCount = m_assembly.Take(m_reply.data);
    }
    std::unique_lock<std::mutex> lock(m_mutex);
    if (m_bCancelled) {
        return;
    }
    const uint64_t ticket = ++m_nPosted;
    const uint64_t generation = m_nGeneration;
    QMetaObject::invokeMethod(
        &m_context, [this, ticket, generation] { Handle(ticket, generation); },
        Qt::QueuedConnection);
    m_cv.wait(lock, [&] { return m_bCancelled || m_nHandled >= ticket; });
}

bool CReplyHandoff::Current(uint64_t generation) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return !m_bCancelled && generation == m_nGeneration;
}

void CReplyHandoff::Handle(uint64_t ticket, uint64_t generation) {
    if (!Current(generation)) {
        return;
    }
    m_replyTimer.stop();
    if (CReplyReceiver* receiver = Receiver()) {
        CardReply reply;
        {
            std::lock_guard<std::mutex> lock(m_csReply);
            reply = m_reply;
        }
        m_hGoAheadEvent.Set();
        receiver->OnCardReply(reply);
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_nHandled = ticket;
    }
    m_cv.notify_all();
}

void CReplyHandoff::OnReplyTimeout() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_bCancelled) {
            return;  // closed meanwhile: nothing is awaited any more
        }
    }
    {
        std::lock_guard<std::mutex> lock(m_csReply);
        m_assembly.Drop();
    }
    if (CReplyReceiver* receiver = Receiver()) {
        receiver->OnNoReply();
    }
}

void CReplyHandoff::WaitGoAhead() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_bCancelled) {
            return;
        }
    }
    // Cancel() signals the go-ahead after setting the flag, so this wait ends as well.
    m_hGoAheadEvent.Wait();
}

void CReplyHandoff::Cancel() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bCancelled = true;
    }
    m_cv.notify_all();
    m_hGoAheadEvent.Set();
}

void CReplyHandoff::Resume() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_bCancelled) {
            return;
        }
        m_bCancelled = false;
        ++m_nGeneration;
        m_nHandled = m_nPosted;
    }
    // No reader runs yet: the go-ahead that the cancel left signalled is taken back, and so
    // is any beginning of a frame from the line before.
    if (m_hGoAheadEvent.IsSignalled()) {
        m_hGoAheadEvent.Wait();
    }
    std::lock_guard<std::mutex> lock(m_csReply);
    m_assembly.Drop();
}

void CReplyHandoff::LineGone() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_bCancelled) {
        return;
    }
    const uint64_t generation = m_nGeneration;
    QMetaObject::invokeMethod(
        &m_context, [this, generation] { HandleLineGone(generation); }, Qt::QueuedConnection);
}

void CReplyHandoff::HandleLineGone(uint64_t generation) {
    if (!Current(generation)) {
        return;
    }
    // The operator is told of the line instead of a reply that cannot come.
    m_replyTimer.stop();
    {
        std::lock_guard<std::mutex> lock(m_csReply);
        m_assembly.Drop();
    }
    if (m_onLineGone) {
        m_onLineGone();
    }
}

uint64_t CReplyHandoff::Posted() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_nPosted;
}

uint64_t CReplyHandoff::Handled() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_nHandled;
}
