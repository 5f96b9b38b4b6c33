#include "device/dev_watcher.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <cstring>

#include "device/port_enumerator.h"

CDevWatcher::CDevWatcher(const std::string& devDir) {
    m_fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_fd >= 0) {
        m_watch = ::inotify_add_watch(m_fd, devDir.c_str(),
                                      IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO);
    }
}

CDevWatcher::~CDevWatcher() {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

bool CDevWatcher::DrainEvents() {
    if (m_fd < 0) {
        return false;
    }
    bool isChanged = false;
    alignas(inotify_event) char buffer[4096];
    while (true) {
        const ssize_t got = ::read(m_fd, buffer, sizeof buffer);
        if (got <= 0) {
            break;
        }
        for (ssize_t pos = 0; pos < got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + pos);
            if (event->len > 0 && IsWatchedPortName(event->name)) {
                isChanged = true;
            }
            pos += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
    return isChanged;
}
