#include "recording/playback_rules.h"

#include "recording/file_kind.h"

int PlayFileKindOf(std::string_view path) {
    switch (PlayedFileKindOf(path)) {
        case FileKind::kBinaryStream:
            return kPlayBinaryStream;
        case FileKind::kTextStream:
            return kPlayTextStream;
        case FileKind::kRawFrames:
            return kPlayRawFrames;
        case FileKind::kVideo:
            return kPlayVideo;
        default:
            return kPlayUnknownFile;
    }
}

int PlayPeriodMs(int speedValue) {
    const int speed = speedValue < 1 ? kDefaultPlaySpeed : speedValue;
    const float framesPerSecond = static_cast<float>(speed / 10.0);
    const float period = 1000.0f / framesPerSecond;
    // Compared as a float first: a period far beyond int is not converted at all.
    if (period < static_cast<float>(kMinPlayPeriodMs)) {
        return kMinPlayPeriodMs;
    }
    if (period > static_cast<float>(kMaxPlayPeriodMs)) {
        return kMaxPlayPeriodMs;
    }
    return static_cast<int>(period);
}

void RawFrameToHost(const uint8_t bytes[kRawFrameSize], uint16_t values[kPixelCount]) {
    for (int i = 0; i < kPixelCount; ++i) {
        values[i] = static_cast<uint16_t>((bytes[2 * i] << 8) | bytes[2 * i + 1]);
    }
}
