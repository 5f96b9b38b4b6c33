// Text stream recordings as play-back and `thermal info`/`convert` read them: the text-mode line
// reader over any file, with read buffers from one byte up (its lines must match a plain model of
// the format whatever the buffer size), then CStreamPlayer handing out 34-line records that are
// split, their header read and their frame parsed as a play-back tick does. Read as a converter
// reads it, skipping damage, the file is exactly its records (each starting at a recorded header
// line and holding no other), the stretches skipped and a short last record, one after the other.
// Input: byte 0 picks the reader's smallest buffer size; the rest is the file.
#include <fcntl.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "frame/text_frame.h"
#include "fuzz_support.h"
#include "recording/playback_rules.h"
#include "recording/recording_source.h"
#include "recording/stream_player.h"
#include "recording/text_mode_reader.h"

namespace {

struct Line {
    std::string text;
    TextLineEnd end;
    uint64_t nextOffset;
};

// The lines of a text-mode file: split at line feeds; a CR right before the line feed belongs to
// it; a line is cut after kMaxTextLineBytes (and then keeps what was cut, CR included); a last
// line without a line feed counts when it is not empty.
std::vector<Line> ModelLines(std::string_view file) {
    std::vector<Line> lines;
    std::size_t from = 0;
    while (from < file.size()) {
        const std::size_t lineFeed = file.find('\n', from);
        const bool hasLineFeed = lineFeed != std::string_view::npos;
        const std::size_t length = (hasLineFeed ? lineFeed : file.size()) - from;
        std::string_view raw = file.substr(from, length);
        const bool endsInCr = !raw.empty() && raw.back() == '\r';
        std::string text(raw.substr(0, std::min(raw.size(), kMaxTextLineBytes)));
        if (hasLineFeed && endsInCr && raw.size() <= kMaxTextLineBytes) {
            text.pop_back();
        }
        const TextLineEnd end = !hasLineFeed ? TextLineEnd::kEndOfFile
                                : endsInCr   ? TextLineEnd::kCrLf
                                             : TextLineEnd::kLineFeed;
        from += length + (hasLineFeed ? 1 : 0);
        lines.push_back({std::move(text), end, from});
    }
    return lines;
}

// The byte after the `count` lines from the one starting at `offset`.
uint64_t AfterLines(const std::vector<Line>& lines, uint64_t offset, std::size_t count) {
    std::size_t first = 0;
    while (first < lines.size() && offset != (first == 0 ? 0 : lines[first - 1].nextOffset)) {
        ++first;
    }
    FUZZ_CHECK(first + count <= lines.size());
    return lines[first + count - 1].nextOffset;
}

void CheckSkippingDamage(const CMemoryFile& file, const std::vector<Line>& lines,
                         std::size_t size) {
    RecordingSourceOptions options;
    options.skipToNextHeader = true;
    Result<std::unique_ptr<CRecordingSource>> opening =
        OpenRecordingSource(file.Path(), FileKind::kTextStream, options);
    FUZZ_CHECK(opening);
    CRecordingSource& source = **opening;
    uint64_t covered = 0;  // bytes accounted for, from the start
    source.SetProblemListener([&](const SourceProblem& problem) {
        if (problem.kind == SourceProblemKind::kSkipped) {
            FUZZ_CHECK(problem.byteOffset == covered && problem.count > 0);
            covered += problem.count;
        } else if (problem.kind == SourceProblemKind::kShortEnd) {
            FUZZ_CHECK(problem.byteOffset == covered && problem.count < kTextRecordLineCount);
            covered = AfterLines(lines, covered, problem.count);
        }
    });
    SourceFrame frame;
    while (source.Next(frame) == SourceRead::kFrame) {
        FUZZ_CHECK(frame.byteOffset == covered);
        std::size_t first = 0;
        while (covered != (first == 0 ? 0 : lines[first - 1].nextOffset)) {
            ++first;
        }
        std::string record;
        for (std::size_t i = first; i < first + kTextRecordLineCount; ++i) {
            FUZZ_CHECK(IsRecordedTextHeader(lines[i].text) == (i == first));
            record += lines[i].text;
        }
        FUZZ_CHECK(frame.stored == record);
        covered = lines[first + kTextRecordLineCount - 1].nextOffset;
    }
    FUZZ_CHECK(covered == size);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    ++data;
    --size;
    // Small buffers put line ends and CR LF pairs across refills; a long file gets one large
    // enough to stay within a few hundred reads.
    const std::size_t bufferSize = std::max<std::size_t>(1 + data[-1] % 64, size / 128);
    const std::string_view file(reinterpret_cast<const char*>(data), size);
    const CMemoryFile memoryFile(data, size);

    const std::vector<Line> expected = ModelLines(file);
    {
        CTextModeReader reader(bufferSize);
        const int fd = ::open(memoryFile.Path().c_str(), O_RDONLY | O_CLOEXEC);
        FUZZ_CHECK(fd >= 0);
        reader.Attach(fd);
        for (const Line& line : expected) {
            std::string text;
            TextLineEnd end{};
            FUZZ_CHECK(reader.ReadLine(text, &end) == 1);
            FUZZ_CHECK(text == line.text);
            FUZZ_CHECK(end == line.end);
            FUZZ_CHECK(reader.Position() == line.nextOffset);
        }
        std::string rest;
        FUZZ_CHECK(reader.ReadLine(rest) == 0);
        FUZZ_CHECK(rest.empty());
        FUZZ_CHECK(reader.ReadError() == 0);
        ::close(fd);
    }

    // Play-back: every record the player hands out goes the way of a play-back tick.
    CStreamPlayer player;
    const int mode = player.OpenForPlay(kPlayTextStream, memoryFile.Path());
    FUZZ_CHECK(player.IsOpen() == 1);
    FUZZ_CHECK(mode >= 0 && mode <= 2);
    std::size_t records = 0;
    std::string record;
    while (player.ReadTextFrame(record) == 1) {
        // A record is the next 34 lines, appended as the reader gives them.
        FUZZ_CHECK((records + 1) * kTextRecordLineCount <= expected.size());
        std::string lines;
        for (int i = 0; i < kTextRecordLineCount; ++i) {
            lines += expected[records * kTextRecordLineCount + static_cast<std::size_t>(i)].text;
        }
        FUZZ_CHECK(record == lines);
        ++records;
        const TextRecordParts parts = SplitTextRecord(record);
        FUZZ_CHECK(parts.header.size() + parts.frameText.size() == record.size());
        const TextPlayMode playMode = TextPlayModeOf(parts.header);
        const std::optional<FrameData> frame = ParseTextFrame(parts.frameText, playMode.modeChar);
        // A frame is 33 lines: it cannot come from fewer bytes than 33 line ends.
        FUZZ_CHECK(!frame || parts.frameText.size() >= 2 * kTextLineCount);
        record.clear();
    }
    CheckSkippingDamage(memoryFile, expected, size);
    return 0;
}
