#pragma once
// CTtyMonitor (udev; its inotify counterpart is CDevWatcher): udev's announcements of tty
// devices being added or removed (a USB adapter plugged in or pulled). The owner waits on Fd()
// (the viewer through a socket notifier on the dialog thread) and calls DrainEvents when it is
// readable. Where no udev daemon runs the descriptor simply never becomes readable. Not
// thread-safe; one thread uses it.
struct udev;
struct udev_monitor;

class CTtyMonitor {
  public:
    CTtyMonitor();
    ~CTtyMonitor();
    CTtyMonitor(const CTtyMonitor&) = delete;
    CTtyMonitor& operator=(const CTtyMonitor&) = delete;

    bool IsValid() const { return m_monitor != nullptr; }
    int Fd() const;
    // Receives every pending announcement; true when a device was added or removed.
    bool DrainEvents();

  private:
    udev* m_udev = nullptr;
    udev_monitor* m_monitor = nullptr;
};
