#pragma once
// CLiveFrameSource: the frames of the live module as a frame source. The module session's frame
// callback (serial monitor thread) pushes each block with its mode letter; the reader takes them
// in order on its own thread with Next or NextWithin. Unlike the display's queue it keeps every
// frame while fewer than `capacity` wait: a recording or a stream to another program wants every
// frame, a display only the newest. Beyond that the newest frames are dropped and counted. Close
// ends the source once the frames already waiting are taken.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

#include "frame/frame_source.h"

class CLiveFrameSource final : public IFrameSource {
  public:
    explicit CLiveFrameSource(std::size_t capacity);

    // Any thread: queues a copy of a frame block (`count` is kFrameBlockSize; anything else is
    // counted as dropped).
    void Push(char modeLetter, const uint8_t* block, int count);
    // Any thread: no frame is taken after those waiting now.
    void Close();

    // Reader thread: waits until a frame comes or the source is closed.
    SourceRead Next(SourceFrame& frame) override;
    // Reader thread: waits at most `wait` (zero: not at all) for a frame; kTimedOut when none
    // came.
    SourceRead NextWithin(SourceFrame& frame, std::chrono::milliseconds wait);
    // Reader thread: waits at most `wait` until a frame is waiting, without taking it.
    void WaitForFrame(std::chrono::milliseconds wait);

    // The bytes of the frames taken so far.
    uint64_t Position() const override { return m_position; }
    int ErrorNumber() const override { return 0; }
    // Any thread: every frame pushed, and those of them dropped because too many waited.
    uint64_t Received() const;
    uint64_t Dropped() const;

  private:
    struct Block {
        std::vector<uint8_t> bytes;
        char modeLetter;
    };

    SourceRead Take(std::unique_lock<std::mutex>& lock, SourceFrame& frame);

    const std::size_t m_capacity;
    mutable std::mutex m_lock;  // guards m_blocks, m_received, m_dropped and m_isClosed
    std::condition_variable m_added;
    std::deque<Block> m_blocks;
    uint64_t m_received = 0;
    uint64_t m_dropped = 0;
    bool m_isClosed = false;
    // Reader thread only: the frame handed out last, and the count and bytes of those taken.
    Block m_current;
    uint64_t m_taken = 0;
    uint64_t m_position = 0;
};
