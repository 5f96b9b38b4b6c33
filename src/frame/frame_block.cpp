#include "frame/frame_block.h"

#include <cstring>

namespace {

constexpr int kOffsetWord = 992;
constexpr int kFirstHeaderWord = 1024;
constexpr int kSparseHeaderWord = 1040;  // header words 4 to 11 sit on every second word

static_assert(kFrameMarkerOffset == 2 * kFirstHeaderWord);
static_assert(kSparseHeaderWord + 2 * (kHeaderWordCount - 4) <= kFrameBlockSize / 2);

uint16_t Word(const uint8_t* block, int index) {
    return static_cast<uint16_t>(block[2 * index] | (block[2 * index + 1] << 8));
}

void PutWord(uint8_t* block, int index, uint16_t value) {
    block[2 * index] = static_cast<uint8_t>(value & 0xFF);
    block[2 * index + 1] = static_cast<uint8_t>(value >> 8);
}

// Where offset `column` lies: the module interleaves the two halves of the offset row, even
// words carry columns 0 to 15, odd words columns 16 to 31.
int OffsetWord(int column) {
    return column < kOffsetCount / 2 ? kOffsetWord + 2 * column
                                     : kOffsetWord + 2 * (column - kOffsetCount / 2) + 1;
}

int HeaderWord(int index) {
    return index < 4 ? kFirstHeaderWord + index : kSparseHeaderWord + 2 * (index - 4);
}

}  // namespace

void DecodeFrameBlock(const uint8_t* block, FrameData& frame) {
    for (int i = 0; i < kPixelCount; ++i) {
        frame.values[i] = Word(block, i);
    }
    for (int i = 0; i < kOffsetCount; ++i) {
        frame.offsets[i] = Word(block, OffsetWord(i));
    }
    for (int i = 0; i < kHeaderWordCount; ++i) {
        frame.header[i] = Word(block, HeaderWord(i));
    }
}

void EncodeFrameBlock(const FrameData& frame, uint8_t* block) {
    std::memset(block, 0, kFrameBlockSize);
    for (int i = 0; i < kPixelCount; ++i) {
        PutWord(block, i, frame.values[i]);
    }
    for (int i = 0; i < kOffsetCount; ++i) {
        PutWord(block, OffsetWord(i), frame.offsets[i]);
    }
    for (int i = 0; i < kHeaderWordCount; ++i) {
        PutWord(block, HeaderWord(i), frame.header[i]);
    }
}

void PutFrameMarker(uint8_t* block) {
    std::memcpy(block + kFrameMarkerOffset, kFrameMarker, sizeof kFrameMarker);
}

uint16_t VddCodeFromHeader(const uint16_t header[kHeaderWordCount]) {
    return static_cast<uint16_t>((header[0] & 0xFFF) | ((header[1] & 0xF) << 12));
}

uint16_t AmbientCodeFromHeader(const uint16_t header[kHeaderWordCount]) {
    return static_cast<uint16_t>((header[2] & 0xFFF) | ((header[3] & 0xF) << 12));
}
