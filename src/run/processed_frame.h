#pragma once
// ProcessedFrame: one frame as a run hands it to every output, with everything any of them needs
// about it, so that no output asks the pipeline or the source again: where it came from (the
// source's frame number, when it arrived, the record as stored), what the pipeline made of it
// (values, text frame, display image, minimum and maximum texts, header readings) and how (unit,
// offsets, mirroring, the readouts' scale). The pointers and views are valid during the call
// that hands the frame over only. Made on the run's thread.
#include <chrono>
#include <cstdint>
#include <string_view>

#include "frame/frame_source.h"
#include "processing/frame_readout.h"

// What an output needs made of each frame, as bits. Raw frames carry their values without
// processing; a block comes with every live or binary frame and is rebuilt from a text frame
// only when asked.
enum FrameNeed : unsigned {
    kNeedsValues = 1u,  // the pipeline's values and text frame
    kNeedsImage = 2u,   // the display image as well (implies the values)
    kNeedsBlock = 4u,   // the frame block, rebuilt from a text frame's digits if need be
};

struct ProcessedFrame {
    SourceFrameKind kind = SourceFrameKind::kBlock;
    uint64_t number = 0;  // the source's number of the frame, 1 for its first
    std::chrono::steady_clock::time_point arrival{};      // when the run took it from the source
    std::chrono::system_clock::time_point arrivalWall{};  // the same, as time of day
    // The record as the source holds it (a binary stream record, a text record's lines, a raw
    // frame's bytes); empty for live frames.
    std::string_view stored{};

    // `K`, `k` temperature, `t`, `c` voltage; 0 for a raw frame.
    char modeLetter = 0;
    // The text frame, lines ending in CR LF; empty for raw frames and for frames no output
    // needed processed.
    std::string_view text{};
    // kFrameBlockSize bytes: the block as received, or rebuilt from a text frame when an output
    // asked for blocks; null for raw frames and text frames otherwise.
    const uint8_t* block = nullptr;
    // kPixelCount values as shown (stacked, offsets subtracted when asked); null when no output
    // needed them.
    const uint16_t* values = nullptr;
    // The 320 x 310 display image, red, green, blue; null unless an output asked for it.
    const uint8_t* image = nullptr;

    int unit = 2;                     // of the text and of temperature values
    bool subtractingOffsets = false;  // the pipeline subtracted the offsets from voltage frames
    int mirrorMode = 0;               // the display's, which the image shows
    ReadoutScale scale{};             // how the values read as numbers
    std::string_view minText{};       // the text frame's minimum and maximum
    std::string_view maxText{};
    uint16_t vddCode = 0;  // readings of the frame block's header words
    uint16_t ambientCode = 0;
};
