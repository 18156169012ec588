#pragma once

#include <QObject>

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

#include "base/AutoResetEvent.h"
#include "protocol/Frame.h"
#include "serial/ReplySink.h"

class CComPort;

// The record that travels with every reply notification.
struct CardReply {
    uint32_t dwCount = 0;                 // valid bytes in data (1 ... 100)
    uint8_t data[kReplyBufferSize] = {};  // the burst from offset 0, the rest zero
};

// Windows that take device replies implement this; the receiver slot holds one of them.
class CReplyReceiver {
public:
    CReplyReceiver() = default;
    CReplyReceiver(const CReplyReceiver&) = delete;
    CReplyReceiver& operator=(const CReplyReceiver&) = delete;
    virtual ~CReplyReceiver() = default;
    // Runs on the user-interface thread while the reader thread waits; `reply` is a copy
    // that no later burst changes.
    virtual void OnCardReply(const CardReply& reply) = 0;

private:
    friend class CReplyHandoff;
    // Lives exactly as long as the receiver: the slot watches it, so a receiver that has gone
    // receives nothing (a guarded pointer that needs no QObject).
    std::shared_ptr<const bool> m_alive = std::make_shared<const bool>(true);
};

// The reply's way from the line to a window:
//   CComPort's reader thread reads a burst -> CReplySink::Deliver = CReplyHandoff::Deliver
//   (reply buffer filled under the reply lock, a call queued to the user-interface thread, the
//   reader waits) -> Handle() there: copies the reply under the lock, signals the go-ahead and
//   gives the copy to the receiver's OnCardReply (-> TakeCardReply checks the frame) -> the
//   reader goes on when Handle() has returned and, in WaitGoAhead, once the go-ahead is given
//   (by Handle() when a receiver took the reply, otherwise by the next Write).
// Cancel() (ClosePort calls it at shut-down) releases a waiting reader at once and makes
// every notification still queued do nothing, so closing the program never waits for a reply
// that the user-interface thread would never handle.
class CReplyHandoff final : public CReplySink {
public:
    // Created on the user-interface thread, where replies are handled; writes to `port`.
    explicit CReplyHandoff(CComPort& port);
    // Closes the port, so that no reader thread calls into a hand-off that has gone.
    ~CReplyHandoff() override;
    CReplyHandoff(const CReplyHandoff&) = delete;
    CReplyHandoff& operator=(const CReplyHandoff&) = delete;

    // The receiver slot (user-interface thread): the receiver that gets the replies, or none.
    void SetReceiver(CReplyReceiver* receiver);
    // Empties the slot when it holds `receiver`; another receiver stays.
    void ReleaseReceiver(CReplyReceiver* receiver);
    // The receiver in the slot; none once it has been destroyed.
    CReplyReceiver* Receiver() const;

    // Signals the go-ahead and writes the frame to the port; false when there is no serial
    // link or the write fails.
    bool Write(const Frame& frame);

    // The sink of the port's reader thread (see CReplySink).
    void Deliver(const uint8_t* bytes, uint32_t count) override;
    void WaitGoAhead() override;
    void Cancel() override;  // on any thread

    // Notifications queued to the user-interface thread so far, and those handled there
    // (with or without a receiver); for tests and benchmarks.
    uint64_t Posted() const;
    uint64_t Handled() const;

private:
    void Handle(uint64_t ticket);  // on the user-interface thread

    CComPort& m_port;
    // The reply and its lock: written by the reader thread, copied by Handle().
    std::mutex m_csReply;
    CardReply m_reply;
    CAutoResetEvent m_hGoAheadEvent;
    // The notification state: the tickets posted and handled, and the cancel.
    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_bCancelled = false;
    uint64_t m_nPosted = 0;
    uint64_t m_nHandled = 0;
    // The receiver slot (user-interface thread only).
    CReplyReceiver* m_pReceiver = nullptr;
    std::weak_ptr<const bool> m_receiverAlive;
    QObject m_context;  // queued calls die with it
};
