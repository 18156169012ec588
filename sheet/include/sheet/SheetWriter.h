#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sheet/SheetTarget.h"

// Runs a sheet target on a thread of its own, so that the caller stays free to show progress
// while a large export is written. The target is opened first, then takes the queued
// statements in order, and is closed last, all on that thread (an ODBC connection belongs to
// the thread that opened it). The first failure stops the statements; the target is closed
// all the same, and that failure is what Result reports.
class CSheetWriter {
public:
    // At most this many batches wait, so that a fast caller does not pile up statements.
    static constexpr size_t kMaxWaitingBatches = 4;

    CSheetWriter(std::unique_ptr<CSheetTarget> target, std::string connection);
    // Closes the target after what was queued (Finish) and waits for the thread.
    ~CSheetWriter();
    CSheetWriter(const CSheetWriter&) = delete;
    CSheetWriter& operator=(const CSheetWriter&) = delete;

    // Queues a batch of statements; false, with `batch` left as it was, while the queue is
    // full (wait and offer again) or after a failure or Finish.
    bool Offer(std::vector<std::string>& batch);
    // No more statements: the target is closed after the last one queued.
    void Finish();
    // Waits up to `timeout` for room in the queue or for the end. True once the thread has
    // ended: closed after Finish, or stopped by a failure (and closed).
    bool Wait(std::chrono::milliseconds timeout);
    bool Failed() const { return m_bFailed.load(); }
    // Statements executed so far.
    size_t Executed() const { return m_nExecuted.load(); }
    // Once ended: true when everything executed and the close kept it; else the error text.
    bool Result(std::string& error) const;

private:
    void Run(std::string connection);

    std::unique_ptr<CSheetTarget> m_pTarget;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;  // for the thread: a batch, or Finish
    std::condition_variable m_room;  // for the caller: room in the queue, or the end
    std::deque<std::vector<std::string>> m_queue;
    bool m_bFinishing = false;
    bool m_bEnded = false;
    std::string m_strError;
    std::atomic<bool> m_bFailed{false};
    std::atomic<size_t> m_nExecuted{0};
    std::thread m_thread;  // last: starts once everything above exists
};
