#pragma once
// Writing binary stream records (.bds): a 16-byte header, "Mode=" and the mode character (`V`
// for voltage frames, `T` otherwise) padded with zero bytes, followed by the 2112-byte frame block
// exactly as the module sent it. Reading them back is binary_record_reader.h. Pure; any thread.
#include <array>
#include <cstdint>

#include "frame/binary_record_reader.h"

using BinaryRecord = std::array<uint8_t, kBinaryRecordSize>;

// One record of the frame `block` (kFrameBlockSize bytes).
BinaryRecord EncodeBinaryRecord(char modeLetter, const uint8_t* block);
// The same into `out` (kBinaryRecordSize bytes), for writers that keep a buffer of their own.
void EncodeBinaryRecordInto(char modeLetter, const uint8_t* block, uint8_t* out);
