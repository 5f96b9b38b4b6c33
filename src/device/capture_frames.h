#pragma once
// Rescues frames from a raw capture of the serial line (for example `cat /dev/ttyUSB0 > file`):
// the bytes go, in chunks of at most 1024 as the live receive path delivers them, through a frame
// collector for the chosen letter, so the capture is cut exactly as the viewer cuts the live
// stream. Pure; any thread.
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "device/frame_sync.h"

using CapturedFrame = std::array<uint8_t, kFrameBlockSize>;

// Every frame the collector reports, in order. `letter` must be a frame letter (K, k, t, c, C).
std::vector<CapturedFrame> CutCaptureIntoFrames(const uint8_t* bytes, size_t size, uint8_t letter);
