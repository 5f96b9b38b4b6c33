#pragma once
// CBinaryStreamSource: a binary stream recording (.bds) as a frame source: records of a 16-byte
// header and a 2112-byte frame block, each block handed out with the mode letter its header
// names. A record whose header names no known mode is reported and played as a voltage frame, as
// play-back plays it; a reader that asked to skip damage instead skips from there to the next
// known header. A short last record (a recording cut off while being written) is reported and
// ends the source.
#include <array>

#include "frame/binary_record_reader.h"
#include "recording/recording_source.h"

class CBinaryStreamSource final : public CRecordingSource {
  public:
    // Takes `fd` (open for reading, at its start) and reads the first header.
    CBinaryStreamSource(int fd, const struct stat& status, bool skipToNextHeader);

    SourceRead Next(SourceFrame& frame) override;
    bool Rewind() override { return SeekToStart(); }
    uint64_t Position() const override { return m_position; }

  private:
    // m_record holds the record at `start`, whose header names no known mode. Searches on byte by
    // byte for the next known header, reads the record there into m_record (`start` then says
    // where it begins) and reports the bytes skipped. kEnd when the file ends first, after
    // reporting what was skipped and a short last record found after a header; kError when a
    // read fails.
    SourceRead SkipToNextHeader(uint64_t& start);

    const bool m_skipToNextHeader;
    std::array<uint8_t, kBinaryRecordSize> m_record{};
};
