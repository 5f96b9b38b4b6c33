#pragma once
// CTextReplyMailbox: text replies on their way from the serial monitor thread to the log box.
// A text collector reports again at every line that matches its end rule, each time with all it
// has kept so far, so a module that keeps talking produces completions far faster than a window
// can show megabytes of text. Here the completions of one collector supersede each other: at
// most one text per collector waits, and the newest wins. Texts of different collectors wait in
// the order they arrived and are all delivered.
//
// Threads: Put on the monitor thread, Take on the owner (GUI) thread; neither blocks beyond the
// short lock, and no lock is held while the caller posts or shows anything.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>

class CTextReplyMailbox {
  public:
    // Stores `text` as the newest reply of the collector `replySerial`. Returns true when a new
    // text is waiting: the caller then arranges exactly one Take on the owner thread. Returns
    // false when the text replaced one of the same collector that still waits.
    bool Put(uint64_t replySerial, const std::string& text);
    // The oldest waiting text, if any.
    std::optional<std::string> Take();
    // Texts waiting now (at most one per collector).
    size_t PendingCount() const;

  private:
    struct Entry {
        uint64_t replySerial;
        std::string text;
    };
    mutable std::mutex m_lock;  // guards m_pending
    std::deque<Entry> m_pending;
};
