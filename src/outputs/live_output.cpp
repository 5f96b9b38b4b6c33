#include "outputs/live_output.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace {
// How long one look at the reader waits before `mayWait` is asked again.
constexpr int kPollWaitMs = 10;
}  // namespace

CLiveOutput::CLiveOutput(int fd) : m_fd(fd) {
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        return;  // the first write says what is wrong
    }
    if (S_ISSOCK(info.st_mode)) {
        m_isSocket = true;
        return;
    }
    if (!S_ISFIFO(info.st_mode) && !S_ISCHR(info.st_mode)) {
        return;
    }
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    m_ownFd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (m_ownFd >= 0) {
        m_fd = m_ownFd;
    } else {
        // No /proc, or no right to open it again: the shared descriptor, each write waited for
        // with poll() first. Only a reader that stops in the middle of a write can hold it then.
        m_mayBlock = true;
    }
}

CLiveOutput::~CLiveOutput() {
    if (m_ownFd >= 0) {
        ::close(m_ownFd);
    }
}

Result<std::size_t> CLiveOutput::Write(std::string_view bytes,
                                       const std::function<bool(std::size_t)>& mayWait) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        if (m_mayBlock) {
            pollfd ready{m_fd, POLLOUT, 0};
            if (::poll(&ready, 1, 0) == 0) {
                if (!mayWait(done)) {
                    return done;
                }
                ::poll(&ready, 1, kPollWaitMs);
                continue;
            }
        }
        const ssize_t written = m_isSocket
                                    ? ::send(m_fd, bytes.data() + done, bytes.size() - done,
                                             MSG_DONTWAIT | MSG_NOSIGNAL)
                                    : ::write(m_fd, bytes.data() + done, bytes.size() - done);
        if (written > 0) {
            done += static_cast<std::size_t>(written);
            continue;
        }
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            return Status::CallFailed(m_isSocket ? "send()" : "write()", errno);
        }
        if (!mayWait(done)) {
            return done;
        }
        pollfd ready{m_fd, POLLOUT, 0};
        ::poll(&ready, 1, kPollWaitMs);
    }
    return done;
}
