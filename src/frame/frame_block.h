#pragma once
// Layout of the 2112-byte frame block the module sends: 992 pixel values, 32 interleaved
// electrical offsets, the frame marker and header words, all little-endian 16-bit words.
// Decoding for the frame pipeline and the tools, encoding for the simulated module and the
// tests. Pure functions, any thread.
#include <cstdint>

inline constexpr int kFrameColumns = 32;
inline constexpr int kFrameRows = 31;
inline constexpr int kPixelCount = kFrameColumns * kFrameRows;  // 992
inline constexpr int kOffsetCount = 32;
inline constexpr int kHeaderWordCount = 12;
inline constexpr int kFrameBlockSize = 2112;

// The four bytes that mark a block and where they sit in it: on header words 0 and 1, so in a
// block from the module those two words always decode to the marker.
inline constexpr int kFrameMarkerOffset = 2048;
inline constexpr uint8_t kFrameMarker[4] = {0x9A, 0x78, 0xDE, 0xBC};

// One decoded frame: values row-major (row r, column c at 32r + c), offsets indexed by column,
// header words 0 to 11.
struct FrameData {
    uint16_t values[kPixelCount];
    uint16_t offsets[kOffsetCount];
    uint16_t header[kHeaderWordCount];
};

// Decodes a block of exactly kFrameBlockSize bytes. The unused words are ignored.
void DecodeFrameBlock(const uint8_t* block, FrameData& frame);

// Writes the kFrameBlockSize bytes that DecodeFrameBlock turns back into `frame`, with zeros in
// the unused words. The marker is not added: see PutFrameMarker.
void EncodeFrameBlock(const FrameData& frame, uint8_t* block);
// Writes the marker over header words 0 and 1 of a block, as the module sends it.
void PutFrameMarker(uint8_t* block);

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
