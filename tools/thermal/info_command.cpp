// `thermal info FILE...`: reads recordings from start to end the way play-back reads them and
// says what they hold (type, frames, data mode, offsets, value range, duration) and what is
// wrong with them, each problem with its byte offset and frame number. Files are streamed
// record by record, so memory stays the same whatever their size. Video recordings are
// inspected by info_video.cpp.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/option_table.h"
#include "commands.h"
#include "frame/binary_record_reader.h"
#include "frame/conversion.h"
#include "frame/frame_block.h"
#include "frame/text_frame.h"
#include "info_problem_list.h"
#include "info_video.h"
#include "platform/one_line.h"
#include "recording/playback_rules.h"
#include "recording/recording_source.h"
#include "run/frame_entry.h"
#include "text_frame_fault.h"

namespace {

constexpr char kUsage[] =
    "Usage: thermal info [options] FILE...\n"
    "\n"
    "Reads recordings from start to end as the viewer plays them: binary streams (.bds), text\n"
    "streams (.txt) and raw frame files (.bin). For each file it prints the type, the number of\n"
    "frames, the data mode, whether the electrical offsets were subtracted, the smallest and\n"
    "largest pixel value (in the file's unit, volts for voltage frames), the duration, and every\n"
    "problem found with its byte offset and frame number.\n"
    "\n"
    "For video recordings (.avi) it prints the codec, the frame size, the frame rate, the number\n"
    "of whole frames and of key frames, the duration at the file's frame rate, and where the\n"
    "index or the headers' frame counts disagree with the frames and where the file stops being\n"
    "whole. Video frames are numbered from 0, as the video player numbers them.\n"
    "\n"
    "Options:\n"
    "  --decode           also decode every frame of a video and list those that do not decode\n"
    "                     or give no picture: empty frames (0 bytes, where the recorder could\n"
    "                     not encode) and frames holding none (default off: it takes about a\n"
    "                     millisecond a frame)\n"
    "  --max-problems N   list at most N problems of each kind per file, 1..1000000 (default\n"
    "                     10); the rest are counted\n"
    "  -h, --help         show this help\n"
    "\n"
    "Exit status: 0 every file is clean, 1 problems were found, 2 a file cannot be read\n"
    "(missing, a directory, an unknown type, not an AVI file, a read error) or the command line\n"
    "is wrong.\n";

constexpr int kDefaultMaxProblems = 10;

// How the values of one data mode are shown.
enum class ValueKind { kTemperature, kVoltage, kRaw };

std::string Plural(uint64_t count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

// The frames of one data mode in a file and the range of their pixel values.
struct ModeGroup {
    char key;           // record mode letter or text mode character
    std::string label;  // "temperature (Mode=T)"
    ValueKind kind;
    int unit;  // for temperatures
    uint64_t frames = 0;
    uint64_t measured = 0;  // frames whose values went into the range
    uint16_t low = 0xFFFF;
    uint16_t high = 0;

    // Text frames: the smallest and largest pixel field as the file writes it, so the report
    // quotes the file's own numbers rather than what reading them back would give.
    std::optional<TextFieldRange> fields{};

    void Measure(const uint16_t values[kPixelCount]) {
        const auto [lo, hi] = std::minmax_element(values, values + kPixelCount);
        low = std::min(low, *lo);
        high = std::max(high, *hi);
        ++measured;
    }

    void MeasureText(std::string_view frameText) {
        const std::optional<TextFieldRange> range = PixelFieldRange(frameText);
        if (!range) {
            return;
        }
        if (!fields) {
            fields = range;
        } else {
            if (range->low < fields->low) {
                fields->low = range->low;
                fields->lowText = range->lowText;
            }
            if (range->high > fields->high) {
                fields->high = range->high;
                fields->highText = range->highText;
            }
        }
        ++measured;
    }

    std::string RangeText(bool high) const {
        if (fields) {
            return (high ? fields->highText : fields->lowText) + UnitName();
        }
        return Text(high ? this->high : low);
    }

    const char* UnitName() const {
        if (kind != ValueKind::kTemperature) {
            return " V";
        }
        return unit == kUnitKelvin ? " K" : unit == kUnitCelsius ? " °C" : " °F";
    }

    std::string Text(uint16_t value) const {
        switch (kind) {
            case ValueKind::kTemperature:
                return std::string(TemperatureFieldText(value, unit)) + UnitName();
            case ValueKind::kVoltage:
                return std::string(VoltageFieldText(value)) + " V";
            case ValueKind::kRaw:
                return std::string(VoltageFieldText(value)) + " V (raw value " +
                       std::to_string(value) + ")";
        }
        return {};
    }
};

// What one file holds, filled while it is read and printed at the end.
struct FileReport {
    explicit FileReport(std::size_t maxProblems) : problems(maxProblems) {}

    std::string type;
    uint64_t frames = 0;    // complete records or text frames
    uint64_t readable = 0;  // of those, frames the viewer turns into a picture
    std::vector<ModeGroup> groups;
    std::string offsets;
    ProblemList problems;

    ModeGroup& Group(char key, const std::string& label, ValueKind kind, int unit) {
        for (ModeGroup& group : groups) {
            if (group.key == key) {
                return group;
            }
        }
        groups.push_back({key, label, kind, unit});
        return groups.back();
    }

    void Print(const std::string& path) const {
        std::printf("%s\n  type: %s\n", OneLine(path).c_str(), type.c_str());
        if (readable == frames) {
            std::printf("  frames: %llu\n", static_cast<unsigned long long>(frames));
        } else {
            std::printf("  frames: %llu (%llu readable by the viewer)\n",
                        static_cast<unsigned long long>(frames),
                        static_cast<unsigned long long>(readable));
        }
        std::string mode;
        for (const ModeGroup& group : groups) {
            if (groups.size() == 1) {
                mode = group.label;
            } else {
                mode += (mode.empty() ? "mixed: " : ", ") +
                        Plural(group.frames, "frame ", "frames ") + group.label;
            }
        }
        std::printf("  data mode: %s\n", mode.empty() ? "none (no frames)" : mode.c_str());
        std::printf("  offsets subtracted: %s\n", offsets.c_str());
        PrintRange("minimum", false);
        PrintRange("maximum", true);
        const double seconds =
            static_cast<double>(frames) * PlayPeriodMs(kDefaultPlaySpeed) / 1000.0;
        std::printf(
            "  duration: not recorded in the file; %.1f s when played at the default speed "
            "(%d ms a frame)\n",
            seconds, PlayPeriodMs(kDefaultPlaySpeed));
    }

    void PrintRange(const char* name, bool high) const {
        std::string text;
        int measuredGroups = 0;
        for (const ModeGroup& group : groups) {
            measuredGroups += group.measured > 0 ? 1 : 0;
        }
        for (const ModeGroup& group : groups) {
            if (group.measured == 0) {
                continue;
            }
            if (!text.empty()) {
                text += ", ";
            }
            text += group.RangeText(high);
            if (measuredGroups > 1) {
                text += " in " + group.label;
            }
        }
        std::printf("  %s: %s\n", name, text.empty() ? "none (no readable frame)" : text.c_str());
    }
};

// A few bytes of a header for a message: printable ASCII as it is, the rest as \xHH.
std::string Shown(const char* bytes, std::size_t size) {
    std::string out;
    for (std::size_t i = 0; i < size && i < 24; ++i) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    return out;
}

// Reports a file that cannot be read; returns the status for it.
int CannotRead(const std::string& path, const std::string& why) {
    std::fprintf(stderr, "thermal info: cannot read '%s': %s\n", OneLine(path).c_str(),
                 OneLine(why).c_str());
    return 2;
}

// "the frame does not parse", with the reason when the lines or fields tell it.
std::string WhyTextFrameFails(std::string_view text) {
    const std::string fault = TextFrameFault(text);
    return fault.empty() ? "the frame does not parse" : "the frame does not parse: " + fault;
}

// Lines that lost the CR the recorder leaves at their end after reading.
struct LineEndTally {
    uint64_t count = 0;
    uint64_t firstByte = 0;
    uint64_t firstFrame = 0;

    void Note(uint64_t byte, uint64_t frame) {
        if (count++ == 0) {
            firstByte = byte;
            firstFrame = frame;
        }
    }
};

// What the problems the source reports while it is read mean to the user of the viewer.
class CSourceProblems {
  public:
    CSourceProblems(FileReport& report, bool firstRecordPlays, std::size_t recordSize)
        : m_report(report), m_firstRecordPlays(firstRecordPlays), m_recordSize(recordSize) {}

    void Note(const SourceProblem& problem, FileKind kind) {
        const uint64_t frame = problem.frameNumber;
        switch (problem.kind) {
            case SourceProblemKind::kUnknownHeader:
            case SourceProblemKind::kMalformedHeader:
                m_report.problems.Add(kBadHeader, problem.byteOffset, frame,
                                      kind == FileKind::kBinaryStream
                                          ? RecordHeaderProblem(problem.header, frame)
                                          : TextHeaderProblem(problem, frame));
                break;
            case SourceProblemKind::kShortEnd:
                m_report.problems.Add(kShortEnd, problem.byteOffset, frame,
                                      ShortEnd(problem, kind));
                break;
            case SourceProblemKind::kSingleCrLf:
                m_singleCrLf.Note(problem.byteOffset, frame);
                m_lastFrameLostCr = frame;
                break;
            case SourceProblemKind::kBareLineFeed:
                m_bareLineFeed.Note(problem.byteOffset, frame);
                m_lastFrameLostCr = frame;
                break;
            case SourceProblemKind::kSkipped:
                break;  // the file is read record after record, as play-back reads it
        }
    }

    bool LostCr(uint64_t frame) const { return m_lastFrameLostCr == frame; }

    // Lines ending otherwise than as recorded, once per kind, after the whole file was read.
    void AddLineEnds(uint64_t endedLines) {
        const std::pair<const LineEndTally*, const char*> tallies[] = {
            {&m_singleCrLf, "a single CR LF"}, {&m_bareLineFeed, "a line feed without CR"}};
        for (const auto& [tally, how] : tallies) {
            if (tally->count == 0) {
                continue;
            }
            const std::string text =
                tally->count == endedLines
                    ? std::string("lines end in ") + how +
                          ": the viewer reads no frame from this file"
                    : Plural(tally->count, "line ends", "lines end") + " in " + how +
                          ", the first here: the viewer skips the frames holding them";
            m_report.problems.Add(kLineEnds, tally->firstByte, tally->firstFrame, text);
        }
    }

  private:
    std::string RecordHeaderProblem(std::string_view header, uint64_t frame) const {
        std::string text =
            "the record header reads '" + Shown(header.data(), 6) + "', not Mode=T or Mode=V";
        const auto* bytes = reinterpret_cast<const uint8_t*>(header.data());
        if (frame == 1 && !m_firstRecordPlays) {
            text += ": the viewer does not play this file";
        } else if (DataModeOfRecordHeader(bytes) == kDataModeUnknown) {
            text += ": the viewer plays it as a voltage frame";
        }
        return text;
    }

    std::string TextHeaderProblem(const SourceProblem& problem, uint64_t frame) const {
        std::string text = "the header line reads '" +
                           Shown(problem.header.data(), problem.header.size()) +
                           "', not Mode=<V|K|C|F> ElOff=<T|F>";
        if (problem.kind == SourceProblemKind::kUnknownHeader) {
            const bool played = DataModeOfTextHeader(problem.header) != kDataModeUnknown;
            text += frame == 1 && !played ? ": the viewer does not play this file"
                                          : ": the viewer reads the frame as kelvin";
        }
        return text;
    }

    std::string ShortEnd(const SourceProblem& problem, FileKind kind) const {
        const std::string count = std::to_string(problem.count);
        switch (kind) {
            case FileKind::kBinaryStream:
                return "short last record, " + count + " of " + std::to_string(m_recordSize) +
                       " bytes: the viewer stops before it";
            case FileKind::kRawFrames:
                return "the file size " + std::to_string(problem.byteOffset + problem.count) +
                       " is not a multiple of " + std::to_string(m_recordSize) +
                       ": a short last frame of " + count + " bytes, where the viewer stops";
            default:
                return "short last frame, " + count + " of 34 lines: the viewer stops before it";
        }
    }

    FileReport& m_report;
    const bool m_firstRecordPlays;
    const std::size_t m_recordSize;
    LineEndTally m_singleCrLf;
    LineEndTally m_bareLineFeed;
    uint64_t m_lastFrameLostCr = 0;
};

// The group of a binary stream record: by what its header says, so a header naming no known
// mode is never counted as one that does.
ModeGroup& RecordGroup(FileReport& report, const SourceFrame& frame) {
    const auto* header = reinterpret_cast<const uint8_t*>(frame.header.data());
    if (const char* label = RecordHeaderLabel(header)) {
        return IsTemperatureMode(frame.modeLetter)
                   ? report.Group('T', label, ValueKind::kTemperature, kUnitKelvin)
                   : report.Group('V', label, ValueKind::kVoltage, 0);
    }
    return report.Group(
        '?', "unknown (the header reads '" + Shown(frame.header.data(), 6) + "'; read as voltage)",
        ValueKind::kVoltage, 0);
}

ModeGroup& TextGroup(FileReport& report, char modeChar) {
    const char* label = TextModeLabel(modeChar);
    switch (modeChar) {
        case 'V':
            return report.Group('V', label, ValueKind::kVoltage, 0);
        case 'C':
            return report.Group('C', label, ValueKind::kTemperature, kUnitCelsius);
        case 'F':
            return report.Group('F', label, ValueKind::kTemperature, kUnitFahrenheit);
        default:
            return report.Group('K', label, ValueKind::kTemperature, kUnitKelvin);
    }
}

// Reads the whole recording as play-back reads it, frame by frame, each through the frames' one
// entry into the pipeline (as stored: no stacks, no offsets subtracted), and fills `report`.
// Returns the file's status.
int ScanRecording(const std::string& path, CRecordingSource& source, FileReport& report) {
    const FileKind kind = source.Kind();
    const std::size_t recordSize =
        kind == FileKind::kBinaryStream ? kBinaryRecordSize : kRawFrameSize;
    CSourceProblems problems(report, source.DataMode() != kDataModeUnknown, recordSize);
    source.SetProblemListener(
        [&problems, kind](const SourceProblem& problem) { problems.Note(problem, kind); });
    CFramePipeline pipeline;
    CFrameEntry entry(pipeline);
    uint64_t offsetFrames = 0;
    SourceFrame record;
    SourceRead read;
    while ((read = source.Next(record)) == SourceRead::kFrame) {
        report.frames = record.number;
        // Text frames are measured in the file's own digits: whether they parse is all it takes.
        const ProcessedFrame* made =
            entry.Make(record, record.kind == SourceFrameKind::kText ? 0u : kNeedsValues);
        switch (record.kind) {
            case SourceFrameKind::kRawValues: {
                ++report.readable;
                ModeGroup& group = report.Group('r', "raw values", ValueKind::kRaw, 0);
                group.frames++;
                group.Measure(made->values);
                break;
            }
            case SourceFrameKind::kBlock: {
                ++report.readable;
                if (std::memcmp(record.block + kFrameMarkerOffset, kFrameMarker,
                                sizeof kFrameMarker) != 0) {
                    report.problems.Add(
                        kNoMarker, record.byteOffset + kBinaryRecordHeaderSize + kFrameMarkerOffset,
                        record.number,
                        "no frame marker in the frame block: the record is damaged or out of "
                        "step");
                }
                ModeGroup& group = RecordGroup(report, record);
                group.frames++;
                group.Measure(made->values);
                break;
            }
            case SourceFrameKind::kText: {
                const TextPlayMode& mode = record.textMode;
                ModeGroup& group = TextGroup(report, mode.modeChar);
                group.frames++;
                if (made != nullptr) {
                    ++report.readable;
                    offsetFrames += mode.offsetsSubtracted;
                    group.MeasureText(record.frameText);
                } else if (!problems.LostCr(record.number)) {
                    report.problems.Add(kNotParsed, record.byteOffset, record.number,
                                        WhyTextFrameFails(record.frameText));
                }
                break;
            }
        }
    }
    if (read == SourceRead::kError) {
        return CannotRead(path, "at byte " + std::to_string(source.Position()) + ": " +
                                    std::strerror(source.ErrorNumber()));
    }
    if (kind == FileKind::kTextStream) {
        problems.AddLineEnds(source.LineFeedCount());
        if (report.readable == 0) {
            report.offsets = "unknown (no readable frame)";
        } else if (offsetFrames == 0) {
            report.offsets = "no (ElOff=F)";
        } else if (offsetFrames == report.readable) {
            report.offsets = "yes (ElOff=T)";
        } else {
            report.offsets = "in " + std::to_string(offsetFrames) + " of " +
                             std::to_string(report.readable) + " frames (ElOff=T)";
        }
    }
    if (report.frames == 0 && report.problems.Total() == 0) {
        report.problems.Add(kNoFrames, 0, kNoFrame, "the file is empty: there is nothing to play");
    }
    return 0;
}

// Inspects one file and prints its report, after a blank line when `separate`; returns its
// status. `decode` decodes the frames of a video.
int InfoOfFile(const std::string& path, std::size_t maxProblems, bool decode, bool separate) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        return CannotRead(path, std::strerror(errno));
    }
    if (S_ISDIR(status.st_mode)) {
        return CannotRead(path, "it is a directory");
    }
    if (!S_ISREG(status.st_mode)) {
        return CannotRead(path, "it is not a regular file");
    }
    const FileKind kind = PlayedFileKindOf(path);
    if (kind == FileKind::kVideo) {
        return InspectVideo(path, maxProblems, decode, separate);
    }
    if (kind == FileKind::kUnknown) {
        return CannotRead(path, "unknown file type (expected .bds, .txt, .bin or .avi)");
    }
    FileReport report(maxProblems);
    switch (kind) {
        case FileKind::kBinaryStream:
            report.type = "binary stream recording (.bds)";
            report.offsets = "no (frame blocks as the module sent them)";
            break;
        case FileKind::kRawFrames:
            report.type = "raw frame file (.bin), played as voltages";
            report.offsets = "no offsets in raw frame files";
            break;
        default:
            report.type = "text stream recording (.txt)";
            break;
    }
    const Result<std::unique_ptr<CRecordingSource>> opening = OpenRecordingSource(path, kind);
    if (!opening) {
        return CannotRead(path, std::strerror(opening.GetStatus().Code()));
    }
    const int result = ScanRecording(path, **opening, report);
    if (result != 0) {
        return result;
    }
    if (separate) {
        std::printf("\n");
    }
    report.Print(path);
    report.problems.Print();
    // Reports and the error lines on stderr stay in order when both go to one terminal.
    std::fflush(stdout);
    return report.problems.Total() == 0 ? 0 : 1;
}

}  // namespace

int RunInfo(int argc, char** argv) {
    if (AsksForHelp(argc, argv)) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    std::vector<std::string> paths;
    std::size_t maxProblems = kDefaultMaxProblems;
    bool decode = false;
    COptionTable table;
    table.Flag("--decode", decode);
    table.Ranged<std::size_t>("--max-problems", 1, 1000000,
                              [&maxProblems](std::size_t limit) { maxProblems = limit; });
    if (const std::string error = table.Parse(argc, argv, paths); !error.empty()) {
        return CommandLineError("info", error);
    }
    if (paths.empty()) {
        return CommandLineError("info", "missing FILE");
    }
    int status = 0;
    bool printed = false;
    for (const std::string& path : paths) {
        const int fileStatus = InfoOfFile(path, maxProblems, decode, printed);
        printed = printed || fileStatus != 2;
        status = std::max(status, fileStatus);
    }
    return status;
}
