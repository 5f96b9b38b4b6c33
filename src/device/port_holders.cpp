#include "device/port_holders.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <optional>

namespace {

// Major numbers of pseudo-terminal slaves under /dev/pts (Unix 98 ptys).
constexpr unsigned kFirstPtsMajor = 136;
constexpr unsigned kLastPtsMajor = 143;

struct DeviceId {
    bool isDevice = false;
    dev_t device = 0;  // st_rdev of a device, st_dev of a file
    ino_t inode = 0;   // files only
    bool Matches(const struct stat& info) const {
        if (isDevice) {
            return (S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode)) && info.st_rdev == device;
        }
        return info.st_dev == device && info.st_ino == inode;
    }
};

using DirHandle = std::unique_ptr<DIR, int (*)(DIR*)>;

bool IsDigits(const char* name) {
    if (*name == '\0') {
        return false;
    }
    for (; *name != '\0'; ++name) {
        if (*name < '0' || *name > '9') {
            return false;
        }
    }
    return true;
}

std::optional<pid_t> PidOf(const char* name) {
    if (!IsDigits(name)) {
        return std::nullopt;
    }
    const long value = std::strtol(name, nullptr, 10);
    return value > 0 ? std::optional<pid_t>(static_cast<pid_t>(value)) : std::nullopt;
}

// The small text files of /proc in one read each; empty when they cannot be read.
std::string ReadProcFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return {};
    }
    std::string text;
    char buffer[4096];
    ssize_t n = 0;
    while (text.size() < 65536 && (n = ::read(fd, buffer, sizeof buffer)) > 0) {
        text.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    return text;
}

std::string CommandOf(const std::string& processDir) {
    std::string command = ReadProcFile(processDir + "/cmdline");
    while (!command.empty() && command.back() == '\0') {
        command.pop_back();
    }
    std::replace(command.begin(), command.end(), '\0', ' ');
    if (command.empty()) {  // kernel threads and zombies have no command line
        command = ReadProcFile(processDir + "/comm");
        while (!command.empty() && command.back() == '\n') {
            command.pop_back();
        }
    }
    // One log line: no line breaks of a strange command line in it.
    std::replace_if(
        command.begin(), command.end(), [](char ch) { return ch == '\n' || ch == '\r'; }, ' ');
    return command;
}

// The index of the pseudo-terminal whose master the descriptor holds, from its fdinfo line
// "tty-index:".
std::optional<unsigned> MasterIndex(const std::string& fdinfoPath) {
    const std::string info = ReadProcFile(fdinfoPath);
    const std::size_t at = info.find("tty-index:");
    if (at == std::string::npos) {
        return std::nullopt;
    }
    return static_cast<unsigned>(std::strtoul(info.c_str() + at + 10, nullptr, 10));
}

struct Scan {
    bool holdsDevice = false;
    bool holdsMaster = false;
};

Scan ScanProcess(const std::string& processDir, const DeviceId& target,
                 std::optional<unsigned> ptsIndex, dev_t ptmxDevice) {
    Scan scan;
    const std::string fdDir = processDir + "/fd";
    DirHandle listing(::opendir(fdDir.c_str()), ::closedir);
    if (!listing) {
        return scan;  // not ours to read, or gone
    }
    while (const dirent* entry = ::readdir(listing.get())) {
        if (!IsDigits(entry->d_name)) {
            continue;  // "." and ".."
        }
        struct stat info {};
        if (::stat((fdDir + "/" + entry->d_name).c_str(), &info) != 0) {
            continue;
        }
        if (target.Matches(info)) {
            scan.holdsDevice = true;
        } else if (ptsIndex && S_ISCHR(info.st_mode) && info.st_rdev == ptmxDevice &&
                   MasterIndex(processDir + "/fdinfo/" + entry->d_name) == ptsIndex) {
            scan.holdsMaster = true;
        }
    }
    return scan;
}

}  // namespace

std::vector<PortHolder> FindPortHolders(const std::string& path, pid_t self) {
    std::vector<PortHolder> holders;
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        return holders;
    }
    DeviceId target;
    target.isDevice = S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode);
    target.device = target.isDevice ? info.st_rdev : info.st_dev;
    target.inode = info.st_ino;
    std::optional<unsigned> ptsIndex;
    dev_t ptmxDevice = 0;
    const unsigned major = ::major(info.st_rdev);
    if (S_ISCHR(info.st_mode) && major >= kFirstPtsMajor && major <= kLastPtsMajor) {
        ptsIndex = (major - kFirstPtsMajor) * 256 + ::minor(info.st_rdev);
        ptmxDevice = ::makedev(5, 2);  // /dev/ptmx
    }

    DirHandle proc(::opendir("/proc"), ::closedir);
    if (!proc) {
        return holders;
    }
    while (const dirent* entry = ::readdir(proc.get())) {
        const std::optional<pid_t> pid = PidOf(entry->d_name);
        if (!pid || *pid == self) {
            continue;
        }
        const std::string processDir = std::string("/proc/") + entry->d_name;
        const Scan scan = ScanProcess(processDir, target, ptsIndex, ptmxDevice);
        if (scan.holdsDevice && !scan.holdsMaster) {
            holders.push_back({*pid, CommandOf(processDir)});
        }
    }
    std::sort(holders.begin(), holders.end(),
              [](const PortHolder& a, const PortHolder& b) { return a.pid < b.pid; });
    return holders;
}

std::string PortHoldersLogLine(const std::string& name, const std::vector<PortHolder>& holders) {
    if (holders.empty()) {
        return {};
    }
    std::string line = "[" + name + "] Also open in ";
    for (std::size_t i = 0; i < holders.size(); ++i) {
        line += i == 0 ? "" : ", ";
        line += "PID " + std::to_string(holders[i].pid) + " (" + holders[i].command + ")";
    }
    line += ": " + std::string(holders.size() == 1 ? "it" : "they") +
            " may take the module's bytes.\r\n";
    return line;
}
