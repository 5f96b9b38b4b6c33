#include "frame/frame_block.h"

namespace {

uint16_t Word(const uint8_t* block, int index) {
    return static_cast<uint16_t>(block[2 * index] | (block[2 * index + 1] << 8));
}

constexpr int kOffsetWord = 992;
constexpr int kFirstHeaderWord = 1024;
constexpr int kSparseHeaderWord = 1040;  // header words 4 to 11 sit on every second word

}  // namespace

void DecodeFrameBlock(const uint8_t* block, FrameData& frame) {
    for (int i = 0; i < kPixelCount; ++i) {
        frame.values[i] = Word(block, i);
    }
    // The module interleaves the two halves of the offset row: even words carry columns 0 to 15,
    // odd words columns 16 to 31.
    for (int i = 0; i < kOffsetCount / 2; ++i) {
        frame.offsets[i] = Word(block, kOffsetWord + 2 * i);
        frame.offsets[i + kOffsetCount / 2] = Word(block, kOffsetWord + 2 * i + 1);
    }
    for (int i = 0; i < 4; ++i) {
        frame.header[i] = Word(block, kFirstHeaderWord + i);
    }
    for (int i = 4; i < kHeaderWordCount; ++i) {
        frame.header[i] = Word(block, kSparseHeaderWord + 2 * (i - 4));
    }
}

uint16_t VddCodeFromHeader(const uint16_t header[kHeaderWordCount]) {
    return static_cast<uint16_t>((header[0] & 0xFFF) | ((header[1] & 0xF) << 12));
}

uint16_t AmbientCodeFromHeader(const uint16_t header[kHeaderWordCount]) {
    return static_cast<uint16_t>((header[2] & 0xFFF) | ((header[3] & 0xF) << 12));
}
