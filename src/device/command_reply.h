#pragma once
// CCommandReply: collects what the module sends back for one command. Frame commands cut the
// byte stream into 2112-byte blocks (regaining step through a three-block window when the marker
// is lost); text commands accumulate bytes until the end rule of their letter matches. Each
// complete frame or reply goes to the reply callback. Only the serial monitor thread calls
// Collect; MarkDone may come from the dialog thread and is atomic.
#include <algorithm>
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "device/frame_collector_counters.h"
#include "device/frame_sync.h"

class CCommandReply {
  public:
    // (context, reply, reply text, bytes, byte count). The bytes (for a frame: the collector's
    // own 2112-byte block) are valid during the call only.
    using ReplyCallback = void (*)(void* context, CCommandReply* reply, const std::string& text,
                                   const uint8_t* bytes, int count);

    // Text replies keep at most this many of their newest bytes: a module that keeps talking
    // must not grow a collector without bound, and the end rules only look at the tail.
    static constexpr size_t kMaxTextReplyBytes = 4u << 20;
    // How far a text collector may run past kMaxTextReplyBytes before its oldest bytes go: the
    // trim then moves the kept bytes once per this much input, not once per chunk.
    static constexpr size_t kTextReplySlackBytes = kMaxTextReplyBytes / 4;

    // A frame collector adds what it sees and reports to `counters`, when given (shared by the
    // collectors of one list, and kept alive by each of them).
    CCommandReply(std::string commandText, uint8_t letter, ReplyCallback callback, void* context,
                  std::shared_ptr<FrameCollectorCounters> counters = nullptr);

    // Takes one chunk (1 to 2047 bytes; anything else is ignored, as is input once done).
    void Collect(int count, const uint8_t* bytes);
    // Reports the collected bytes to the callback unless done. Does not close the collector.
    void Complete();
    // After this the collector ignores input and reports nothing.
    void MarkDone() { m_isDone.store(true); }

    const std::string& CommandText() const { return m_commandText; }
    uint8_t Letter() const { return m_letter; }
    // Unique among the collectors of this process: tells the replies of different commands
    // apart even where a new collector reuses the memory of a deleted one.
    uint64_t Serial() const { return m_serial; }
    // True while a frame collector searches for the marker (window not empty).
    bool IsResynchronising() const { return m_windowFill > 0; }

  private:
    void CollectFrameBytes(int count, const uint8_t* bytes);
    void CountMarkers(int count, const uint8_t* bytes);
    void ProcessBlock();
    void CollectTextBytes(int count, const uint8_t* bytes);
    // A text reply is judged and reported on its newest kMaxTextReplyBytes only.
    size_t KeptLength() const { return std::min(m_length, kMaxTextReplyBytes); }
    const uint8_t* KeptText() const { return m_buffer.data() + (m_length - KeptLength()); }

    std::string m_commandText;
    uint8_t m_letter;
    uint64_t m_serial;
    std::string m_replyText;
    std::vector<uint8_t> m_buffer;  // frame: one block (+1); text: the collected bytes
    size_t m_length = 0;            // bytes collected in m_buffer
    int m_windowFill = 0;           // bytes held in m_window; 0 means in step
    std::array<uint8_t, kResyncWindowBytes> m_window{};
    std::atomic<bool> m_isDone{false};
    ReplyCallback m_replyCallback;
    void* m_callbackContext;
    std::shared_ptr<FrameCollectorCounters> m_pCounters;
    uint32_t m_recentBytes = 0;  // the last four bytes received, the oldest in the high byte
};
