#pragma once
// IVideoSink: the encoder and the AVI file of one video recording, as the stream recorder drives
// them: each display image is encoded into the recorder's buffer and the encoded frame appended
// to the movie. Destroying the sink completes the file on disk and releases the encoder. Used
// by the recorder under its lock, on the GUI thread (the video timer, open and close).
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "recording/recording_file.h"

class IVideoSink {
  public:
    virtual ~IVideoSink() = default;

    // Encodes one image (the size the sink was made for, 3 bytes per pixel in the order blue,
    // green, red) into `out`, which holds one uncompressed image. Returns 1 with the encoded
    // length and whether it is a key frame, or -1 with both 0.
    virtual int EncodeFrame(const uint8_t* image, uint8_t* out, int* outLength,
                            int* isKeyFrame) = 0;
    // Appends one encoded frame to the movie (the first frame creates the file). Returns 0, or
    // a negative code once the movie cannot be written; every later frame is then refused.
    virtual int32_t AppendFrame(int byteCount, int isKeyFrame, const uint8_t* bytes) = 0;
    // Why the movie cannot be written (the failed call and the system's reason), once
    // AppendFrame has failed; empty before.
    virtual std::string FailureReason() const = 0;
};

// Makes the sink of a new video recording at `path`: a 320 x 310, 20 frames per second movie
// whose first frame creates the file as `creation` allows. Returns null when the encoder cannot
// be set up.
using VideoSinkFactory = std::function<std::unique_ptr<IVideoSink>(const std::string& path,
                                                                   RecordingFileCreation creation)>;
