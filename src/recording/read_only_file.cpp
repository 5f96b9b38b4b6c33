#include "recording/read_only_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "recording/recording_file.h"

int OpenRecordingForReading(const std::string& path) {
    return OpenRegularFileWithoutWaiting(path, O_RDONLY);
}

ssize_t ReadFully(int fd, void* buffer, std::size_t count) {
    auto* out = static_cast<char*>(buffer);
    std::size_t done = 0;
    while (done < count) {
        const ssize_t n = ::read(fd, out + done, count - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return -1;
        }
        if (n == 0) {
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    return static_cast<ssize_t>(done);
}
