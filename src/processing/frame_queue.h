#pragma once
// CFrameQueue: the hand-over of frame blocks from the receiving side (serial monitor thread,
// binary play-back on the GUI thread) to the frame pipeline's processing thread. Producers only
// copy a block in under a short lock; the processing thread drains the queue and, when it has
// fallen behind, drops the oldest frames of the backlog so the display never lags.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <vector>

// An owned copy of one block as it was queued.
struct QueuedFrame {
    std::vector<uint8_t> bytes;
    int byteCount = 0;
    char modeLetter = 0;
    uint64_t run = 0;  // the pipeline's run it was queued in (CFramePipeline::StartRun)
};

class CFrameQueue {
  public:
    enum class WaitResult { kWork, kTimedOut, kStopped };

    // Frames dropped from the head of a backlog of `backlog` frames: all but the newest from 10
    // on, two from 7, one from 4, none below.
    static int FramesToDrop(std::size_t backlog);

    // Any thread; never blocks beyond the short queue lock.
    void Push(QueuedFrame frame);

    // Processing thread: waits until a frame is queued, a stop is requested or `timeout` passes.
    WaitResult Wait(std::chrono::milliseconds timeout);

    // Processing thread: applies the drop rule to the backlog found on entry, then hands every
    // other frame, including frames queued meanwhile, to `process` (called without the lock),
    // until the queue is empty or a stop is requested. Returns the number of frames dropped.
    int DrainPending(const std::function<void(QueuedFrame&)>& process);

    // Any thread: makes Wait return kStopped and DrainPending return before the next frame.
    void RequestStop();

    std::size_t Size() const;

  private:
    mutable std::mutex m_lock;  // guards m_frames and m_stopRequested
    std::condition_variable m_frameEvent;
    std::deque<QueuedFrame> m_frames;  // oldest first
    bool m_stopRequested = false;
};
