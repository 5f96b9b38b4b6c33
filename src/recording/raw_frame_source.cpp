#include "recording/raw_frame_source.h"

CRawFrameSource::CRawFrameSource(int fd, const struct stat& status)
    : CRecordingSource(FileKind::kRawFrames, fd, status) {
    m_dataMode = kDataModeVoltage;
    m_startsWithKnownHeader = true;
}

SourceRead CRawFrameSource::Next(SourceFrame& frame) {
    uint64_t start = 0;
    const SourceRead read = ReadRecordBytes(m_bytes.data(), m_bytes.size(), start);
    if (read != SourceRead::kFrame) {
        return read;
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
