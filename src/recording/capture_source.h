#pragma once
// CCaptureSource: a raw capture of the serial line (`cat /dev/ttyUSB0 > capture.raw`) as a frame
// source. Its bytes go, in the receive path's chunks of at most 1024, through a frame collector
// for the chosen letter, so the capture is cut exactly as the viewer cuts the live stream; each
// completed block is handed out with that letter. Reads 64 KiB at a time; the blocks one read
// completes wait in a small queue.
#include <array>
#include <deque>
#include <memory>
#include <vector>

#include "frame/frame_block.h"
#include "recording/recording_source.h"

class CCommandReply;

class CCaptureSource final : public CRecordingSource {
  public:
    CCaptureSource(int fd, const struct stat& status, char letter);
    ~CCaptureSource() override;

    SourceRead Next(SourceFrame& frame) override;
    bool Rewind() override;
    uint64_t Position() const override { return m_position; }

  private:
    static void OnCollected(void* context, CCommandReply* reply, const std::string& text,
                            const uint8_t* bytes, int count);

    const char m_letter;
    std::unique_ptr<CCommandReply> m_collector;
    std::vector<uint8_t> m_readBuffer;
    std::deque<std::array<uint8_t, kFrameBlockSize>> m_blocks;  // completed, not yet handed out
    std::array<uint8_t, kFrameBlockSize> m_current{};           // the block handed out last
};
