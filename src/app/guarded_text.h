#pragma once
// CGuardedText: a text one thread writes whole and others read whole, with the one lock that
// guards it. Never held while calling out; any thread.
#include <mutex>
#include <string>

class CGuardedText {
  public:
    std::string Get() const {
        std::lock_guard lock(m_lock);
        return m_text;
    }
    // Assigns, so that a text of the same size as the last reuses its storage.
    void Set(const std::string& text) {
        std::lock_guard lock(m_lock);
        m_text = text;
    }

  private:
    mutable std::mutex m_lock;  // guards m_text
    std::string m_text;
};
