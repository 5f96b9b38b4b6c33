#pragma once
// CLineRateGuard: notices frames that arrive faster than the serial line can carry them. The
// frame marker is the only check a frame gets, so a line that carries nothing but markers (a
// program or a device other than the module writing to the port) yields "frames" by the
// thousand a second; they are still taken as frames, but the user is told once per stream that
// something other than the module seems to feed the port. Monitor thread (one caller at a time).
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

class CLineRateGuard {
  public:
    using Clock = std::chrono::steady_clock;
    // Frames are measured over this much time at least before a rate is judged.
    static constexpr std::chrono::seconds kWindow{1};
    // How far above the line's capacity the rate must be: room for the driver handing over
    // frames it buffered while nobody read.
    static constexpr double kMargin = 2.0;

    CLineRateGuard(uint32_t baudRate, Clock::time_point start);

    // The most frames a second the line carries at `baudRate` (8 data bits, a start and a stop
    // bit a byte): 5.45 at 115200 baud.
    static double LineFramesPerSecond(uint32_t baudRate);

    // Counts a frame that arrived at `now`. Returns the warning the first time the rate since
    // the start, over kWindow at least, is above kMargin times the line's capacity; afterwards
    // nothing.
    std::optional<std::string> OnFrame(Clock::time_point now);

  private:
    uint32_t m_baudRate;
    Clock::time_point m_start;
    uint64_t m_frames = 0;
    bool m_hasWarned = false;
};
