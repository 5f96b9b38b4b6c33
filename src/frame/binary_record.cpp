#include "frame/binary_record.h"

#include <cstring>

BinaryRecord EncodeBinaryRecord(char modeLetter, const uint8_t* block) {
    BinaryRecord record{};
    std::memcpy(record.data(), "Mode=", 5);
    record[5] = static_cast<uint8_t>(RecordModeCharacter(modeLetter));
    std::memcpy(record.data() + kBinaryRecordHeaderSize, block, kFrameBlockSize);
    return record;
}
