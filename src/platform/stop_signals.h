#pragma once
// SIGINT and SIGTERM (Ctrl-C, a `kill`, a desktop logging out) turned into something a
// program's own loop looks at, so that it stops the way its user would stop it: the module told
// to stop, recordings closed whole, half-written outputs removed. The handler only counts the
// signal and writes one byte into a pipe; nothing else runs inside it, except the caller's
// `onRepeat` (see below).
//
// Signal dispositions belong to the process, so one CStopSignals at a time catches them, and
// its counts are process-wide. Any thread may read them. The handler is installed with
// SA_RESTART: a signal that lands on another thread does not fail its reads and writes.
#include <string>

class CStopSignals {
  public:
    // Catches SIGINT and SIGTERM from now on. `onRepeat`, when given, runs inside the handler for
    // every signal after the first, for what must happen at once when the user insists (the
    // program's loop may be stuck): async-signal-safe calls only, e.g. unlink() and _exit().
    explicit CStopSignals(void (*onRepeat)(int signalNumber) = nullptr);
    // Puts back the dispositions found at construction and closes the pipe.
    ~CStopSignals();
    CStopSignals(const CStopSignals&) = delete;
    CStopSignals& operator=(const CStopSignals&) = delete;

    // Empty when the signals are caught, else why not ("pipe2() failed: ..."); they then keep
    // the dispositions they had.
    const std::string& Error() const { return m_error; }

    // The first signal caught (SIGINT or SIGTERM), or 0.
    static int First();
    // How many were caught.
    static int Count();

    // Becomes readable with each signal caught (for poll() or an event loop's notifier); -1
    // when the signals are not caught. Read it with DrainWakeFd().
    int WakeFd() const { return m_wakeFd[0]; }
    // Empties the pipe, so that the next signal makes it readable again.
    void DrainWakeFd() const;

  private:
    int m_wakeFd[2] = {-1, -1};
    std::string m_error;
    bool m_isInstalled = false;
};
