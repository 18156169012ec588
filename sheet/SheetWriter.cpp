#include "sheet/SheetWriter.h"

#include <utility>

CSheetWriter::CSheetWriter(std::unique_ptr<CSheetTarget> target, std::string connection)
    : m_pTarget(std::move(target)), m_thread([this, connection = std::move(connection)]() mutable {
          Run(std::move(connection));
      }) {}

CSheetWriter::~CSheetWriter() {
    Finish();
    m_thread.join();
}

bool CSheetWriter::Offer(std::vector<std::string>& batch) {
    {
        std::lock_guard lock(m_mutex);
        if (m_bFinishing || m_bFailed.load() || m_queue.size() >= kMaxWaitingBatches) {
            return false;
        }
        m_queue.push_back(std::move(batch));
    }
    batch.clear();
    m_wake.notify_one();
    return true;
}

void CSheetWriter::Finish() {
    {
        std::lock_guard lock(m_mutex);
        m_bFinishing = true;
    }
    m_wake.notify_one();
}

bool CSheetWriter::Wait(std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_mutex);
    m_room.wait_for(lock, timeout, [this] {
        return m_bEnded || (!m_bFinishing && m_queue.size() < kMaxWaitingBatches);
    });
    return m_bEnded;
}

bool CSheetWriter::Result(std::string& error) const {
    std::lock_guard lock(m_mutex);
    error = m_strError;
    return m_bEnded && !m_bFailed.load();
}

void CSheetWriter::Run(std::string connection) {
    std::string error;
    bool ok = m_pTarget->Open(connection, error);
    while (ok) {
        std::vector<std::string> batch;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return !m_queue.empty() || m_bFinishing; });
            if (m_queue.empty()) {
                break;  // finishing, and everything queued has been executed
            }
            batch = std::move(m_queue.front());
            m_queue.pop_front();
        }
        m_room.notify_one();
        for (const std::string& statement : batch) {
            ok = m_pTarget->Execute(statement, error);
            if (!ok) {
                break;
            }
            ++m_nExecuted;
        }
    }
    if (!ok) {
        m_bFailed = true;
        m_room.notify_one();  // a caller waiting for room sees the failure at once
    }
    // What failed is reported rather than what the close says about it.
    std::string closeError;
    const bool closed = m_pTarget->Close(closeError);
    m_pTarget.reset();  // an ODBC connection is removed on the thread that added it
    {
        std::lock_guard lock(m_mutex);
        if (ok && !closed) {
            m_bFailed = true;
            error = closeError;
        }
        m_strError = error;
        m_queue.clear();
        m_bEnded = true;
    }
    m_room.notify_all();
}
