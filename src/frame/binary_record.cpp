#include "frame/binary_record.h"

#include <cstring>

void EncodeBinaryRecordInto(char modeLetter, const uint8_t* block, uint8_t* out) {
    std::memset(out, 0, kBinaryRecordHeaderSize);
    std::memcpy(out, "Mode=", 5);
    out[5] = static_cast<uint8_t>(RecordModeCharacter(modeLetter));
    std::memcpy(out + kBinaryRecordHeaderSize, block, kFrameBlockSize);
}

BinaryRecord EncodeBinaryRecord(char modeLetter, const uint8_t* block) {
    BinaryRecord record;
    EncodeBinaryRecordInto(modeLetter, block, record.data());
    return record;
}
