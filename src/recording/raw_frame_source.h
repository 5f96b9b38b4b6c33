#pragma once
// CRawFrameSource: a raw frame file (.bin) as a frame source: 992 values of 16 bits a frame,
// high byte first, without header or offsets, handed out in host order. Play-back shows them as
// voltages. A short last frame is reported and ends the source.
#include <array>

#include "frame/frame_block.h"
#include "recording/playback_rules.h"
#include "recording/recording_source.h"

class CRawFrameSource final : public CRecordingSource {
  public:
    CRawFrameSource(int fd, const struct stat& status);

    SourceRead Next(SourceFrame& frame) override;
    bool Rewind() override { return SeekToStart(); }
    uint64_t Position() const override { return m_position; }

  private:
    std::array<uint8_t, kRawFrameSize> m_bytes{};
    std::array<uint16_t, kPixelCount> m_values{};
};
