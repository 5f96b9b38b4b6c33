#pragma once
// CLatencyStats: the diagnostic mode behind --stats. It notes when each frame's last byte came
// in (on the serial monitor thread), finds that moment again for the frame being painted (on
// the GUI thread), and prints one line per painted frame plus a summary when the viewer closes.
// Frames are recognised by a hash of their bytes, so nothing has to travel with them through
// the pipeline. It also times each play-back tick, which reads a file on the GUI thread: how
// long the read took and how long the whole tick held the GUI thread. Thread-safe.
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <optional>
#include <vector>

class CLatencyStats {
  public:
    using Clock = std::chrono::steady_clock;

    explicit CLatencyStats(FILE* out) : m_out(out) {}
    ~CLatencyStats() { PrintSummary(); }

    // A complete frame block has arrived.
    void FrameArrived(const uint8_t* block, int count);
    // The arrival time of the frame with these bytes, if it is still remembered.
    std::optional<Clock::time_point> ArrivalOf(const uint8_t* block, int count);
    // The frame that arrived at arrival is on the screen now.
    void FramePainted(Clock::time_point arrival);
    // A processed frame was not shown because a newer one replaced it first.
    void PresentationSkipped();
    // A play-back tick spent `readUs` reading its record and `tickUs` in all.
    void PlaybackTick(int64_t readUs, int64_t tickUs);
    void PrintSummary();

  private:
    static uint64_t Hash(const uint8_t* block, int count);

    struct Arrival {
        uint64_t hash = 0;
        Clock::time_point time{};
    };
    FILE* m_out;
    std::mutex m_lock;                      // guards every member below
    std::array<Arrival, 256> m_arrivals{};  // ring of the newest arrivals
    size_t m_next = 0;
    std::vector<int64_t> m_latenciesUs;
    std::vector<int64_t> m_playbackReadUs;
    std::vector<int64_t> m_playbackTickUs;
    uint64_t m_skipped = 0;
    bool m_summaryPrinted = false;
};
