#pragma once
// CManualResetEvent: an event that stays signalled until reset, on a mutex and a condition
// variable. Any thread may set, reset or wait.
#include <chrono>
#include <condition_variable>
#include <mutex>

class CManualResetEvent {
  public:
    explicit CManualResetEvent(bool signalled = false) : m_signalled(signalled) {}

    void Set() {
        {
            std::lock_guard lock(m_lock);
            m_signalled = true;
        }
        m_changed.notify_all();
    }
    void Reset() {
        std::lock_guard lock(m_lock);
        m_signalled = false;
    }
    bool IsSet() const {
        std::lock_guard lock(m_lock);
        return m_signalled;
    }
    // Waits until the event is signalled or the time has passed; true if signalled.
    bool WaitFor(std::chrono::milliseconds timeout) const {
        std::unique_lock lock(m_lock);
        return m_changed.wait_for(lock, timeout, [this] { return m_signalled; });
    }

  private:
    mutable std::mutex m_lock;  // guards m_signalled
    mutable std::condition_variable m_changed;
    bool m_signalled;
};
