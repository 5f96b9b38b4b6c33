#include "remote/frame_payload.h"

#include <cstring>

#include "frame/binary_record.h"
#include "frame/record_header.h"

void MakeFramePayload(char modeLetter, const uint8_t block[kFrameBlockSize],
                      uint8_t payload[kBinaryRecordSize]) {
    EncodeBinaryRecordInto(modeLetter, block, payload);
}

PayloadFault DecodeFramePayload(const uint8_t* bytes, std::size_t size, FramePayload& frame) {
    if (size != kBinaryRecordSize) {
        return PayloadFault::kWrongSize;
    }
    if (!IsKnownRecordHeader(bytes)) {
        return PayloadFault::kUnknownMode;
    }
    const uint8_t* block = bytes + kBinaryRecordHeaderSize;
    if (std::memcmp(block + kFrameMarkerOffset, kFrameMarker, sizeof kFrameMarker) != 0) {
        return PayloadFault::kNoMarker;
    }
    frame.modeLetter = ModeLetterOfRecord(bytes);
    frame.block = block;
    return PayloadFault::kNone;
}

const char* PayloadFaultText(PayloadFault fault) {
    switch (fault) {
        case PayloadFault::kNone:
            return "a whole record";
        case PayloadFault::kWrongSize:
            return "wrong size";
        case PayloadFault::kUnknownMode:
            return "unknown mode";
        case PayloadFault::kNoMarker:
            return "no frame marker";
    }
    return "unknown fault";
}
