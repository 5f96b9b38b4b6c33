#pragma once
// CTextReplyMailbox: text replies on their way from the serial monitor thread to the log box.
// A text collector reports again at every line that matches its end rule, each time with all it
// has kept so far, so a module that keeps talking produces completions far faster than a window
// can show megabytes of text. Here the completions of one collector supersede each other: at
// most one text per collector waits, and the newest wins. Texts of different collectors wait in
// the order they arrived and are all delivered. Only the newest collector receives bytes, so a
// collector's earlier text, if it still waits, is the last one waiting: the collector's serial
// is the mailbox's kind.
//
// Threads: Put on the monitor thread, Take on the owner (GUI) thread; neither blocks beyond the
// short lock, and no lock is held while the caller posts or shows anything.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/latest_value_mailbox.h"

class CTextReplyMailbox {
  public:
    // Stores `text` as the newest reply of the collector `replySerial`. Returns true when a new
    // text is waiting: the caller then arranges exactly one Take on the owner thread. Returns
    // false when the text replaced one of the same collector that still waits.
    bool Put(uint64_t replySerial, const std::string& text) {
        return m_pending.Put(text, replySerial);
    }
    // The oldest waiting text, if any.
    std::optional<std::string> Take() { return m_pending.Take(); }
    // Texts waiting now (at most one per collector).
    size_t PendingCount() const { return m_pending.PendingCount(); }

  private:
    CLatestValueMailbox<std::string> m_pending;
};
