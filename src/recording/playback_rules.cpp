#include "recording/playback_rules.h"

#include "frame/conversion.h"

namespace {

bool SameLetters(std::string_view text, const char upper[3]) {
    for (int i = 0; i < 3; ++i) {
        char c = text[static_cast<std::size_t>(i)];
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
        if (c != upper[i]) {
            return false;
        }
    }
    return true;
}

}  // namespace

int PlayFileKindOf(std::string_view path) {
    if (path.size() < 3) {
        return kPlayUnknownFile;
    }
    const std::string_view last = path.substr(path.size() - 3);
    if (SameLetters(last, "BDS")) {
        return kPlayBinaryStream;
    }
    if (SameLetters(last, "TXT")) {
        return kPlayTextStream;
    }
    if (SameLetters(last, "BIN")) {
        return kPlayRawFrames;
    }
    if (SameLetters(last, "AVI")) {
        return kPlayVideo;
    }
    return kPlayUnknownFile;
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

TextRecordParts SplitTextRecord(std::string_view record) {
    const std::size_t cr = record.find('\r');
    if (cr == std::string_view::npos) {
        return {record, {}};
    }
    return {record.substr(0, cr + 1), record.substr(cr + 1)};
}

TextPlayMode TextPlayModeOf(std::string_view header) {
    const char mode = header.size() > 5 ? header[5] : '\0';
    const char offset = header.size() > 13 ? header[13] : '\0';
    TextPlayMode result{'K', 0, offset == 'T' || offset == 't' ? 1 : 0};
    switch (mode) {
        case 'V':
            result.modeChar = 'V';
            break;
        case 'K':
            result.unit = kUnitKelvin;
            break;
        case 'C':
            result.modeChar = 'C';
            result.unit = kUnitCelsius;
            break;
        case 'F':
            result.modeChar = 'F';
            result.unit = kUnitFahrenheit;
            break;
        default:
            break;
    }
    return result;
}

void RawFrameToHost(const uint8_t bytes[kRawFrameSize], uint16_t values[kPixelCount]) {
    for (int i = 0; i < kPixelCount; ++i) {
        values[i] = static_cast<uint16_t>((bytes[2 * i] << 8) | bytes[2 * i + 1]);
    }
}
