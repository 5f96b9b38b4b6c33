#include "outputs/csv_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

constexpr std::size_t kWriteBufferBytes = 1 << 20;

}  // namespace

CCsvFile::CCsvFile(OutputPlace place) : m_file(std::move(place)) {}

CCsvFile::~CCsvFile() {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

Status CCsvFile::Open() {
    if (Status created = m_file.Create(); !created) {
        return created;
    }
    m_fd = ::open(m_file.OpenPath().c_str(), O_WRONLY | O_CLOEXEC);
    if (m_fd < 0) {
        return Status::Failure(
            "cannot create '" + m_file.FinalPath() + "': " + std::strerror(errno), errno);
    }
    return {};
}

Status CCsvFile::Append(std::string_view bytes) {
    m_pending.append(bytes);
    if (m_file.IsGrowing() || m_pending.size() >= kWriteBufferBytes) {
        return WriteOut();
    }
    return {};
}

Status CCsvFile::WriteOut() {
    std::size_t done = 0;
    while (done < m_pending.size()) {
        const ssize_t written = ::pwrite(m_fd, m_pending.data() + done, m_pending.size() - done,
                                         static_cast<off_t>(m_written + done));
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            const int error = written == 0 ? ENOSPC : errno;
            // What the disk took of these lines is taken back: the file ends after a whole frame.
            if (done > 0 && ::ftruncate(m_fd, static_cast<off_t>(m_written)) != 0) {
                // Left as it is.
            }
            m_pending.clear();
            return Status::Failure(
                "cannot write '" + m_file.FinalPath() + "': " + std::strerror(error), error);
        }
        done += static_cast<std::size_t>(written);
    }
    m_written += done;
    m_pending.clear();
    return {};
}

Status CCsvFile::Finish() {
    if (Status written = WriteOut(); !written) {
        return written;
    }
    const int fd = m_fd;
    m_fd = -1;
    // Network file systems may report a failed write only here.
    if (::close(fd) != 0) {
        return Status::Failure("cannot write '" + m_file.FinalPath() + "': " + std::strerror(errno),
                               errno);
    }
    return m_file.Commit();
}

std::string CommentSafe(const std::string& name) {
    std::string out;
    std::size_t i = 0;
    while (i < name.size()) {
        const auto c = static_cast<unsigned char>(name[i]);
        std::size_t length = c < 0x80           ? 1
                             : (c >> 5) == 0x6  ? 2
                             : (c >> 4) == 0xE  ? 3
                             : (c >> 3) == 0x1E ? 4
                                                : 0;
        for (std::size_t k = 1; k < length; ++k) {
            if (i + k >= name.size() || (static_cast<unsigned char>(name[i + k]) >> 6) != 0x2) {
                length = 0;
            }
        }
        if (length == 0 || (length == 1 && (c < 0x20 || c == 0x7F))) {
            out += '?';
            ++i;
        } else {
            out.append(name, i, length);
            i += length;
        }
    }
    return out;
}
