#pragma once
// The marker search the frame collector uses to regain step.
// Pure functions; called on whichever thread parses (the serial monitor thread in the viewer).
#include <cstddef>
#include <cstdint>
#include <optional>

#include "frame/frame_block.h"

// Three blocks: the window the collector searches for the marker to regain step.
constexpr int kResyncWindowBytes = 3 * kFrameBlockSize;

// True when the four bytes at `bytes` are the frame marker.
bool IsFrameMarkerAt(const uint8_t* bytes);

// Searches a full window of kResyncWindowBytes for the latest complete frame: records the first
// three marker positions, then takes them from the last to the first and accepts the first one
// whose frame start (marker - 2048) lies inside the window and whose block tail fits. Returns the
// frame start, or nothing when no marker qualifies.
std::optional<int> FindFrameStartInWindow(const uint8_t* window);
