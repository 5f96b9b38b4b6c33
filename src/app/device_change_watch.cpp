#include "app/device_change_watch.h"

#include <QSocketNotifier>

#include "device/dev_watcher.h"
#include "device/tty_monitor.h"

CDeviceChangeWatch::CDeviceChangeWatch() = default;

CDeviceChangeWatch::~CDeviceChangeWatch() = default;

void CDeviceChangeWatch::Start(std::function<void()> onChange) {
    m_onChange = std::move(onChange);
    m_pTtyMonitor = std::make_unique<CTtyMonitor>();
    if (m_pTtyMonitor->IsValid()) {
        m_pTtyNotifier =
            std::make_unique<QSocketNotifier>(m_pTtyMonitor->Fd(), QSocketNotifier::Read);
        connect(m_pTtyNotifier.get(), &QSocketNotifier::activated, this, [this] {
            if (m_pTtyMonitor->DrainEvents()) {
                m_onChange();
            }
        });
    }
    m_pDevWatcher = std::make_unique<CDevWatcher>("/dev");
    if (m_pDevWatcher->IsValid()) {
        m_pDevNotifier =
            std::make_unique<QSocketNotifier>(m_pDevWatcher->Fd(), QSocketNotifier::Read);
        connect(m_pDevNotifier.get(), &QSocketNotifier::activated, this, [this] {
            if (m_pDevWatcher->DrainEvents()) {
                m_onChange();
            }
        });
    }
}
