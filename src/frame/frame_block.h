#pragma once
// Layout of the 2112-byte frame block the module sends: 992 pixel values, 32 interleaved
// electrical offsets, the frame marker and header words, all little-endian 16-bit words.
// Pure functions, used by the frame pipeline's processing thread and by the tools.
#include <cstdint>

inline constexpr int kFrameColumns = 32;
inline constexpr int kFrameRows = 31;
inline constexpr int kPixelCount = kFrameColumns * kFrameRows;  // 992
inline constexpr int kOffsetCount = 32;
inline constexpr int kHeaderWordCount = 12;
inline constexpr int kFrameBlockSize = 2112;

// One decoded frame: values row-major (row r, column c at 32r + c), offsets indexed by column,
// header words 0 to 11.
struct FrameData {
    uint16_t values[kPixelCount];
    uint16_t offsets[kOffsetCount];
    uint16_t header[kHeaderWordCount];
};

// Decodes a block of exactly kFrameBlockSize bytes. The unused words are ignored.
void DecodeFrameBlock(const uint8_t* block, FrameData& frame);

// The two 16-bit readings packed into header words 0 to 3: 12 low bits in one word and 4 high
// bits in the next.
uint16_t VddCodeFromHeader(const uint16_t header[kHeaderWordCount]);
uint16_t AmbientCodeFromHeader(const uint16_t header[kHeaderWordCount]);

// True for the mode letters of voltage frames (`c` single, `t` continuous); every other letter
// is treated as a temperature frame by the mapping.
constexpr bool IsVoltageMode(char modeLetter) {
    return modeLetter == 'c' || modeLetter == 't';
}
// True for the mode letters of temperature frames (`k` single, `K` continuous).
constexpr bool IsTemperatureMode(char modeLetter) {
    return modeLetter == 'k' || modeLetter == 'K';
}
