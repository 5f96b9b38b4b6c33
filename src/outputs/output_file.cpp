#include "outputs/output_file.h"

#include <fcntl.h>
#include <limits.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>

namespace {

// The temporaries a second signal removes when it ends the process at once. A slot's path is
// written only while its flag is clear, so the signal handler never reads a path being written.
constexpr int kSlotCount = 4;
char g_temporaryPaths[kSlotCount][PATH_MAX];
volatile sig_atomic_t g_slotInUse[kSlotCount];

int RegisterTemporary(const std::string& path) {
    if (path.size() >= PATH_MAX) {
        return -1;
    }
    for (int slot = 0; slot < kSlotCount; ++slot) {
        if (!g_slotInUse[slot]) {
            std::memcpy(g_temporaryPaths[slot], path.c_str(), path.size() + 1);
            std::atomic_signal_fence(std::memory_order_seq_cst);
            g_slotInUse[slot] = 1;
            return slot;
        }
    }
    return -1;
}

bool SameFile(const struct stat& a, dev_t device, ino_t inode) {
    return a.st_dev == device && a.st_ino == inode;
}

// Whether a file of status `info` (of `path`) may be replaced: a regular file that is not the
// input.
Status CheckKind(const std::string& path, const struct stat& info, dev_t inputDevice,
                 ino_t inputInode) {
    if (S_ISDIR(info.st_mode)) {
        return Status::Failure("cannot write '" + path + "': it is a directory", EISDIR);
    }
    if (!S_ISREG(info.st_mode)) {
        return Status::Failure("cannot write '" + path + "': it is not a regular file", EINVAL);
    }
    if (SameFile(info, inputDevice, inputInode)) {
        return Status::Failure("cannot write '" + path + "': it is the input");
    }
    return {};
}

Status CheckFailed(const char* what, const std::string& path) {
    return Status::Failure(
        std::string("cannot ") + what + " '" + path + "': " + std::strerror(errno), errno);
}

// The status of what is at `path`, or nothing when the name is free, if it may be replaced:
// missing, or a regular file that is not the input.
Result<std::optional<struct stat>> CheckReplaceable(const std::string& path, dev_t inputDevice,
                                                    ino_t inputInode) {
    struct stat existing {};
    if (::lstat(path.c_str(), &existing) != 0) {
        if (errno == ENOENT) {
            return std::optional<struct stat>();
        }
        return CheckFailed("check", path);
    }
    if (Status kind = CheckKind(path, existing, inputDevice, inputInode); !kind) {
        return kind;
    }
    return std::optional<struct stat>(existing);
}

// The process's file mode creation mask, read without changing it.
mode_t CurrentUmask() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("Umask:", 0) == 0) {
            return static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8) & 0777);
        }
    }
    // Before Linux 4.7: set and restore (the conversion creates no file on another thread).
    const mode_t mask = ::umask(022);
    ::umask(mask);
    return mask;
}

// Opens the existing output `path` for writing without truncating it, as a writer would, so
// that the kernel applies its rules (permissions, read-only file systems, protected links), and
// checks what it reached. Returns the file reached: `path` itself, or for a link the real path
// of its target.
Result<std::string> CheckWritable(const std::string& path, bool isLink, const struct stat& input) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        return CheckFailed("write", path);
    }
    Result<std::string> target = path;
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        target = CheckFailed("check", path);
    } else if (Status kind = CheckKind(path, info, input.st_dev, input.st_ino); !kind) {
        target = kind;
    } else if (isLink) {
        char real[PATH_MAX];
        const std::string link = "/proc/self/fd/" + std::to_string(fd);
        const ssize_t length = ::readlink(link.c_str(), real, sizeof real);
        if (length <= 0 || static_cast<std::size_t>(length) >= sizeof real || real[0] != '/') {
            target =
                Status::Failure("cannot follow the link '" + path + "': " +
                                (length < 0 ? std::strerror(errno) : "its target has no path"));
        } else if (info.st_nlink == 0) {
            target =
                Status::Failure("cannot follow the link '" + path + "': its target was removed");
        } else {
            target = std::string(real, static_cast<std::size_t>(length));
        }
    }
    ::close(fd);
    return target;
}

// Whether the directory of `path` takes a new file (the output is written beside its final
// name), as far as permissions and a read-only file system tell: the effective IDs decide, as
// they will when the file is created.
Status CheckDirectory(const std::string& path) {
    const std::string directory = DirectoryOf(path);
    if (::faccessat(AT_FDCWD, directory.c_str(), W_OK | X_OK, AT_EACCESS) != 0 &&
        (errno == EACCES || errno == EPERM || errno == EROFS)) {
        return Status::Failure("cannot create files in '" + directory + "' for '" + path +
                                   "': " + std::strerror(errno),
                               errno);
    }
    return {};
}

}  // namespace

