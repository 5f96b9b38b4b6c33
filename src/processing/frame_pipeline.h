#pragma once
// CFramePipeline: turns the frame blocks the module sends into everything the viewer shows and
// records: the 992 values after stacking and offset subtraction, the 320 x 310 false-colour
// display image with minimum and maximum markers, the text rendering and the minimum and maximum
// texts. Producers on any thread queue blocks; a processing thread owned by the pipeline drains
// the queue and hands each finished frame to one callback, on that thread. Text play-back,
// `thermal convert` and raw play-back enter synchronously on the caller's thread instead.
// Settings may change from any thread at any time and are taken by the next frame; settings set
// in one call (both manual bounds, the pixel range) are taken together.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <thread>

#include "frame/conversion.h"
#include "frame/frame_block.h"
#include "processing/image_scaling.h"

// What became of the blocks queued to the pipeline (QueueFrame) so far. Every queued block is
// processed, replaced by a newer one under the backlog rule, rejected for its length, or still
// waiting. The counts are taken one after the other: they add up exactly only while no frame is
// on its way (the replaced ones of a backlog are added once the processing thread has drained
// it).
struct PipelineCounts {
    uint64_t framesQueued = 0;
    uint64_t framesProcessed = 0;  // handed to the frame-ready callback
    uint64_t framesReplaced = 0;   // dropped from the head of a backlog for a newer frame
    uint64_t framesRejected = 0;   // not 2112 bytes long
    uint64_t framesWaiting = 0;    // in the queue
};

// Whether a synchronous entry point makes the display image. Consumers of the values and texts
// alone (tables, streams, statistics) skip the colouring and enlargement, the larger part of a
// frame's work; the values, the texts and the callback are the same either way, the image
// argument then null.
enum class DisplayImage { kMake, kSkip };

// The settings one frame was made with, taken together when its processing began: a setting
// another thread changes meanwhile is taken by the next frame, never by half of this one.
struct MadeFrameSettings {
    int mirrorMode = 0;
    int unit = kUnitKelvin;
    bool interpolate = false;
    bool subtractingOffsets = false;  // from voltage frames
};

// How the last frame of the synchronous entry points was made; the texts are the pipeline's and
// stay valid until its next synchronous call.
struct MadeFrameDetails {
    MadeFrameSettings settings;
    std::string_view minText;
    std::string_view maxText;
    uint16_t vddCode = 0;
    uint16_t ambientCode = 0;
};

class CFramePipeline {
  public:
    // (owner, mode letter, frame text, raw block or null, 320 x 310 RGB image, 992 values). The
    // pointers are valid only during the call. Called on the processing thread for queued
    // frames and on the caller's thread for the synchronous entry points, one frame at a time
    // per thread. It must not block on the GUI thread, or StopThread can time out.
    using FrameReadyCallback = void (*)(void* owner, const char* modeLetter,
                                        const std::string& text, const uint8_t* raw,
                                        const uint8_t* image, const uint16_t* values);

    // Builds palette 4 and starts the processing thread.
    CFramePipeline();
    // Stops the thread (see StopThread). Safe even when the thread did not end in time: the
    // thread keeps the state it uses alive by itself.
    ~CFramePipeline();
    CFramePipeline(const CFramePipeline&) = delete;
    CFramePipeline& operator=(const CFramePipeline&) = delete;

    // Any thread: copies the block into the queue and wakes the processing thread. Blocks of any
    // length other than 2112 bytes are dropped later without a callback.
    void QueueFrame(char modeLetter, int byteCount, const uint8_t* bytes);

    // The caller's thread: processes one block at once through the same stages as a queued
    // frame (stacks, offsets, mapping, image, markers, text, callback), without the queue and its
    // drop rule. Returns 1, or 0 (no callback) when the block is not 2112 bytes long.
    int ProcessFrameNow(char modeLetter, int byteCount, const uint8_t* bytes,
                        DisplayImage image = DisplayImage::kMake);

