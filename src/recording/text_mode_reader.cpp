#include "recording/text_mode_reader.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

CTextModeReader::CTextModeReader(std::size_t bufferSize)
    : m_buffer(std::max<std::size_t>(bufferSize, 1)) {}

void CTextModeReader::Attach(int fd) {
    m_fd = fd;
    Rewind();
}

void CTextModeReader::Detach() {
    m_fd = -1;
    m_next = m_filled = 0;
    m_bufferOffset = 0;
    m_readError = 0;
}

int CTextModeReader::Rewind() {
    m_next = m_filled = 0;
    m_bufferOffset = 0;
    m_readError = 0;
    return m_fd >= 0 && ::lseek(m_fd, 0, SEEK_SET) == 0 ? 1 : 0;
}

bool CTextModeReader::Fill() {
    m_bufferOffset += m_filled;
    m_next = m_filled = 0;
    if (m_fd < 0) {
        return false;
    }
    for (;;) {
        const ssize_t n = ::read(m_fd, m_buffer.data(), m_buffer.size());
        if (n > 0) {
            m_filled = static_cast<std::size_t>(n);
            return true;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            m_readError = errno;
        }
        return false;
    }
}

int CTextModeReader::ReadLine(std::string& out, TextLineEnd* end) {
    std::size_t taken = 0;  // bytes of this line taken from the file, its line feed excluded
    bool endsInCr = false;
    for (;;) {
        if (m_next == m_filled && !Fill()) {
            if (taken == 0) {
                return 0;
            }
            if (end != nullptr) {
                *end = TextLineEnd::kEndOfFile;
            }
            return 1;
        }
        const char* begin = m_buffer.data() + m_next;
        const std::size_t available = m_filled - m_next;
        const auto* lineFeed = static_cast<const char*>(std::memchr(begin, '\n', available));
        const std::size_t length =
            lineFeed == nullptr ? available : static_cast<std::size_t>(lineFeed - begin);
        if (length > 0) {
            const std::size_t room = kMaxTextLineBytes - std::min(taken, kMaxTextLineBytes);
            out.append(begin, std::min(length, room));
            taken += length;
            endsInCr = begin[length - 1] == '\r';
        }
        m_next += length;
        if (lineFeed != nullptr) {
            ++m_next;
            // CR LF reads as one line feed; the CR goes only if it was kept (the line not cut).
            if (endsInCr && taken <= kMaxTextLineBytes) {
                out.pop_back();
            }
            if (end != nullptr) {
                *end = endsInCr ? TextLineEnd::kCrLf : TextLineEnd::kLineFeed;
            }
            return 1;
        }
    }
}
