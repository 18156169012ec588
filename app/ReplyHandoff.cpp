#include "app/ReplyHandoff.h"

#include <algorithm>
#include <cstring>

#include "serial/ComPort.h"

CReplyHandoff::CReplyHandoff(CComPort& port) : m_port(port) {}

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

bool CReplyHandoff::Write(const Frame& frame) {
    m_hGoAheadEvent.Set();
    return m_port.WritePort(frame.data(), frame.size());
}

void CReplyHandoff::Deliver(const uint8_t* bytes, uint32_t count) {
    {
        std::lock_guard<std::mutex> lock(m_csReply);
        m_reply.dwCount = std::min<uint32_t>(count, kReplyBufferSize);
        std::memset(m_reply.data, 0, sizeof m_reply.data);
        std::memcpy(m_reply.data, bytes, m_reply.dwCount);
    }
    std::unique_lock<std::mutex> lock(m_mutex);
    if (m_bCancelled) {
        return;
    }
    const uint64_t ticket = ++m_nPosted;
    QMetaObject::invokeMethod(
        &m_context, [this, ticket] { Handle(ticket); }, Qt::QueuedConnection);
    m_cv.wait(lock, [&] { return m_bCancelled || m_nHandled >= ticket; });
}

void CReplyHandoff::Handle(uint64_t ticket) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_bCancelled) {
            return;
        }
    }
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

uint64_t CReplyHandoff::Posted() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_nPosted;
}

uint64_t CReplyHandoff::Handled() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_nHandled;
}
