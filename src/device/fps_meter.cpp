#include "device/fps_meter.h"

#include <cstdio>

std::string CFpsMeter::Tick(Clock::time_point now) {
    m_lastCount = now;
    ++m_frames;
    const double seconds = std::chrono::duration<double>(m_lastCount - m_startCount).count();
    // A first frame in the very tick of the command has no measurable rate yet.
    const double rate = seconds > 0.0 ? static_cast<double>(m_frames) / seconds : 0.0;
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", rate);
    m_rateText = text;
    return m_rateText;
}
