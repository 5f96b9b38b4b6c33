#include "device/port_enumerator.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <memory>

namespace {
constexpr const char* kPortPrefixes[] = {"ttyS", "ttyUSB", "ttyACM", "ttyAMA", "rfcomm"};

bool HasPortPrefix(const std::string& name) {
    for (const char* prefix : kPortPrefixes) {
        const std::string p(prefix);
        if (name.size() > p.size() && name.compare(0, p.size(), p) == 0) {
            return true;
        }
    }
    return false;
}
}  // namespace

bool ProbeComPort(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return false;  // missing, no hardware behind it (EIO), no permission, or held exclusively
    }
    const bool isFree = ::isatty(fd) && ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    ::close(fd);  // also drops the lock
    return isFree;
}

bool IsWatchedPortName(const std::string& name) {
    return name.compare(0, 3, "tty") == 0 || name.compare(0, 6, "rfcomm") == 0;
}

std::vector<std::string> EnumerateComPorts(const std::string& devDir,
                                           const std::vector<std::string>& extraNames) {
    std::vector<std::string> candidates;
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(devDir.c_str()), ::closedir);
    if (dir) {
        while (const dirent* entry = ::readdir(dir.get())) {
            const std::string name = entry->d_name;
            if (HasPortPrefix(name)) {
                candidates.push_back(devDir + "/" + name);
            }
        }
    }
    candidates.insert(candidates.end(), extraNames.begin(), extraNames.end());
    std::sort(candidates.begin(), candidates.end());
    candidates.erase(std::unique(candidates.begin(), candidates.end()), candidates.end());
    std::vector<std::string> ports;
    for (const std::string& path : candidates) {
        if (ProbeComPort(path)) {
            ports.push_back(path);
        }
    }
    return ports;
}
