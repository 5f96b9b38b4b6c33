#pragma once
// CDevWatcher (inotify; its udev counterpart is CTtyMonitor): notices serial devices appearing
// in and disappearing from /dev by watching the directory, which works where no udev daemon
// announces them (containers, minimal images). The owner waits on Fd() (the viewer through a
// socket notifier on the dialog thread) and calls DrainEvents when it is readable. Not
// thread-safe; one thread uses it.
#include <string>

class CDevWatcher {
  public:
    // Watches `devDir` ("/dev" in the viewer). IsValid() is false when inotify is unavailable.
    explicit CDevWatcher(const std::string& devDir);
    ~CDevWatcher();
    CDevWatcher(const CDevWatcher&) = delete;
    CDevWatcher& operator=(const CDevWatcher&) = delete;

    bool IsValid() const { return m_fd >= 0 && m_watch >= 0; }
    int Fd() const { return m_fd; }
    // Reads every pending event without blocking; true when a port-like entry (tty*, rfcomm*)
    // was created, deleted or renamed.
    bool DrainEvents();

  private:
    int m_fd = -1;
    int m_watch = -1;
};
