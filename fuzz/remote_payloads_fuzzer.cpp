// What anyone on a broker can send a remote module: any payload on PREFIX/frame to
// DecodeFramePayload, and the same bytes on PREFIX/status to ParseModuleStatus. A payload is
// taken exactly when it is one whole record of a known mode with the marker in place, and then
// names its block inside the payload and the record's mode; a status read back is written and
// read again to the same fields, and its line for the user is one short line.
// Input: the payload.
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "frame/binary_record_reader.h"
#include "fuzz_support.h"
#include "remote/frame_payload.h"
#include "remote/module_status.h"

namespace {

void CheckFramePayload(const uint8_t* data, std::size_t size) {
    FramePayload frame;
    const PayloadFault fault = DecodeFramePayload(data, size, frame);
    const bool whole = size == kBinaryRecordSize;
    const bool known =
        whole && std::memcmp(data, "Mode=", 5) == 0 && (data[5] == 'T' || data[5] == 'V');
    const bool marked = known && std::memcmp(data + kBinaryRecordHeaderSize + kFrameMarkerOffset,
                                             kFrameMarker, sizeof kFrameMarker) == 0;
    FUZZ_CHECK((fault == PayloadFault::kWrongSize) == !whole);
    FUZZ_CHECK((fault == PayloadFault::kUnknownMode) == (whole && !known));
    FUZZ_CHECK((fault == PayloadFault::kNoMarker) == (known && !marked));
    if (fault != PayloadFault::kNone) {
        FUZZ_CHECK(frame.block == nullptr);
        return;
    }
    FUZZ_CHECK(frame.block == data + kBinaryRecordHeaderSize);
    FUZZ_CHECK(frame.modeLetter == (data[5] == 'T' ? 'K' : 't'));
    // Published again, it is the same record (the header's padding written as zeros).
    uint8_t again[kBinaryRecordSize];
    MakeFramePayload(frame.modeLetter, frame.block, again);
    FUZZ_CHECK(std::memcmp(again, data, 6) == 0);
    FUZZ_CHECK(std::memcmp(again + kBinaryRecordHeaderSize, frame.block, kFrameBlockSize) == 0);
}

bool IsAscii(const std::string& text) {
    for (const char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            return false;
        }
    }
    return true;
}

void CheckStatus(const uint8_t* data, std::size_t size) {
    const std::optional<ModuleStatus> status =
        ParseModuleStatus(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!status) {
        return;
    }
    const std::string line = ModuleStatusLine(*status);
    FUZZ_CHECK(line.size() < 700);
    for (const char c : line) {
        FUZZ_CHECK(static_cast<unsigned char>(c) >= 0x20 && c != 0x7F);
    }
    const std::optional<ModuleStatus> again = ParseModuleStatus(MakeModuleStatusJson(*status));
    FUZZ_CHECK(again.has_value());
    // Bytes above 0x7F are written as Latin-1 characters, so only ASCII texts read back alike.
    if (IsAscii(status->state) && IsAscii(status->port) && IsAscii(status->module)) {
        FUZZ_CHECK(again->state == status->state);
        FUZZ_CHECK(again->port == status->port);
        FUZZ_CHECK(again->module == status->module);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    CheckFramePayload(data, size);
    CheckStatus(data, size);
    return 0;
}
