#pragma once
// The video sink of a real recording: libxvidcore compresses each display image and our own AVI
// writer stores it. Same thread rules as IVideoSink.
#include <memory>
#include <string>

#include "recording/video_sink.h"

// A 320 x 310, 20 frames per second Xvid movie at `path` (created by its first frame as
// `creation` allows). Null when the codec library or the encoder cannot be set up.
std::unique_ptr<IVideoSink> CreateXvidAviSink(const std::string& path,
                                              RecordingFileCreation creation);
