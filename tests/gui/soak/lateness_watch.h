#pragma once
// CLatenessWatch: how late a periodic tick comes, measured by the ticking thread itself. A timer
// that should fire every `period` and fires after period + d was held up for d: on the GUI
// thread, the thread could not handle input or paint for that long. The kernel's scheduler
// statistics of the thread (/proc/thread-self/schedstat: time on a CPU, time runnable but
// waiting for one) split each delay into the part the thread spent waiting for a CPU, which the
// machine's load decides, and the rest: its own work, or waiting on a lock or a sleep, which is
// the program's. One thread ticks; read the result after it has stopped ticking.
#include <chrono>
#include <cstdint>
#include <cstdio>

class CLatenessWatch {
  public:
    using Clock = std::chrono::steady_clock;

    struct Figures {
        double worstMs = 0;         // the largest lateness seen
        double worstAtSeconds = 0;  // when it ended, counted from the watch's creation
        double worstCpuMs = 0;      // of the interval that ended then: time on a CPU
        double worstWaitMs = 0;     // and time waiting for a CPU
        double worstOwnMs = 0;      // the largest lateness less the time waiting for a CPU
        double worstOwnAtSeconds = 0;
        uint64_t over50Ms = 0;  // ticks more than 50 ms late
        uint64_t ticks = 0;
        bool hasSchedStats = false;  // false: the own figures are the plain lateness
    };

    explicit CLatenessWatch(std::chrono::milliseconds period)
        : m_period(period), m_start(Clock::now()), m_last(m_start) {}

    void Tick() {
        const Clock::time_point now = Clock::now();
        const double lateMs =
            std::chrono::duration<double, std::milli>(now - m_last - m_period).count();
        m_last = now;
        SchedStat stat;
        const bool hasStat = ReadSchedStat(stat);
        const bool hasDelta = hasStat && m_hasLastStat;
        const double cpuMs = hasDelta ? (stat.cpuNs - m_lastStat.cpuNs) / 1e6 : 0;
        const double waitMs = hasDelta ? (stat.waitNs - m_lastStat.waitNs) / 1e6 : 0;
        m_lastStat = stat;
        m_hasLastStat = hasStat;
        m_figures.hasSchedStats = m_figures.hasSchedStats || hasDelta;
        if (!m_isStarted) {
            // The first interval starts before the event loop runs: it measures start-up.
            m_isStarted = true;
            return;
        }
        ++m_figures.ticks;
        const double atSeconds = std::chrono::duration<double>(now - m_start).count();
        if (lateMs > 50.0) {
            ++m_figures.over50Ms;
        }
        if (lateMs > m_figures.worstMs) {
            m_figures.worstMs = lateMs;
            m_figures.worstAtSeconds = atSeconds;
            m_figures.worstCpuMs = cpuMs;
            m_figures.worstWaitMs = waitMs;
        }
        const double ownMs = lateMs - waitMs;
        if (ownMs > m_figures.worstOwnMs) {
            m_figures.worstOwnMs = ownMs;
            m_figures.worstOwnAtSeconds = atSeconds;
        }
    }

    Figures Result() const { return m_figures; }

  private:
    struct SchedStat {
        unsigned long long cpuNs = 0;
        unsigned long long waitNs = 0;
    };

    static bool ReadSchedStat(SchedStat& stat) {
        FILE* file = std::fopen("/proc/thread-self/schedstat", "r");
        if (file == nullptr) {
            return false;
        }
        const bool isRead = std::fscanf(file, "%llu %llu", &stat.cpuNs, &stat.waitNs) == 2;
        std::fclose(file);
        return isRead;
    }

    std::chrono::milliseconds m_period;
    Clock::time_point m_start;
    Clock::time_point m_last;
    SchedStat m_lastStat;
    bool m_hasLastStat = false;
    bool m_isStarted = false;
    Figures m_figures;
};
