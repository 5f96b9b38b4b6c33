#include "export/atomic_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <system_error>

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
    std::string temporary;
    const int fd = CreateTemporaryFor(path, temporary);
    if (fd < 0) {
        return Fail(path, errno, error);
    }
    const auto* bytes = static_cast<const char*>(data);
    int failure = 0;  // errno of the first step that failed
    while (size > 0) {
        const ssize_t written = ::write(fd, bytes, size);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            // write() returning 0 for a non-empty buffer means the device took nothing.
            failure = written < 0 ? errno : ENOSPC;
            break;
        }
        bytes += written;
        size -= static_cast<std::size_t>(written);
    }
    // close() reports deferred write errors (full disk on network file systems).
    if (::close(fd) != 0 && failure == 0) {
        failure = errno;
    }
    if (failure == 0 && std::rename(temporary.c_str(), path.c_str()) != 0) {
        failure = errno;
    }
    if (failure != 0) {
        std::remove(temporary.c_str());
        return Fail(path, failure, error);
    }
    return true;
}
