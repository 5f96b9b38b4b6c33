#include "frame/binary_record_reader.h"

#include <cstring>

std::vector<BinaryRecordView> SplitBinaryRecords(const uint8_t* bytes, std::size_t size,
                                                 std::size_t* trailingBytes) {
    std::vector<BinaryRecordView> records;
    const std::size_t count = bytes == nullptr ? 0 : size / kBinaryRecordSize;
    records.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        const uint8_t* record = bytes + i * kBinaryRecordSize;
        records.push_back({ModeLetterOfRecord(record), record + kBinaryRecordHeaderSize});
    }
    if (trailingBytes != nullptr) {
        *trailingBytes = bytes == nullptr ? 0 : size % kBinaryRecordSize;
    }
    return records;
}
