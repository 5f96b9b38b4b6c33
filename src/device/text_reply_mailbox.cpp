#include "device/text_reply_mailbox.h"

#include <utility>

bool CTextReplyMailbox::Put(uint64_t replySerial, const std::string& text) {
    std::lock_guard lock(m_lock);
    // Only the newest collector receives bytes, so a collector's earlier text, if it still
    // waits, is the last one.
    if (!m_pending.empty() && m_pending.back().replySerial == replySerial) {
        m_pending.back().text.assign(text);
        return false;
    }
    m_pending.push_back({replySerial, text});
    return true;
}

std::optional<std::string> CTextReplyMailbox::Take() {
    std::lock_guard lock(m_lock);
    if (m_pending.empty()) {
        return std::nullopt;
    }
    std::string text = std::move(m_pending.front().text);
    m_pending.pop_front();
    return text;
}

size_t CTextReplyMailbox::PendingCount() const {
    std::lock_guard lock(m_lock);
    return m_pending.size();
}
