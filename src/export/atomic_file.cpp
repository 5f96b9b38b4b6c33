#include "export/atomic_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <system_error>

namespace {

// Where the unnamed file of descriptor `fd` is reached (and linked from).
std::string DescriptorPath(int fd) {
    return "/proc/self/fd/" + std::to_string(fd);
}

// The name a complete file takes for a moment, or a temporary is written under, beside `path`:
// `path` + ".part" + the process ID, then with "." and a counter while the name is taken.
std::string TemporaryName(const std::string& path, int attempt) {
    const std::string base = path + ".part" + std::to_string(static_cast<long>(::getpid()));
    return attempt == 0 ? base : base + "." + std::to_string(attempt);
}

constexpr int kTemporaryNameAttempts = 1000;

}  // namespace

std::string DirectoryOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

int CreateTemporaryFor(const std::string& path, std::string& temporary, mode_t mode) {
    for (int attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
        temporary = TemporaryName(path, attempt);
        const int fd =
            ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_TRUNC | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST) {
            return fd;
        }
    }
    return -1;  // errno is EEXIST
}

bool CPendingFile::Create(const std::string& finalPath, mode_t mode) {
    Discard();
#ifdef O_TMPFILE
    // Without /proc the unnamed file could be neither reopened nor linked.
    if (::access("/proc/self/fd", X_OK) == 0) {
        const int fd =
            ::open(DirectoryOf(finalPath).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
        if (fd >= 0) {
            m_fd = fd;
            m_path = DescriptorPath(fd);
            m_isUnnamed = true;
            return true;
        }
        // The file systems that have no unnamed files say so in one of these ways.
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
            return false;
        }
    }
#endif
    const int fd = CreateTemporaryFor(finalPath, m_path, mode);
    if (fd < 0) {
        const int error = errno;
        m_path.clear();
        errno = error;
        return false;
    }
    m_fd = fd;
    m_isUnnamed = false;
    return true;
}

bool CPendingFile::Publish(const std::string& finalPath) {
    int failure = 0;
    if (!m_isUnnamed) {
        // close() reports deferred write errors (full disk on network file systems, which
        // have no unnamed files).
        const int closed = ::close(m_fd);
        m_fd = -1;
        if (closed != 0 || std::rename(m_path.c_str(), finalPath.c_str()) != 0) {
            failure = errno;
        }
    } else if (::linkat(AT_FDCWD, m_path.c_str(), AT_FDCWD, finalPath.c_str(), AT_SYMLINK_FOLLOW) !=
               0) {
        failure = errno;
        if (failure == EEXIST) {
            // A name cannot be replaced by a link: link under a free name, then rename that
            // over the existing file. A kill between the two steps leaves that name.
            failure = 0;
            std::string temporary;
            for (int attempt = 0;; ++attempt) {
                temporary = TemporaryName(finalPath, attempt);
                if (::linkat(AT_FDCWD, m_path.c_str(), AT_FDCWD, temporary.c_str(),
                             AT_SYMLINK_FOLLOW) == 0) {
                    break;
                }
                if (errno != EEXIST || attempt + 1 == kTemporaryNameAttempts) {
                    failure = errno;
                    temporary.clear();
                    break;
                }
            }
            if (failure == 0 && std::rename(temporary.c_str(), finalPath.c_str()) != 0) {
                failure = errno;
                ::unlink(temporary.c_str());
            }
        }
    }
    if (failure != 0) {
        Discard();
        errno = failure;
        return false;
    }
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    m_path.clear();
    m_isUnnamed = false;
    return true;
}

void CPendingFile::Discard() {
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    if (!m_isUnnamed && !m_path.empty()) {
        ::unlink(m_path.c_str());
    }
    m_path.clear();
    m_isUnnamed = false;
}

namespace {

bool Fail(const std::string& path, int errorNumber, std::string* error) {
    if (error != nullptr) {
        *error = "cannot write '" + path + "': " + std::generic_category().message(errorNumber);
    }
    return false;
}

}  // namespace

bool WriteFileAtomically(const std::string& path, const void* data, std::size_t size,
                         std::string* error) {
    CPendingFile file;
    if (!file.Create(path)) {
        return Fail(path, errno, error);
    }
    const auto* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t written = ::write(file.Descriptor(), bytes, size);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            // write() returning 0 for a non-empty buffer means the device took nothing.
            return Fail(path, written < 0 ? errno : ENOSPC, error);
        }
        bytes += written;
        size -= static_cast<std::size_t>(written);
    }
    if (!file.Publish(path)) {
        return Fail(path, errno, error);
    }
    return true;
}
