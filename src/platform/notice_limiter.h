#pragma once
// CNoticeLimiter keeps the lines about events that anyone may cause over and over (payloads on a
// broker that are no frames, statuses nobody understands, refused commands) from flooding standard
// error, a journal or the log box: the first few events of a burst get a line each, then one line
// per period counts those not said ("... and 4321 more bad payloads in 10 s"). A period without
// any such event ends the burst. The caller passes the time of each event, so tests drive the
// clock; one thread at a time (the owner's lock, if several call it).
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

class CNoticeLimiter {
  public:
    using Clock = std::chrono::steady_clock;

    static constexpr std::size_t kLinesAtOnce = 5;
    static constexpr Clock::duration kPeriod = std::chrono::seconds(10);

    struct Turn {
        std::string countLine;  // events not said before this one, due now; empty when none
        bool isSaid = false;    // this event gets a line of its own
    };

    // `what` names the events in the count line, in the plural: "bad payloads".
    explicit CNoticeLimiter(std::string what, std::size_t linesAtOnce = kLinesAtOnce,
                            Clock::duration period = kPeriod);

    // One more event at `now`. Say the count line (if any) first, then the event's own line if
    // it is said.
    Turn Note(Clock::time_point now);
    // The count line of the events not said, once a period has passed since the first of them
    // (or at once when `isFinal`: the owner is ending), else empty. For an owner that looks in
    // now and then, so that the count of a burst that has ended is said without a next event.
    std::string TakeCount(Clock::time_point now, bool isFinal = false);

  private:
    const std::string m_what;
    const std::size_t m_linesAtOnce;
    const Clock::duration m_period;

    std::size_t m_saidInBurst = 0;
    uint64_t m_unsaid = 0;
    Clock::time_point m_firstUnsaid;  // the counting of m_unsaid began
    Clock::time_point m_lastUnsaid;
    Clock::time_point m_lastEvent;
    bool m_hasEvent = false;
};
