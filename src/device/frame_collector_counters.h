#pragma once
// FrameCollectorCounters: what the frame collectors of one reply list did with the frames that
// reached them, so that every frame the module sent can be accounted for. A frame counts as
// having reached a collector when the four bytes of its marker did; it is then either reported
// to the reply callback or discarded (lost to a re-synchronisation, or still held unfinished when
// the collector was replaced or the stream ended). Written by the serial monitor thread, read
// from any thread.
#include <atomic>
#include <cstdint>

// A snapshot of the counters.
struct FrameCollectorCounts {
    uint64_t markersSeen = 0;     // frame markers in the bytes fed to frame collectors
    uint64_t framesReported = 0;  // frames handed to the reply callback

    // Frames whose marker arrived but which were never reported.
    uint64_t FramesDiscarded() const {
        return markersSeen > framesReported ? markersSeen - framesReported : 0;
    }
};

struct FrameCollectorCounters {
    std::atomic<uint64_t> markersSeen{0};
    std::atomic<uint64_t> framesReported{0};

    FrameCollectorCounts Snapshot() const {
        // Reported first: a frame is reported only after its marker was counted, so the
        // snapshot never shows more frames reported than markers seen.
        FrameCollectorCounts counts;
        counts.framesReported = framesReported.load();
        counts.markersSeen = markersSeen.load();
        return counts;
    }
};
