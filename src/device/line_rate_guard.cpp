#include "device/line_rate_guard.h"

#include <cstdio>

#include "frame/frame_block.h"

CLineRateGuard::CLineRateGuard(uint32_t baudRate, Clock::time_point start)
    : m_baudRate(baudRate), m_start(start) {}

double CLineRateGuard::LineFramesPerSecond(uint32_t baudRate) {
    constexpr double kBitsPerByte = 10;
    return baudRate / kBitsPerByte / static_cast<double>(kFrameBlockSize);
}

std::optional<std::string> CLineRateGuard::OnFrame(Clock::time_point now) {
    ++m_frames;
    if (m_hasWarned) {
        return std::nullopt;
    }
    const double seconds = std::chrono::duration<double>(now - m_start).count();
    const double capacity = LineFramesPerSecond(m_baudRate);
    if (seconds < std::chrono::duration<double>(kWindow).count() ||
        static_cast<double>(m_frames) / seconds <= kMargin * capacity) {
        return std::nullopt;
    }
    m_hasWarned = true;
    char line[200];
    std::snprintf(line, sizeof line,
                  "Frames arrive at %.1f a second, more than %u baud can carry (%.1f): another "
                  "program or device may be writing to the port",
                  static_cast<double>(m_frames) / seconds, static_cast<unsigned>(m_baudRate),
                  capacity);
    return std::string(line);
}
