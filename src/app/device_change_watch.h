#pragma once
// CDeviceChangeWatch: tells the main window when serial devices may have come or gone, so that
// its port list follows adapters being plugged in and pulled. udev announces adapters where its
// daemon runs; inotify on /dev covers systems without one (containers). Either may be missing;
// the list then only changes at START. GUI thread only: both are read through socket notifiers.
#include <QObject>
#include <functional>
#include <memory>

class CDevWatcher;
class CTtyMonitor;
class QSocketNotifier;

class CDeviceChangeWatch : public QObject {
  public:
    CDeviceChangeWatch();
    ~CDeviceChangeWatch() override;

    // Starts watching; onChange runs on the GUI thread after each batch of changes that touched
    // a port-like device. Once only.
    void Start(std::function<void()> onChange);

  private:
    std::function<void()> m_onChange;
    std::unique_ptr<CTtyMonitor> m_pTtyMonitor;
    std::unique_ptr<CDevWatcher> m_pDevWatcher;
    // Declared after the watchers they read, so that they go first.
    std::unique_ptr<QSocketNotifier> m_pTtyNotifier;
    std::unique_ptr<QSocketNotifier> m_pDevNotifier;
};
