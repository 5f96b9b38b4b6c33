#pragma once
// CFrameEntry: the one way a frame of any source enters the frame pipeline, whatever its kind: a
// frame block (live, or from a binary stream or a capture) is processed as the module sent it, a
// text stream record is parsed (its header may switch the unit, as play-back does) and shown as a
// processed frame, a raw frame keeps its values and is coloured for the display only when asked.
// What comes out is one ProcessedFrame with everything an output needs. Runs, play-back and
// `thermal info` all go through it. One thread at a time (the run's), as the pipeline's
// synchronous entry points it uses; the pipeline's callback is this entry's from construction on.
#include <cstdint>
#include <vector>

#include "frame/frame_block.h"
#include "frame/frame_source.h"
#include "processing/frame_pipeline.h"
#include "processing/image_scaling.h"
#include "run/processed_frame.h"

class CFrameEntry {
  public:
    explicit CFrameEntry(CFramePipeline& pipeline);
    CFrameEntry(const CFrameEntry&) = delete;
    CFrameEntry& operator=(const CFrameEntry&) = delete;

    // Whether a text stream record's header switches the pipeline's unit to its own (play-back,
    // a conversion without --unit); on by default.
    void SetTextUnitFollowed(bool isFollowed) { m_isTextUnitFollowed = isFollowed; }

    // Makes `frame` into a processed frame with what `needs` (FrameNeed bits) asks for; a block
    // needed by nobody's values is handed on as received, without the pipeline's work. Null when
    // the frame makes none: a text frame that does not parse, a block of the wrong length. Valid
    // until the next call.
    const ProcessedFrame* Make(const SourceFrame& frame, unsigned needs);

  private:
    static void OnFrameReady(void* owner, const char* modeLetter, const std::string& text,
                             const uint8_t* raw, const uint8_t* image, const uint16_t* values);
    // Fills in how the pipeline made the frame, as it says itself.
    void TakeDetails();
    // The frame block a text frame was rendered from, as far as its digits tell; null when the
    // text does not parse.
    const uint8_t* RebuildBlock(const SourceFrame& frame);
    const ProcessedFrame* MakeBlock(const SourceFrame& frame, unsigned needs);
    const ProcessedFrame* MakeText(const SourceFrame& frame, unsigned needs);
    const ProcessedFrame* MakeRaw(const SourceFrame& frame, unsigned needs);

    CFramePipeline& m_pipeline;
    bool m_isTextUnitFollowed = true;
    ProcessedFrame m_frame;  // the frame being made
    bool m_isMade = false;   // the pipeline's callback came for it
    FrameData m_parsed{};
    uint8_t m_block[kFrameBlockSize] = {};
    uint8_t m_smallImage[kSmallImageBytes] = {};
    std::vector<uint8_t> m_rawImage;  // a raw frame's picture, sized by the first one
};
