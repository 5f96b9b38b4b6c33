#include "processing/frame_queue.h"

int CFrameQueue::FramesToDrop(std::size_t backlog) {
    if (backlog >= 10) {
        return static_cast<int>(backlog) - 1;
    }
    if (backlog >= 7) {
        return 2;
    }
    if (backlog >= 4) {
        return 1;
    }
    return 0;
}

void CFrameQueue::Push(QueuedFrame frame) {
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_frames.push_back(std::move(frame));
    }
    m_frameEvent.notify_one();
}

CFrameQueue::WaitResult CFrameQueue::Wait(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(m_lock);
    m_frameEvent.wait_for(lock, timeout, [this] { return m_stopRequested || !m_frames.empty(); });
    if (m_stopRequested) {
        return WaitResult::kStopped;
    }
    return m_frames.empty() ? WaitResult::kTimedOut : WaitResult::kWork;
}

int CFrameQueue::DrainPending(const std::function<void(QueuedFrame&)>& process) {
    const int toDrop = FramesToDrop(Size());
    int dropped = 0;
    for (;;) {
        QueuedFrame frame;
        {
            std::lock_guard<std::mutex> lock(m_lock);
            if (m_stopRequested || m_frames.empty()) {
                return dropped;
            }
            frame = std::move(m_frames.front());
            m_frames.pop_front();
        }
        if (dropped < toDrop) {
            ++dropped;
            continue;
        }
        process(frame);
    }
}

void CFrameQueue::RequestStop() {
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_stopRequested = true;
    }
    m_frameEvent.notify_all();
}

std::size_t CFrameQueue::Size() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_frames.size();
}
