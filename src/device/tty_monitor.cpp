#include "device/tty_monitor.h"

#include <libudev.h>

#include <cstring>

CTtyMonitor::CTtyMonitor() {
    m_udev = udev_new();
    if (m_udev == nullptr) {
        return;
    }
    m_monitor = udev_monitor_new_from_netlink(m_udev, "udev");
    if (m_monitor == nullptr) {
        return;
    }
    if (udev_monitor_filter_add_match_subsystem_devtype(m_monitor, "tty", nullptr) < 0 ||
        udev_monitor_enable_receiving(m_monitor) < 0) {
        udev_monitor_unref(m_monitor);
        m_monitor = nullptr;
    }
}

CTtyMonitor::~CTtyMonitor() {
    if (m_monitor != nullptr) {
        udev_monitor_unref(m_monitor);
    }
    if (m_udev != nullptr) {
        udev_unref(m_udev);
    }
}

int CTtyMonitor::Fd() const {
    return m_monitor ? udev_monitor_get_fd(m_monitor) : -1;
}

bool CTtyMonitor::DrainEvents() {
    if (m_monitor == nullptr) {
        return false;
    }
    bool isChanged = false;
    // The monitor's socket is non-blocking: receive_device returns null once drained.
    while (udev_device* device = udev_monitor_receive_device(m_monitor)) {
        const char* action = udev_device_get_action(device);
        if (action != nullptr &&
            (std::strcmp(action, "add") == 0 || std::strcmp(action, "remove") == 0)) {
            isChanged = true;
        }
        udev_device_unref(device);
    }
    return isChanged;
}
