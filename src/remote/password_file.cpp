#include "remote/password_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/one_line.h"

namespace {

Status FileFault(const std::string& path, const std::string& why) {
    return Status::Failure("cannot read the password file '" + OneLine(path) + "': " + why);
}

const char* KindOf(mode_t mode) {
    if (S_ISDIR(mode)) {
        return "a directory";
    }
    if (S_ISFIFO(mode)) {
        return "a FIFO";
    }
    if (S_ISCHR(mode) || S_ISBLK(mode)) {
        return "a device";
    }
    if (S_ISSOCK(mode)) {
        return "a socket";
    }
    return "not a regular file";
}

// Closes the descriptor on every way out.
class CFileDescriptor {
  public:
    explicit CFileDescriptor(int fd) : m_fd(fd) {}
    ~CFileDescriptor() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    CFileDescriptor(const CFileDescriptor&) = delete;
    CFileDescriptor& operator=(const CFileDescriptor&) = delete;
    int Get() const { return m_fd; }

  private:
    int m_fd;
};

}  // namespace

Result<std::string> ReadPasswordFile(const std::string& path) {
    // O_NONBLOCK: opening a FIFO would wait for a writer; what it is gets checked first.
    const CFileDescriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (file.Get() < 0) {
        return FileFault(path, std::strerror(errno));
    }
    struct stat info {};
    if (::fstat(file.Get(), &info) != 0) {
        return FileFault(path, Status::CallFailed("fstat()", errno).Message());
    }
    if (!S_ISREG(info.st_mode)) {
        return FileFault(path, std::string("it is ") + KindOf(info.st_mode));
    }
    if ((info.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
        return Status::Failure("permissions " + std::string(mode) + " for '" + OneLine(path) +
                               "' are too open: a password file must be private to its owner "
                               "(chmod 600)");
    }
    // The longest password, then room to see its line end ("\r\n") or that the line goes on.
    std::string bytes(kMaxPasswordBytes + 2, '\0');
    std::size_t size = 0;
    while (size < bytes.size()) {
        const ssize_t got = ::read(file.Get(), bytes.data() + size, bytes.size() - size);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return FileFault(path, Status::CallFailed("read()", errno).Message());
        }
        if (got == 0) {
            break;
        }
        size += static_cast<std::size_t>(got);
    }
    bytes.resize(size);
    std::string line = bytes.substr(0, bytes.find('\n'));
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    if (line.size() > kMaxPasswordBytes) {
        return FileFault(
            path, "its first line is longer than " + std::to_string(kMaxPasswordBytes) + " bytes");
    }
    return line;
}
