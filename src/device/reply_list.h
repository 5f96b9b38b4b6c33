#pragma once
// CReplyList: the reply collectors of the last ten commands sent; the newest one receives every
// byte that arrives. The dialog thread registers commands (AddCommand) and stops the list; the
// serial monitor thread feeds it. The switch of the current collector is guarded by one short
// lock that is never held while a collector runs or calls back.
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "device/command_reply.h"

class CReplyList {
  public:
    using ReplyCallback = CCommandReply::ReplyCallback;
    static constexpr size_t kMaxReplies = 10;

    explicit CReplyList(void* context) : m_callbackContext(context) {}
    ~CReplyList();
    CReplyList(const CReplyList&) = delete;
    CReplyList& operator=(const CReplyList&) = delete;

    // Set once by the owner before the first command.
    void SetCallback(ReplyCallback callback) { m_replyCallback = callback; }
    // Registers the collector of a command just sent; from now on bytes belong to it. The
    // oldest collector goes when more than kMaxReplies are held.
    void AddCommand(const std::string& commandText, uint8_t letter);
    // Passes one chunk (at most 1024 bytes in practice) to the current collector.
    void Feed(int count, const uint8_t* bytes);
    // Ends all feeding for good and marks the current collector done. Does not block.
    void Stop();
    // The command text of the newest collector, or "x" when none was registered.
    std::string LastCommandText() const;
    size_t ReplyCount() const;
    // Any thread: what the frame collectors of this list have seen and reported so far.
    FrameCollectorCounts Counts() const { return m_pCounters->Snapshot(); }

  private:
    ReplyCallback m_replyCallback = nullptr;
    void* m_callbackContext;
    mutable std::mutex m_lock;  // guards m_replies, m_pCurrentReply and m_isStopped
    // Shared so that a collector the dialog thread drops stays alive while a Feed in flight on
    // the monitor thread still uses it.
    std::vector<std::shared_ptr<CCommandReply>> m_replies;
    std::shared_ptr<CCommandReply> m_pCurrentReply;
    bool m_isStopped = false;
    // Atomics, shared with every collector the list made.
    std::shared_ptr<FrameCollectorCounters> m_pCounters =
        std::make_shared<FrameCollectorCounters>();
};
