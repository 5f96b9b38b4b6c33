#pragma once
// CFpsMeter: average frame rate of one continuous stream, from its first command to the latest
// frame. A new meter is made for each continuous-stream command; Tick runs on the serial monitor
// thread, so the owner replaces and ticks it under one lock.
#include <chrono>
#include <cstdint>
#include <string>

class CFpsMeter {
  public:
    using Clock = std::chrono::steady_clock;

    CFpsMeter() : CFpsMeter(Clock::now()) {}
    explicit CFpsMeter(Clock::time_point start) : m_startCount(start), m_lastCount(start) {}

    // Counts one frame and returns the average rate since construction as "%.1f".
    std::string Tick() { return Tick(Clock::now()); }
    std::string Tick(Clock::time_point now);

  private:
    Clock::time_point m_startCount;
    Clock::time_point m_lastCount;
    uint64_t m_frames = 0;
    std::string m_rateText;
};
