#include "device/command_reply.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "device/reply_end_rules.h"

namespace {
constexpr int kMaxChunk = 2048;  // chunks this size or larger are ignored whole
constexpr int kKeptWindowBytes = kResyncWindowBytes - kFrameBlockSize;  // 4224: two blocks
// The marker's four bytes in the order they arrive, as m_recentBytes holds them.
constexpr uint32_t kMarkerAsReceived = uint32_t{kFrameMarker[0]} << 24 |
                                       uint32_t{kFrameMarker[1]} << 16 |
                                       uint32_t{kFrameMarker[2]} << 8 | kFrameMarker[3];
std::atomic<uint64_t> g_nextSerial{1};  // collectors are made on the dialog and monitor threads
}  // namespace

CCommandReply::CCommandReply(std::string commandText, uint8_t letter, ReplyCallback callback,
                             void* context, std::shared_ptr<FrameCollectorCounters> counters)
    : m_commandText(std::move(commandText)),
      m_letter(letter),
      m_serial(g_nextSerial.fetch_add(1, std::memory_order_relaxed)),
      m_replyCallback(callback),
      m_callbackContext(context),
      m_pCounters(std::move(counters)) {}

void CCommandReply::Collect(int count, const uint8_t* bytes) {
    if (m_isDone.load(std::memory_order_relaxed) || count <= 0 || bytes == nullptr ||
        count >= kMaxChunk) {
        return;
    }
    if (IsFrameLetter(m_letter)) {
        if (m_pCounters) {
            CountMarkers(count, bytes);
        }
        CollectFrameBytes(count, bytes);
    } else {
        CollectTextBytes(count, bytes);
    }
}

void CCommandReply::CountMarkers(int count, const uint8_t* bytes) {
    // Every byte, whatever the collector does with it, so that markers split over chunks, or
    // lying in bytes the re-synchronisation throws away, are counted too.
    uint32_t recent = m_recentBytes;
    uint64_t seen = 0;
    for (int i = 0; i < count; ++i) {
        recent = recent << 8 | bytes[i];
        seen += recent == kMarkerAsReceived ? 1 : 0;
    }
    m_recentBytes = recent;
    if (seen > 0) {
        m_pCounters->markersSeen += seen;
    }
}

void CCommandReply::CollectFrameBytes(int count, const uint8_t* bytes) {
    if (m_buffer.empty()) {
        m_buffer.assign(kFrameBlockSize + 1, 0);
    }
    while (count > 0) {
        const size_t room = kFrameBlockSize - m_length;
        if (static_cast<size_t>(count) < room) {
            std::memcpy(m_buffer.data() + m_length, bytes, count);
            m_length += count;
            return;
        }
        std::memcpy(m_buffer.data() + m_length, bytes, room);
        m_length = kFrameBlockSize;
        ProcessBlock();
        bytes += room;
        count -= static_cast<int>(room);
    }
}

void CCommandReply::ProcessBlock() {
    uint8_t* block = m_buffer.data();
    if (m_windowFill == 0) {
        if (IsFrameMarkerAt(block + kFrameMarkerOffset)) {
            Complete();
        } else {
            std::memcpy(m_window.data(), block, kFrameBlockSize);
            m_windowFill = kFrameBlockSize;
        }
        m_length = 0;
        return;
    }
    std::memcpy(m_window.data() + m_windowFill, block, kFrameBlockSize);
    m_windowFill += kFrameBlockSize;
    m_length = 0;
    if (m_windowFill < kResyncWindowBytes) {
        return;
    }
    const std::optional<int> start = FindFrameStartInWindow(m_window.data());
    if (!start) {
        // Keep the last two blocks: a frame may still end in the next one.
        std::memmove(m_window.data(), m_window.data() + kFrameBlockSize, kKeptWindowBytes);
        m_windowFill = kKeptWindowBytes;
        return;
    }
    std::memcpy(block, m_window.data() + *start, kFrameBlockSize);
    m_length = kFrameBlockSize;
    Complete();
    m_length = 0;
    const int next = *start + kFrameBlockSize;
    if (next + kFrameBlockSize > kResyncWindowBytes) {
        // The window's tail is the beginning of the next frame.
        const int tail = kResyncWindowBytes - next;
        std::memcpy(block, m_window.data() + next, tail);
        m_length = tail;
    }
    m_windowFill = 0;
}

void CCommandReply::CollectTextBytes(int count, const uint8_t* bytes) {
    const bool isFirstChunk = m_length == 0;
    m_buffer.insert(m_buffer.begin() + static_cast<std::ptrdiff_t>(m_length), bytes, bytes + count);
    m_length += count;
    if (m_length > kMaxTextReplyBytes + kTextReplySlackBytes) {
        // Dropping the oldest bytes only once per slack's worth of input keeps the cost of a
        // chunk independent of how much is kept, however small the chunks of a flood are.
        const size_t excess = m_length - kMaxTextReplyBytes;
        m_buffer.erase(m_buffer.begin(), m_buffer.begin() + static_cast<std::ptrdiff_t>(excess));
        m_length = kMaxTextReplyBytes;
    }
    const uint8_t* text = KeptText();
    const size_t length = KeptLength();
    if (m_letter == 'w') {
        // The table is only judged from its second chunk on.
        if (!isFirstChunk && IsCalibrationTableComplete(text, length)) {
            Complete();
        }
        return;
    }
    if (IsTextReplyComplete(m_letter, text, length)) {
        Complete();
    }
}

void CCommandReply::Complete() {
    if (m_isDone.load(std::memory_order_relaxed)) {
        return;
    }
    if (IsFrameLetter(m_letter)) {
        if (m_replyText.empty()) {
            m_replyText = "Frame data...";
        }
        if (m_pCounters) {
            ++m_pCounters->framesReported;
        }
    } else {
        m_replyText.assign(reinterpret_cast<const char*>(KeptText()), KeptLength());
    }
    if (m_replyCallback != nullptr) {
        const bool isFrame = IsFrameLetter(m_letter);
        m_replyCallback(m_callbackContext, this, m_replyText,
                        isFrame ? m_buffer.data() : KeptText(),
                        static_cast<int>(isFrame ? m_length : KeptLength()));
    }
}
