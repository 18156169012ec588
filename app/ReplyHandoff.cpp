#include "app/ReplyHandoff.h"

#include <utility>

CReplyHandoff::CReplyHandoff(std::function<void(const CardReply&)> handle)
    : m_handle(std::move(handle)) {}

void CReplyHandoff::Deliver(CardReply& reply) {
    std::unique_lock<std::mutex> lock(m_mutex);
    if (m_bCancelled) {
        return;
    }
    const uint64_t ticket = ++m_nPosted;
    QMetaObject::invokeMethod(
        &m_context,
        [this, &reply, ticket] {
            {
                std::lock_guard<std::mutex> guard(m_mutex);
                if (m_bCancelled) {
                    return;
                }
            }
            m_handle(reply);
            {
                std::lock_guard<std::mutex> guard(m_mutex);
                m_nHandled = ticket;
            }
            m_cv.notify_all();
        },
        Qt::QueuedConnection);
    m_cv.wait(lock, [&] { return m_bCancelled || m_nHandled >= ticket; });
}

void CReplyHandoff::Cancel() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bCancelled = true;
    }
    m_cv.notify_all();
}
