#include "platform/token_bucket.h"

#include <algorithm>

CTokenBucket::CTokenBucket(double perSecond, double burst)
    : m_perSecond(perSecond), m_burst(burst), m_tokens(burst) {}

bool CTokenBucket::Take(Clock::time_point now) {
    if (m_hasTaken && now > m_last) {
        const double seconds = std::chrono::duration<double>(now - m_last).count();
        m_tokens = std::min(m_burst, m_tokens + seconds * m_perSecond);
    }
    if (!m_hasTaken || now > m_last) {
        m_last = now;
    }
    m_hasTaken = true;
    if (m_tokens < 1.0) {
        return false;
    }
    m_tokens -= 1.0;
    return true;
}
