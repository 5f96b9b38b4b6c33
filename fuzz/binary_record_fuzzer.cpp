// Binary stream recordings (.bds) and raw frame files (.bin) as play-back and `thermal
// info`/`convert` read them: any file is split into whole records only (a short last record is
// counted, never handed out), the player reads exactly those records back from the file, every
// block decodes and encodes back to itself, and raw frames read high byte first. Read as a
// converter reads it, skipping damage, the file is exactly its records with a known header, the
// stretches skipped and a short last record, one after the other.
// Input: the file.
#include <cstring>
#include <vector>

#include "frame/binary_record.h"
#include "frame/binary_record_reader.h"
#include "frame/frame_block.h"
#include "fuzz_support.h"
#include "recording/playback_rules.h"
#include "recording/recording_source.h"
#include "recording/stream_player.h"

namespace {

void CheckSplit(const uint8_t* data, std::size_t size) {
    std::size_t trailing = 99999;
    const std::vector<BinaryRecordView> records = SplitBinaryRecords(data, size, &trailing);
    FUZZ_CHECK(records.size() == size / kBinaryRecordSize);
    FUZZ_CHECK(trailing == size % kBinaryRecordSize);
    for (std::size_t i = 0; i < records.size(); ++i) {
        const uint8_t* header = data + i * kBinaryRecordSize;
        FUZZ_CHECK(records[i].block == header + kBinaryRecordHeaderSize);
        FUZZ_CHECK(records[i].modeLetter == (header[5] == 'T' ? 'K' : 't'));
        // A block decodes and encodes back to itself apart from its unused words.
        FrameData frame;
        DecodeFrameBlock(records[i].block, frame);
        uint8_t block[kFrameBlockSize];
        EncodeFrameBlock(frame, block);
        FrameData again;
        DecodeFrameBlock(block, again);
        FUZZ_CHECK(std::memcmp(&frame, &again, sizeof frame) == 0);
        FUZZ_CHECK(std::memcmp(block, records[i].block, kFrameMarkerOffset) == 0);
        // Written back as a record, it is the same header mode and the same block.
        const BinaryRecord written = EncodeBinaryRecord(records[i].modeLetter, records[i].block);
        FUZZ_CHECK(ModeLetterOfRecord(written.data()) == records[i].modeLetter);
        FUZZ_CHECK(std::memcmp(written.data() + kBinaryRecordHeaderSize, records[i].block,
                               kFrameBlockSize) == 0);
    }
}

// The player hands out exactly the whole records of `recordSize` bytes in the file, then nothing.
void CheckPlayer(int type, int recordSize, const CMemoryFile& file, const uint8_t* data,
                 std::size_t size) {
    CStreamPlayer player;
    const int mode = player.OpenForPlay(type, file.Path());
    FUZZ_CHECK(player.IsOpen() == 1);
    if (type == kPlayBinaryStream) {
        const int expected = size < kBinaryRecordHeaderSize ? 0
                             : data[5] == 'T'               ? 2
                             : data[5] == 'V'               ? 1
                                                            : 0;
        FUZZ_CHECK(mode == expected);
    } else {
        FUZZ_CHECK(mode == 1);
    }
    std::vector<uint8_t> record(static_cast<std::size_t>(recordSize));
    std::size_t count = 0;
    while (player.ReadRecord(recordSize, record.data()) == 1) {
        const std::size_t at = count * static_cast<std::size_t>(recordSize);
        FUZZ_CHECK(at + record.size() <= size);
        FUZZ_CHECK(std::memcmp(record.data(), data + at, record.size()) == 0);
        if (type == kPlayRawFrames) {
            uint16_t values[kPixelCount];
            RawFrameToHost(record.data(), values);
            for (int i = 0; i < kPixelCount; ++i) {
                FUZZ_CHECK(values[i] == ((record[2 * i] << 8) | record[2 * i + 1]));
            }
        }
        ++count;
    }
    FUZZ_CHECK(count == size / static_cast<std::size_t>(recordSize));
}

void CheckSkippingDamage(const CMemoryFile& file, const uint8_t* data, std::size_t size) {
    RecordingSourceOptions options;
    options.skipToNextHeader = true;
    Result<std::unique_ptr<CRecordingSource>> opening =
        OpenRecordingSource(file.Path(), FileKind::kBinaryStream, options);
    FUZZ_CHECK(opening);
    CRecordingSource& source = **opening;
    uint64_t covered = 0;  // bytes accounted for, from the start
    uint64_t lastNumber = 0;
    source.SetProblemListener([&](const SourceProblem& problem) {
        FUZZ_CHECK(problem.byteOffset == covered && problem.frameNumber > lastNumber);
        FUZZ_CHECK(problem.count > 0);
        FUZZ_CHECK(
            problem.kind == SourceProblemKind::kSkipped ||
            (problem.kind == SourceProblemKind::kShortEnd && problem.count < kBinaryRecordSize));
        covered += problem.count;
    });
    SourceFrame frame;
    while (source.Next(frame) == SourceRead::kFrame) {
        FUZZ_CHECK(frame.byteOffset == covered && frame.number > lastNumber);
        FUZZ_CHECK(covered + kBinaryRecordSize <= size);
        FUZZ_CHECK(std::memcmp(frame.stored.data(), data + covered, kBinaryRecordSize) == 0);
        FUZZ_CHECK(IsKnownRecordHeader(data + covered));
        covered += kBinaryRecordSize;
        lastNumber = frame.number;
    }
    FUZZ_CHECK(covered == size);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    CheckSplit(data, size);
    const CMemoryFile file(data, size);
    CheckPlayer(kPlayBinaryStream, static_cast<int>(kBinaryRecordSize), file, data, size);
    CheckPlayer(kPlayRawFrames, kRawFrameSize, file, data, size);
    CheckSkippingDamage(file, data, size);
    return 0;
}
