#include "outputs/seekable_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

// Large enough that the file is written in few system calls, small enough that the last pages
// a TIFF writer goes back to are still in memory.
constexpr std::size_t kFlushBytes = 1 << 20;

}  // namespace

CSeekableFile::CSeekableFile(OutputPlace place) : m_file(std::move(place)) {}

CSeekableFile::~CSeekableFile() {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

Status CSeekableFile::Open() {
    if (Status created = m_file.Create(); !created) {
        return created;
    }
    // Read as well as written: a TIFF writer reads back the page it links to the next.
    m_fd = ::open(m_file.OpenPath().c_str(), O_RDWR | O_CLOEXEC);
    if (m_fd < 0) {
        return Status::Failure(
            "cannot create '" + m_file.FinalPath() + "': " + std::strerror(errno), errno);
    }
    m_pending.reserve(kFlushBytes + kFlushBytes / 4);
    return {};
}

Status CSeekableFile::WriteAt(uint64_t offset, const void* data, std::size_t size) {
    if (!m_failure) {
        return m_failure;
    }
    if (offset >= m_pendingStart) {
        const std::size_t at = static_cast<std::size_t>(offset - m_pendingStart);
        if (m_pending.size() < at + size) {
            m_pending.resize(at + size);
        }
        std::memcpy(m_pending.data() + at, data, size);
        return m_pending.size() < kFlushBytes ? Status() : Flush();
    }
    // Back on disk; across the boundary the memory goes out first.
    if (offset + size > m_pendingStart) {
        if (Status flushed = Flush(); !flushed) {
            return flushed;
        }
    }
    const auto* bytes = static_cast<const uint8_t*>(data);
    while (size > 0) {
        const ssize_t written = ::pwrite(m_fd, bytes, size, static_cast<off_t>(offset));
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            errno = written == 0 ? ENOSPC : errno;
            return Fail("write");
        }
        bytes += written;
        offset += static_cast<uint64_t>(written);
        size -= static_cast<std::size_t>(written);
    }
    return {};
}

Result<std::size_t> CSeekableFile::ReadAt(uint64_t offset, void* data, std::size_t size) {
    if (!m_failure) {
        return m_failure;
    }
    const uint64_t end = Size();
    if (offset >= end) {
        return std::size_t{0};
    }
    if (size > end - offset) {
        size = static_cast<std::size_t>(end - offset);
    }
    if (offset >= m_pendingStart) {
        std::memcpy(data, m_pending.data() + (offset - m_pendingStart), size);
        return size;
    }
    if (offset + size > m_pendingStart) {
        if (Status flushed = Flush(); !flushed) {
            return flushed;
        }
    }
    auto* bytes = static_cast<uint8_t*>(data);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t got =
            ::pread(m_fd, bytes + done, size - done, static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return Fail("read");
        }
        if (got == 0) {
            break;
        }
        done += static_cast<std::size_t>(got);
    }
    return done;
}

Status CSeekableFile::Flush() {
    if (!m_failure) {
        return m_failure;
    }
    const uint8_t* bytes = m_pending.data();
    std::size_t size = m_pending.size();
    while (size > 0) {
        const ssize_t written = ::pwrite(m_fd, bytes, size, static_cast<off_t>(m_pendingStart));
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            // Nothing written and no errno: the disk is full.
            errno = written == 0 ? ENOSPC : errno;
            return Fail("write");
        }
        bytes += written;
        size -= static_cast<std::size_t>(written);
        m_pendingStart += static_cast<uint64_t>(written);
    }
    m_pending.clear();
    return {};
}

Status CSeekableFile::Fail(const char* verb) {
    if (m_failure) {
        m_failure = Status::Failure(std::string("cannot ") + verb + " '" + m_file.FinalPath() +
                                        "': " + std::strerror(errno),
                                    errno);
    }
    return m_failure;
}

Status CSeekableFile::Finish() {
    if (Status flushed = Flush(); !flushed) {
        return flushed;
    }
    const int fd = m_fd;
    m_fd = -1;
    if (::close(fd) != 0) {
        // Network file systems may report a failed write only here.
        return Fail("write");
    }
    return m_file.Commit();
}
