#pragma once

#include <QObject>
#include <QTimer>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "base/AutoResetEvent.h"
#include "protocol/Frame.h"
#include "protocol/ReplyAssembly.h"
#include "serial/ReplySink.h"

class CComPort;

// The record that travels with every reply notification.
struct CardReply {
    uint32_t dwCount = 0;                 // valid bytes in data (1 ... 100)
    uint8_t data[kReplyBufferSize] = {};  // the reply from offset 0, the rest zero
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
    // No reply came in time after a command: the window goes on as after a failed reply. By
    // default the operator is told so, in a box owned by the receiver when it is a window. A
    // reply that comes later still goes to OnCardReply.
    virtual void OnNoReply();

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
// A burst that is only the beginning of a frame (a reply split by the line) is kept and the
// reader reads on at once; the reply goes on its way once its length byte is satisfied.
// Every Write starts the reply timer; a reply handled stops it. When it runs out, the
// receiver hears of it (OnNoReply) and a frame still incomplete is dropped. A line that hangs
// up ends the wait as well and is handed to the line-gone handler (SetLineGoneHandler).
// Cancel() (ClosePort calls it at shut-down) releases a waiting reader at once and makes
// every notification still queued do nothing, so closing the program never waits for a reply
// that the user-interface thread would never handle; a reader started again resumes it.
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

    // Whether frames can be written: the port is open and its line has not hung up.
    bool Linked() const;
    // Signals the go-ahead and writes the frame to the port, starting the reply timer; false
    // when there is no serial link or the write fails.
    bool Write(const Frame& frame);
    // How long a reply may take after a Write (5 s; shorter in tests).
    void SetReplyTimeout(std::chrono::milliseconds timeout);
    // Called on the user-interface thread when the line of the port has hung up.
    void SetLineGoneHandler(std::function<void()> handler) { m_onLineGone = std::move(handler); }
    bool AwaitingReply() const { return m_replyTimer.isActive(); }

    // The sink of the port's reader thread (see CReplySink).
    void Deliver(const uint8_t* bytes, uint32_t count) override;
    void WaitGoAhead() override;
    void Cancel() override;  // on any thread
    void Resume() override;
    void LineGone() override;

    // Notifications queued to the user-interface thread so far, and those handled there
    // (with or without a receiver); for tests and benchmarks.
    uint64_t Posted() const;
    uint64_t Handled() const;

private:
    // On the user-interface thread.
    void Handle(uint64_t ticket, uint64_t generation);
    void HandleLineGone(uint64_t generation);
    void OnReplyTimeout();
    // True when `generation` is the current one and not cancelled.
    bool Current(uint64_t generation) const;

    CComPort& m_port;
    // The reply and its lock: written by the reader thread, copied by Handle(). The assembly
    // holds a frame that has come in part, since m_pendingSince.
    std::mutex m_csReply;
    CardReply m_reply;
    CReplyAssembly m_assembly;
    std::chrono::steady_clock::time_point m_pendingSince;
    std::chrono::milliseconds m_replyTimeout{5000};
    CAutoResetEvent m_hGoAheadEvent;
    // The notification state: the tickets posted and handled, and the cancel.
    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_bCancelled = false;
    uint64_t m_nGeneration = 0;  // one more at every Resume: older notifications do nothing
    uint64_t m_nPosted = 0;
    uint64_t m_nHandled = 0;
    // The receiver slot (user-interface thread only).
    CReplyReceiver* m_pReceiver = nullptr;
    std::weak_ptr<const bool> m_receiverAlive;
    std::function<void()> m_onLineGone;
    QTimer m_replyTimer;  // single shot, started by Write
    QObject m_context;    // queued calls die with it
};
