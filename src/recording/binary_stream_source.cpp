#include "recording/binary_stream_source.h"

#include <unistd.h>

#include <cerrno>

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
    uint64_t start = 0;
    const SourceRead read = ReadRecordBytes(m_record.data(), m_record.size(), start);
    if (read != SourceRead::kFrame) {
        return read;
    }
    const uint64_t number = m_frameCount + 1;
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
