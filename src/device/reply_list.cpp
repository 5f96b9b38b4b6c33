#include "device/reply_list.h"

CReplyList::~CReplyList() {
    std::lock_guard<std::mutex> lock(m_lock);
    while (!m_replies.empty()) {
        m_replies.pop_back();
    }
    m_pCurrentReply.reset();
}

void CReplyList::AddCommand(const std::string& commandText, uint8_t letter) {
    auto reply = std::make_shared<CCommandReply>(commandText, letter, m_replyCallback,
                                                 m_callbackContext, m_pCounters);
    std::shared_ptr<CCommandReply> dropped;  // released outside the lock
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_replies.push_back(reply);
        m_pCurrentReply = reply;
        if (m_replies.size() > kMaxReplies) {
            dropped = std::move(m_replies.front());
            m_replies.erase(m_replies.begin());
        }
    }
}

void CReplyList::Feed(int count, const uint8_t* bytes) {
    std::shared_ptr<CCommandReply> current;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (m_isStopped) {
            return;
        }
        current = m_pCurrentReply;
    }
    if (current) {
        current->Collect(count, bytes);
    }
}

void CReplyList::Stop() {
    std::lock_guard<std::mutex> lock(m_lock);
    m_isStopped = true;
    if (m_pCurrentReply) {
        m_pCurrentReply->MarkDone();
    }
}

std::string CReplyList::LastCommandText() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_replies.empty() ? std::string("x") : m_replies.back()->CommandText();
}

size_t CReplyList::ReplyCount() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_replies.size();
}
