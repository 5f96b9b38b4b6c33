#pragma once
// Reading binary stream recordings (.bds): records of a 16-byte header ("Mode=" and `T` for
// temperature or `V` for voltage frames, then zero bytes) followed by the 2112-byte frame block
// as the module sent it. Pure functions over bytes; any thread.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "frame/frame_block.h"
#include "frame/record_header.h"

inline constexpr std::size_t kBinaryRecordSize = kBinaryRecordHeaderSize + kFrameBlockSize;  // 2128

// One record of a recording: where its frame block starts, and the mode letter the frame is
// processed with: `K` for a "Mode=T" record, `t` for every other header.
struct BinaryRecordView {
    char modeLetter;
    const uint8_t* block;  // kFrameBlockSize bytes
};

// Every whole record in `bytes`, in order. A short record at the end (a recording cut off while
// being written) is left out; `trailingBytes` receives its length.
std::vector<BinaryRecordView> SplitBinaryRecords(const uint8_t* bytes, std::size_t size,
                                                 std::size_t* trailingBytes);
