#include "platform/notice_limiter.h"

#include <utility>

CNoticeLimiter::CNoticeLimiter(std::string what, std::size_t linesAtOnce, Clock::duration period)
    : m_what(std::move(what)), m_linesAtOnce(linesAtOnce), m_period(period) {}

CNoticeLimiter::Turn CNoticeLimiter::Note(Clock::time_point now) {
    Turn turn;
    turn.countLine = TakeCount(now);
    if (m_hasEvent && m_unsaid == 0 && now - m_lastEvent >= m_period) {
        m_saidInBurst = 0;  // quiet for a period: a new burst
    }
    m_hasEvent = true;
    m_lastEvent = now;
    if (m_saidInBurst < m_linesAtOnce) {
        ++m_saidInBurst;
        turn.isSaid = true;
        return turn;
    }
    if (m_unsaid == 0) {
        m_firstUnsaid = now;
    }
    ++m_unsaid;
    m_lastUnsaid = now;
    return turn;
}

std::string CNoticeLimiter::TakeCount(Clock::time_point now, bool isFinal) {
    if (m_unsaid == 0 || (!isFinal && now - m_firstUnsaid < m_period)) {
        return {};
    }
    // Whole seconds, rounded up: a burst of a few milliseconds took "1 s".
    const auto span = m_lastUnsaid - m_firstUnsaid;
    const auto seconds = std::chrono::ceil<std::chrono::seconds>(span).count();
    std::string line = "... and " + std::to_string(m_unsaid) + " more " + m_what + " in " +
                       std::to_string(seconds > 0 ? seconds : 1) + " s";
    m_unsaid = 0;
    return line;
}
