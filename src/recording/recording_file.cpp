#include "recording/recording_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

int FailWith(int fd, int error) {
    if (fd >= 0) {
        ::close(fd);
    }
    errno = error;
    return -1;
}

int KindError(mode_t mode) {
    return S_ISDIR(mode) ? EISDIR : EINVAL;
}

}  // namespace

int OpenRegularFileWithoutWaiting(const std::string& path, int flags, int mode) {
    // A device is never opened at all: opening one can have effects of its own (a serial line
    // raises its control lines). A FIFO would block the open until the other side came.
    struct stat existing {};
    if (::stat(path.c_str(), &existing) == 0 && !S_ISREG(existing.st_mode)) {
        return FailWith(-1, KindError(existing.st_mode));
    }
    const int fd = ::open(path.c_str(), flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, mode);
    if (fd < 0) {
        // A FIFO put there since the look, with nobody on the other side.
        return FailWith(-1, errno == ENXIO ? EINVAL : errno);
    }
    struct stat opened {};
    if (::fstat(fd, &opened) != 0) {
        return FailWith(fd, errno);
    }
    if (!S_ISREG(opened.st_mode)) {
        return FailWith(fd, KindError(opened.st_mode));
    }
    const int fileFlags = ::fcntl(fd, F_GETFL);
    if (fileFlags < 0 || ::fcntl(fd, F_SETFL, fileFlags & ~O_NONBLOCK) != 0) {
        return FailWith(fd, errno);
    }
    return fd;
}

int CreateRecordingFile(const std::string& path, RecordingFileCreation creation) {
    if (creation == RecordingFileCreation::kNewFileOnly) {
        // O_EXCL never follows a link and never opens what is there, a FIFO included.
        return ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    }
    const int fd = OpenRegularFileWithoutWaiting(path, O_WRONLY | O_CREAT, 0666);
    if (fd >= 0 && ::ftruncate(fd, 0) != 0) {
        return FailWith(fd, errno);
    }
    return fd;
}

std::string RecordingCreateReason(int error) {
    return error == EINVAL   ? "it is not a regular file"
           : error == EEXIST ? "a file of that name exists"
                             : std::strerror(error);
}

std::string RecordingCreateError(const std::string& path, int error) {
    return "cannot create '" + path + "': " + RecordingCreateReason(error);
}
