#include "device/frame_sync.h"

#include <cstring>

bool IsFrameMarkerAt(const uint8_t* bytes) {
    return std::memcmp(bytes, kFrameMarker, sizeof kFrameMarker) == 0;
}

std::optional<int> FindFrameStartInWindow(const uint8_t* window) {
    constexpr int kLastStart = kResyncWindowBytes - 5;  // 6331: the last start scanned
    int found[3];
    int foundCount = 0;
    const uint8_t* p = window;
    const uint8_t* const end = window + kLastStart + 1;
    while (foundCount < 3 && p < end) {
        p = static_cast<const uint8_t*>(std::memchr(p, kFrameMarker[0], end - p));
        if (p == nullptr) {
            break;
        }
        if (IsFrameMarkerAt(p)) {
            found[foundCount++] = static_cast<int>(p - window);
        }
        ++p;
    }
    for (int i = foundCount - 1; i >= 0; --i) {
        const int marker = found[i];
        const int start = marker - kFrameMarkerOffset;
        if (start >= 0 && marker + (kFrameBlockSize - kFrameMarkerOffset) <= kResyncWindowBytes) {
            return start;
        }
    }
    return std::nullopt;
}
