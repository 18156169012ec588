#pragma once

#include <QObject>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

struct CardReply;

// Windows that take device replies implement this; the receiver slot holds one of them.
class CReplyReceiver {
public:
    virtual ~CReplyReceiver() = default;
    // Runs on the user-interface thread while the reader thread waits.
    virtual void OnCardReply(const CardReply& reply) = 0;
};

// The synchronous reply notification: the reader thread hands a burst to the user-interface
// thread and waits until it has been handled there. Cancel() (at shut-down) releases a waiting
// reader at once and makes every notification still queued do nothing, so closing the
// program never waits for a reply that the user-interface thread would never handle.
class CReplyHandoff {
public:
    // `handle` runs on the thread that creates this object.
    explicit CReplyHandoff(std::function<void(const CardReply&)> handle);

    void Deliver(CardReply& reply);  // on the reader thread
    void Cancel();                   // on any thread

private:
    std::function<void(const CardReply&)> m_handle;
    QObject m_context;  // queued calls die with it
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_bCancelled = false;
    uint64_t m_nPosted = 0;
    uint64_t m_nHandled = 0;
};