    // The caller's thread: parses a recorded text frame (lines ending in CR) and shows it as a
    // processed frame: offsets added back when `offsetsSubtracted`, no stacks, no markers.
    // `fileMode` is the recording's mode character (`V`, `K`, `C`, `F`). Returns 1 for a complete
    // frame, 0 (and no callback) for anything else.
    int ProcessTextFrame(int offsetsSubtracted, char fileMode, std::string_view text,
                         DisplayImage image = DisplayImage::kMake);

    // Colours a raw frame for raw play-back: automatic scale, no offsets, mirroring, markers or
    // callback. `smallImage` is 32 x 31 x 3 bytes of scratch, `image` receives 320 x 310 x 3.
    void MapRawFrame(const uint16_t values[kPixelCount], uint8_t* smallImage, uint8_t* image) const;

    // ProcessFrameNow and ProcessTextFrame share one set of frame buffers: call them from one
    // thread only (the GUI thread, or the tool's main thread).

    // That thread, during the callback of a synchronous entry point or after it: how its frame
    // was made, so a consumer never asks for a setting that may have changed since.
    MadeFrameDetails CallerFrameDetails() const;

    void SetCallback(FrameReadyCallback callback, void* owner);
    // Palettes 1 to 8; other numbers leave the colours unchanged.
    void SelectPalette(int number);
    // 0 none, 1 X-axis, 2 Y-axis, 3 both.
    void SetMirrorMode(int mode);
    int GetMirrorMode() const;
    // Unit of temperature texts: 1 kelvin, 2 degree Celsius, other values degree Fahrenheit.
    void SetUnit(int unit);
    int GetUnit() const;
    void SetInterpolation(int flag);
    int IsInterpolation() const;
    // Subtract the electrical offsets from voltage frames.
    void SetElOffsetSubtraction(int flag);
    int IsElOffsetSubtraction() const;
    // Colour scale from each frame's minimum to its maximum.
    void SetAutoScaling();
    // Fixed colour scale: counts for voltage frames, kelvin for temperature frames. The centre is
    // kept for the dialog and not used by the mapping.
    void SetManualScaling(float upper, float lower, float centre);
    int GetScalingMode() const;
    void GetManualScaling(float& upper, float& lower, float& centre) const;
    // Frame, offset and thermal stack sizes, each limited to 1 to 300. A stack whose size
    // changes is emptied. Serialised with the processing of a frame.
    void SetStackSizes(int frame, int offset, int thermal);
    void GetStackSizes(int& frame, int& offset, int& thermal) const;
    void GetStackCounts(int& frame, int& offset, int& thermal) const;
    // Any thread: frames queued (or processed synchronously) from now on belong to a new run of
    // frames (START, a play-back) and are stacked from empty stacks, never with the frames of an
    // earlier run. Frames queued before still stack with their own run's frames when they are
    // processed after this call: the hand-over keeps the order of the queue.
    void StartRun();
    // Texts of the last frame's minimum and maximum pixel.
    void GetMinMaxText(std::string& minimum, std::string& maximum) const;
    // Readings packed into the last frame's header words 0 to 3.
    uint16_t GetVddCode() const;
    uint16_t GetAmbientCode() const;
    // The pixel range the dialog copies, first pixel and count read back together; kept here for
    // the dialog, unused by the processing.
    void SetPixelRange(int first, int count);
    void GetPixelRange(int& first, int& count) const;

    // Any thread: the counts of the queued blocks. The synchronous entry points are not counted.
    PipelineCounts Counts() const;

    // Signals the processing thread to end and waits for it at most 2000 ms. If it is still
    // busy (a blocked callback) it is left to finish on its own, never killed: it processes no
    // further frame. Frames queued afterwards are never processed. Idempotent.
    void StopThread();

    struct State;

  private:
    std::shared_ptr<State> m_state;  // co-owned by the processing thread
    std::thread m_thread;            // not joinable once stopped
};
