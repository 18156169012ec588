#pragma once

#include <condition_variable>
#include <mutex>

// An auto-reset event: Set() makes it signalled (setting a signalled event changes nothing);
// Wait() blocks until it is signalled and consumes the signal.
class CAutoResetEvent {
public:
    void Set() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_bSignalled = true;
        }
        m_cv.notify_one();
    }
    void Wait() {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_cv.wait(lock, [this] { return m_bSignalled; });
        m_bSignalled = false;
    }
    bool IsSignalled() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_bSignalled;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_bSignalled = false;
};
