#include "recording/raw_frame_source.h"

#include <unistd.h>

#include <cerrno>

#include "recording/read_only_file.h"

CRawFrameSource::CRawFrameSource(int fd, const struct stat& status)
    : CRecordingSource(FileKind::kRawFrames, fd, status) {
    m_dataMode = kDataModeVoltage;
    m_startsWithKnownHeader = true;
}

SourceRead CRawFrameSource::Next(SourceFrame& frame) {
    if (m_isEnded) {
        return SourceRead::kEnd;
    }
    const uint64_t start = m_position;
    const ssize_t got = ReadFully(m_fd, m_bytes.data(), m_bytes.size());
    if (got < 0) {
        m_errorNumber = errno;
        return SourceRead::kError;
    }
    m_position += static_cast<uint64_t>(got);
    if (got != static_cast<ssize_t>(m_bytes.size())) {
        m_isEnded = true;
        if (got > 0) {
            Report({SourceProblemKind::kShortEnd, start, m_frameCount + 1,
                    static_cast<uint64_t>(got)});
        }
        return SourceRead::kEnd;
    }
    RawFrameToHost(m_bytes.data(), m_values.data());
    frame = {};
    frame.kind = SourceFrameKind::kRawValues;
    frame.number = ++m_frameCount;
    frame.byteOffset = start;
    frame.values = m_values.data();
    frame.stored = std::string_view(reinterpret_cast<const char*>(m_bytes.data()), m_bytes.size());
    return SourceRead::kFrame;
}

bool CRawFrameSource::Rewind() {
    if (::lseek(m_fd, 0, SEEK_SET) != 0) {
        m_errorNumber = errno;
        return false;
    }
    m_position = 0;
    m_frameCount = 0;
    m_isEnded = false;
    return true;
}
