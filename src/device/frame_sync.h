#pragma once
// Frame geometry on the wire and the marker search the frame collector uses to regain step.
// Pure functions; called on whichever thread parses (the serial monitor thread in the viewer).
#include <cstddef>
#include <cstdint>
#include <optional>

constexpr int kFrameBytes = 2112;         // one frame block as the module sends it
constexpr int kFrameMarkerOffset = 2048;  // where the marker sits inside a block
constexpr int kResyncWindowBytes = 6336;  // three blocks: the re-synchronisation window
constexpr uint8_t kFrameMarker[4] = {0x9A, 0x78, 0xDE, 0xBC};

// True when the four bytes at `bytes` are the frame marker.
bool IsFrameMarkerAt(const uint8_t* bytes);

// Searches a full window of kResyncWindowBytes for the latest complete frame: records the first
// three marker positions, then takes them from the last to the first and accepts the first one
// whose frame start (marker - 2048) lies inside the window and whose block tail fits. Returns the
// frame start, or nothing when no marker qualifies.
std::optional<int> FindFrameStartInWindow(const uint8_t* window);
