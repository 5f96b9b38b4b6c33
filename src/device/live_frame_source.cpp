#include "device/live_frame_source.h"

#include <utility>

#include "frame/frame_block.h"

CLiveFrameSource::CLiveFrameSource(std::size_t capacity) : m_capacity(capacity) {}

void CLiveFrameSource::Push(char modeLetter, const uint8_t* block, int count) {
    {
        std::lock_guard lock(m_lock);
        ++m_received;
        if (m_isClosed || m_blocks.size() >= m_capacity || count != kFrameBlockSize) {
            ++m_dropped;
            return;
        }
        m_blocks.push_back({std::vector<uint8_t>(block, block + count), modeLetter});
    }
    m_added.notify_one();
}

void CLiveFrameSource::Close() {
    {
        std::lock_guard lock(m_lock);
        m_isClosed = true;
    }
    m_added.notify_all();
}

SourceRead CLiveFrameSource::Next(SourceFrame& frame) {
    std::unique_lock lock(m_lock);
    m_added.wait(lock, [this] { return !m_blocks.empty() || m_isClosed; });
    return Take(lock, frame);
}

SourceRead CLiveFrameSource::NextWithin(SourceFrame& frame, std::chrono::milliseconds wait) {
    std::unique_lock lock(m_lock);
    if (!m_added.wait_for(lock, wait, [this] { return !m_blocks.empty() || m_isClosed; })) {
        return SourceRead::kTimedOut;
    }
    return Take(lock, frame);
}

void CLiveFrameSource::WaitForFrame(std::chrono::milliseconds wait) {
    std::unique_lock lock(m_lock);
    m_added.wait_for(lock, wait, [this] { return !m_blocks.empty() || m_isClosed; });
}

SourceRead CLiveFrameSource::Take(std::unique_lock<std::mutex>& lock, SourceFrame& frame) {
    if (m_blocks.empty()) {
        return SourceRead::kEnd;
    }
    m_current = std::move(m_blocks.front());
    m_blocks.pop_front();
    lock.unlock();
    frame = {};
    frame.kind = SourceFrameKind::kBlock;
    frame.number = ++m_taken;
    frame.byteOffset = m_position;
    frame.modeLetter = m_current.modeLetter;
    frame.block = m_current.bytes.data();
    m_position += m_current.bytes.size();
    return SourceRead::kFrame;
}

uint64_t CLiveFrameSource::Received() const {
    std::lock_guard lock(m_lock);
    return m_received;
}

uint64_t CLiveFrameSource::Dropped() const {
    std::lock_guard lock(m_lock);
    return m_dropped;
}