// Inside the signal handler: async-signal-safe calls only.
void DiscardTemporariesAndExit(int signalNumber) {
    for (int slot = 0; slot < kSlotCount; ++slot) {
        if (g_slotInUse[slot]) {
            ::unlink(g_temporaryPaths[slot]);
        }
    }
    ::_exit(128 + signalNumber);
}

Result<std::string> ResolveOutputPath(const std::string& path, const struct stat& input) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) {
        if (errno != ENOENT) {
            return CheckFailed("check", path);
        }
        if (Status directory = CheckDirectory(path); !directory) {
            return directory;
        }
        return path;
    }
    const bool isLink = S_ISLNK(info.st_mode);
    // Only to tell what a link reaches; writing through it is left to open() in CheckWritable,
    // which follows it by the kernel's rules.
    if (isLink && ::stat(path.c_str(), &info) != 0) {
        return errno == ENOENT
                   ? Status::Failure("cannot write '" + path + "': it is a link to nothing", ENOENT)
                   : CheckFailed("follow the link", path);
    }
    // Never open a directory, a device or a FIFO, not even to check it.
    if (Status kind = CheckKind(path, info, input.st_dev, input.st_ino); !kind) {
        return kind;
    }
    Result<std::string> target = CheckWritable(path, isLink, input);
    if (!target) {
        return target;
    }
    if (Status directory = CheckDirectory(*target); !directory) {
        return directory;
    }
    return target;
}

COutputFile::COutputFile(OutputPlace place) : m_place(std::move(place)) {}

COutputFile::~COutputFile() {
    if (!m_isDone) {
        Discard();
    }
    if (m_slot >= 0) {
        g_slotInUse[m_slot] = 0;
    }
    if (m_growingFd >= 0) {
        ::close(m_growingFd);
    }
}

Status COutputFile::Create() {
    if (IsGrowing()) {
        m_growingFd = CreateRecordingFile(m_place.path, m_place.creation);
        if (m_growingFd < 0) {
            return Status::Failure(RecordingCreateError(m_place.path, errno), errno);
        }
        m_openPath = "/proc/self/fd/" + std::to_string(m_growingFd);
        return {};
    }
    // Private while it is written; Commit gives it its mode.
    if (!m_pending.Create(m_place.path, 0600)) {
        m_openPath.clear();
        return Status::Failure(
            "cannot create a temporary file beside '" + m_place.path + "': " + std::strerror(errno),
            errno);
    }
    m_openPath = m_pending.Path();
    if (!m_pending.IsUnnamed()) {
        m_slot = RegisterTemporary(m_openPath);
    }
    return {};
}

Status COutputFile::Commit() {
    if (IsGrowing()) {
        m_isDone = true;
        return {};
    }
    const Result<std::optional<struct stat>> replaceable =
        CheckReplaceable(m_place.path, m_place.input.st_dev, m_place.input.st_ino);
    Status status = replaceable.GetStatus();
    if (replaceable) {
        const std::optional<struct stat>& existing = *replaceable;
        const bool exists = existing.has_value();
        const int fd = m_pending.Descriptor();
        // Owner first: changing it may clear set-user-ID and set-group-ID bits. An ordinary
        // user may give a file only a group of their own, and some file systems take neither:
        // the file is then theirs, as when they write a new one.
        if (exists && ::fchown(fd, existing->st_uid, existing->st_gid) != 0 &&
            ::fchown(fd, static_cast<uid_t>(-1), existing->st_gid) != 0) {
            // Theirs, with their group.
        }
        // File systems without modes (FAT) refuse; there the mode means nothing anyway.
        const mode_t mode = exists ? (existing->st_mode & 07777) : (0666 & ~CurrentUmask());
        if (::fchmod(fd, mode) != 0) {
            // As written.
        }
    }
    const bool isUnnamed = m_pending.IsUnnamed();
    if (status && !m_pending.Publish(m_place.path)) {
        status = isUnnamed ? CheckFailed("write", m_place.path)
                           : Status::Failure("cannot rename '" + m_openPath + "' to '" +
                                                 m_place.path + "': " + std::strerror(errno),
                                             errno);
    }
    if (!status) {
        Discard();
        return status;
    }
    m_isDone = true;
    return {};
}

void COutputFile::Discard() {
    m_pending.Discard();
    m_isDone = true;
}

std::string COutputFile::InFinalTerms(std::string text) const {
    if (m_openPath.empty()) {
        return text;
    }
    for (std::size_t at = text.find(m_openPath); at != std::string::npos;
         at = text.find(m_openPath, at + m_place.path.size())) {
        text.replace(at, m_openPath.size(), m_place.path);
    }
    return text;
}
