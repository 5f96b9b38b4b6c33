#pragma once
// CBinaryStreamSource: a binary stream recording (.bds) as a frame source: records of a 16-byte
// header and a 2112-byte frame block, each block handed out with the mode letter its header
// names. A record whose header names no known mode is reported; it is then played as a voltage
// frame, or ends the source when the reader asked to stop there. A short last record (a
// recording cut off while being written) is reported and ends the source.
#include <array>

#include "frame/binary_record_reader.h"
#include "recording/recording_source.h"

class CBinaryStreamSource final : public CRecordingSource {
  public:
    // Takes `fd` (open for reading, at its start) and reads the first header.
    CBinaryStreamSource(int fd, const struct stat& status, bool stopAtUnknownHeader);

    SourceRead Next(SourceFrame& frame) override;
    bool Rewind() override { return SeekToStart(); }
    uint64_t Position() const override { return m_position; }

  private:
    const bool m_stopAtUnknownHeader;
    std::array<uint8_t, kBinaryRecordSize> m_record{};
};
