#pragma once
// CLatenessWatch: how late a periodic tick comes, measured by the ticking thread itself. A timer
// that should fire every `period` and fires after period + d was held up for d: on the GUI
// thread, that is how long the thread was busy (or not scheduled) and could not handle input or
// paint. One thread ticks; read the result after it has stopped ticking.
#include <chrono>
#include <cstdint>

class CLatenessWatch {
  public:
    using Clock = std::chrono::steady_clock;

    struct Figures {
        double worstMs = 0;         // the largest lateness seen
        double worstAtSeconds = 0;  // when it ended, counted from the watch's creation
        uint64_t over50Ms = 0;      // ticks more than 50 ms late
        uint64_t ticks = 0;
    };

    explicit CLatenessWatch(std::chrono::milliseconds period)
        : m_period(period), m_start(Clock::now()), m_last(m_start) {}

    void Tick() {
        const Clock::time_point now = Clock::now();
        const double lateMs =
            std::chrono::duration<double, std::milli>(now - m_last - m_period).count();
        m_last = now;
        ++m_figures.ticks;
        if (lateMs > 50.0) {
            ++m_figures.over50Ms;
        }
        if (lateMs > m_figures.worstMs) {
            m_figures.worstMs = lateMs;
            m_figures.worstAtSeconds = std::chrono::duration<double>(now - m_start).count();
        }
    }

    Figures Result() const { return m_figures; }

  private:
    std::chrono::milliseconds m_period;
    Clock::time_point m_start;
    Clock::time_point m_last;
    Figures m_figures;
};
