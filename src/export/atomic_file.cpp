#include "export/atomic_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

int CreateTemporaryFor(const std::string& path, std::string& temporary) {
    const std::string base = path + ".part" + std::to_string(static_cast<long>(::getpid()));
    constexpr int kAttempts = 1000;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        temporary = attempt == 0 ? base : base + "." + std::to_string(attempt);
        const int fd =
            ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_TRUNC | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) {
            return fd;
        }
    }
    return -1;  // errno is EEXIST
}

bool WriteFileAtomically(const std::string& path, const void* data, std::size_t size) {
    std::string temporary;
    const int fd = CreateTemporaryFor(path, temporary);
    if (fd < 0) {
        return false;
    }
    const auto* bytes = static_cast<const char*>(data);
    bool ok = true;
    while (size > 0) {
        const ssize_t written = ::write(fd, bytes, size);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            ok = false;
            break;
        }
        bytes += written;
        size -= static_cast<std::size_t>(written);
    }
    // close() reports deferred write errors (full disk on network file systems).
    if (::close(fd) != 0) {
        ok = false;
    }
    if (ok && std::rename(temporary.c_str(), path.c_str()) != 0) {
        ok = false;
    }
    if (!ok) {
        std::remove(temporary.c_str());
    }
    return ok;
}
