#pragma once
// The payload of a module's PREFIX/frame topic: one binary stream record, the very
// kBinaryRecordSize bytes a .bds file holds for the frame ("Mode=T" or "Mode=V", then the frame
// block), so a subscriber that appends the payloads has a valid .bds. Anyone who can publish on
// the broker can send anything there: a payload is taken only when it is a whole record of a
// known mode with the frame marker in place. Pure functions, any thread.
#include <cstddef>
#include <cstdint>

#include "frame/binary_record_reader.h"

// Writes the payload of a frame block (`modeLetter` as the module's stream names it).
void MakeFramePayload(char modeLetter, const uint8_t block[kFrameBlockSize],
                      uint8_t payload[kBinaryRecordSize]);

enum class PayloadFault {
    kNone,
    kWrongSize,    // not kBinaryRecordSize bytes
    kUnknownMode,  // the header is not a known "Mode=" record header
    kNoMarker,     // the block lacks the frame marker
};

struct FramePayload {
    char modeLetter = 0;             // the mode letter the header names ('K' or 't')
    const uint8_t* block = nullptr;  // kFrameBlockSize bytes inside the payload
};

// Checks a received payload; on kNone, `frame` points into `bytes`.
PayloadFault DecodeFramePayload(const uint8_t* bytes, std::size_t size, FramePayload& frame);
// "wrong size", "unknown mode", "no frame marker".
const char* PayloadFaultText(PayloadFault fault);
