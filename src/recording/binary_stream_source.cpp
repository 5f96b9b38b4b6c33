#include "recording/binary_stream_source.h"

#include <unistd.h>

#include <cerrno>

#include "recording/read_only_file.h"

CBinaryStreamSource::CBinaryStreamSource(int fd, const struct stat& status,
                                         bool stopAtUnknownHeader)
    : CRecordingSource(FileKind::kBinaryStream, fd, status),
      m_stopAtUnknownHeader(stopAtUnknownHeader) {
    uint8_t header[kBinaryRecordHeaderSize] = {};
    const ssize_t got = ::pread(fd, header, sizeof header, 0);
    if (got < 0) {
        m_errorNumber = errno;
    } else if (got == static_cast<ssize_t>(sizeof header)) {
        m_dataMode = DataModeOfRecordHeader(header);
        m_startsWithKnownHeader = IsKnownRecordHeader(header);
    }
}

SourceRead CBinaryStreamSource::Next(SourceFrame& frame) {
    if (m_isEnded) {
        return SourceRead::kEnd;
    }
    const uint64_t start = m_position;
    const ssize_t got = ReadFully(m_fd, m_record.data(), m_record.size());
    if (got < 0) {
        m_errorNumber = errno;
        return SourceRead::kError;
    }
    m_position += static_cast<uint64_t>(got);
    const uint64_t number = m_frameCount + 1;
    if (got != static_cast<ssize_t>(m_record.size())) {
        m_isEnded = true;
        if (got > 0) {
            Report({SourceProblemKind::kShortEnd, start, number, static_cast<uint64_t>(got)});
        }
        return SourceRead::kEnd;
    }
    const auto* chars = reinterpret_cast<const char*>(m_record.data());
    if (!IsKnownRecordHeader(m_record.data())) {
        Report({SourceProblemKind::kUnknownHeader, start, number, 0,
                std::string_view(chars, kBinaryRecordHeaderSize)});
        if (m_stopAtUnknownHeader) {
            m_isEnded = true;
            return SourceRead::kEnd;
        }
    }
    m_frameCount = number;
    frame = {};
    frame.kind = SourceFrameKind::kBlock;
    frame.number = number;
    frame.byteOffset = start;
    frame.modeLetter = ModeLetterOfRecord(m_record.data());
    frame.block = m_record.data() + kBinaryRecordHeaderSize;
    frame.header = std::string_view(chars, kBinaryRecordHeaderSize);
    frame.stored = std::string_view(chars, m_record.size());
    return SourceRead::kFrame;
}

bool CBinaryStreamSource::Rewind() {
    if (::lseek(m_fd, 0, SEEK_SET) != 0) {
        m_errorNumber = errno;
        return false;
    }
    m_position = 0;
    m_frameCount = 0;
    m_isEnded = false;
    return true;
}
