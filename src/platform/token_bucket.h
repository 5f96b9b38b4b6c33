#pragma once
// CTokenBucket lets through at most `perSecond` events a second on average and `burst` at once
// after a pause: each event takes a token, and tokens come back at the steady rate up to `burst`.
// The caller passes the time of each event, so tests drive the clock; one thread at a time.
#include <chrono>

class CTokenBucket {
  public:
    using Clock = std::chrono::steady_clock;

    // Starts full: the first `burst` events pass at once.
    CTokenBucket(double perSecond, double burst);

    // True, taking a token, when one is left at `now`; false (nothing taken) when the rate is
    // used up.
    bool Take(Clock::time_point now);

  private:
    const double m_perSecond;
    const double m_burst;
    double m_tokens;
    Clock::time_point m_last;
    bool m_hasTaken = false;
};
