// `thermal info FILE...`: reads recordings from start to end the way play-back reads them and
// says what they hold (type, frames, data mode, offsets, value range, duration) and what is
// wrong with them, each problem with its byte offset and frame number. Files are streamed
// record by record, so memory stays the same whatever their size. Video recordings are
// inspected by info_video.cpp.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "commands.h"
#include "frame/binary_record_reader.h"
#include "frame/conversion.h"
#include "frame/frame_block.h"
#include "frame/text_frame.h"
#include "info_problem_list.h"
#include "info_video.h"
#include "platform/one_line.h"
#include "recording/playback_rules.h"
#include "recording/read_only_file.h"
#include "recording/stream_player.h"
#include "recording/text_mode_reader.h"
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

    void Measure(const uint16_t values[kPixelCount]) {
        const auto [lo, hi] = std::minmax_element(values, values + kPixelCount);
        low = std::min(low, *lo);
        high = std::max(high, *hi);
        ++measured;
    }

    std::string Text(uint16_t value) const {
        switch (kind) {
            case ValueKind::kTemperature: {
                static constexpr const char* kUnitNames[] = {" K", " °C", " °F"};
                const int index = unit == kUnitKelvin ? 0 : unit == kUnitCelsius ? 1 : 2;
                return std::string(TemperatureFieldText(value, unit)) + kUnitNames[index];
            }
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
                mode += (mode.empty() ? "mixed: " : ", ") + std::to_string(group.frames) +
                        " frames " + group.label;
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
            text += group.Text(high ? group.high : group.low);
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

std::string Plural(uint64_t count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

// The size of a file, after it has been read (a recording may still be growing).
std::optional<uint64_t> SizeOf(const std::string& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        return std::nullopt;
    }
    return static_cast<uint64_t>(status.st_size);
}

// Reports a file that cannot be read; returns the status for it.
int CannotRead(const std::string& path, const std::string& why) {
    std::fprintf(stderr, "thermal info: cannot read '%s': %s\n", OneLine(path).c_str(),
                 OneLine(why).c_str());
    return 2;
}

// Binary streams and raw frame files: fixed-size records read through the player, as
// play-back reads them. Returns the file's status.
int ScanRecords(const std::string& path, int playType, FileReport& report) {
    const bool binaryStream = playType == kPlayBinaryStream;
    const std::size_t recordSize = binaryStream ? kBinaryRecordSize : kRawFrameSize;
    CStreamPlayer player;
    const int probed = player.OpenForPlay(playType, path);
    if (player.IsOpen() == 0) {
        return CannotRead(path, std::strerror(errno));
    }
    std::vector<uint8_t> record(recordSize);
    FrameData frame{};
    uint16_t raw[kPixelCount];
    uint64_t count = 0;
    for (;;) {
        errno = 0;
        if (player.ReadRecord(static_cast<int>(recordSize), record.data()) == 0) {
            if (errno != 0) {
                return CannotRead(path, "at byte " + std::to_string(count * recordSize) + ": " +
                                            std::strerror(errno));
            }
            break;
        }
        const uint64_t byte = count * recordSize;
        ++count;
        if (!binaryStream) {
            RawFrameToHost(record.data(), raw);
            ModeGroup& group = report.Group('r', "raw values", ValueKind::kRaw, 0);
            group.frames++;
            group.Measure(raw);
            continue;
        }
        const char mode = static_cast<char>(record[5]);
        const bool knownMode = mode == 'T' || mode == 'V';
        if (!knownMode || std::memcmp(record.data(), "Mode=", 5) != 0) {
            std::string text = "the record header reads '" +
                               Shown(reinterpret_cast<const char*>(record.data()), 6) +
                               "', not Mode=T or Mode=V";
            if (count == 1 && probed == 0) {
                text += ": the viewer does not play this file";
            } else if (!knownMode) {
                text += ": the viewer plays it as a voltage frame";
            }
            report.problems.Add(kBadHeader, byte, count, text);
        }
        const uint8_t* block = record.data() + kBinaryRecordHeaderSize;
        if (std::memcmp(block + kFrameMarkerOffset, kFrameMarker, sizeof kFrameMarker) != 0) {
            report.problems.Add(kNoMarker, byte + kBinaryRecordHeaderSize + kFrameMarkerOffset,
                                count,
                                "no frame marker in the frame block: the record is damaged or "
                                "out of step");
        }
        const char letter = ModeLetterOfRecord(record.data());
        DecodeFrameBlock(block, frame);
        ModeGroup& group =
            IsTemperatureMode(letter)
                ? report.Group(letter, "temperature (Mode=T)", ValueKind::kTemperature, kUnitKelvin)
                : report.Group(letter, "voltage (Mode=V)", ValueKind::kVoltage, 0);
        group.frames++;
        group.Measure(frame.values);
    }
    player.ClosePlay();
    report.frames = report.readable = count;

    const uint64_t size = SizeOf(path).value_or(count * recordSize);
    const uint64_t whole = count * recordSize;
    if (size > whole) {
        const uint64_t rest = size - whole;
        if (binaryStream) {
            report.problems.Add(kShortEnd, whole, count + 1,
                                "short last record, " + std::to_string(rest) + " of " +
                                    std::to_string(recordSize) +
                                    " bytes: the viewer stops before it");
        } else {
            report.problems.Add(kShortEnd, whole, count + 1,
                                "the file size " + std::to_string(size) + " is not a multiple of " +
                                    std::to_string(recordSize) + ": a short last frame of " +
                                    std::to_string(rest) + " bytes, where the viewer stops");
        }
    } else if (count == 0) {
        report.problems.Add(kNoFrames, 0, kNoFrame, "the file is empty: there is nothing to play");
    }
    return 0;
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

// Checks a header line (without its CR) against "Mode=%c ElOff=%c"; returns the problem or
// nothing.
std::optional<std::string> HeaderProblem(std::string_view header, bool first) {
    const char mode = header.size() > 5 ? header[5] : '\0';
    const bool knownMode = mode == 'V' || mode == 'K' || mode == 'C' || mode == 'F';
    const bool wellFormed = header.size() == 14 && header.substr(0, 5) == "Mode=" &&
                            header.substr(6, 7) == " ElOff=" &&
                            (header[13] == 'T' || header[13] == 'F');
    if (knownMode && wellFormed) {
        return std::nullopt;
    }
    std::string text = "the header line reads '" + Shown(header.data(), header.size()) +
                       "', not Mode=<V|K|C|F> ElOff=<T|F>";
    if (!knownMode) {
        const char upper = mode >= 'a' && mode <= 'z' ? static_cast<char>(mode - 'a' + 'A') : mode;
        const bool probed = upper == 'V' || upper == 'K' || upper == 'C' || upper == 'F';
        text += first && !probed ? ": the viewer does not play this file"
                                 : ": the viewer reads the frame as kelvin";
    }
    return text;
}

// Text streams: 34 lines per frame, read as play-back reads them.
int ScanTextStream(const std::string& path, FileReport& report) {
    const int fd = OpenRecordingForReading(path);
    if (fd < 0) {
        return CannotRead(path, std::strerror(errno));
    }
    CTextModeReader reader;
    reader.Attach(fd);
    std::string record;
    LineEndTally singleCrLf;
    LineEndTally bareLineFeed;
    uint64_t endedLines = 0;
    uint64_t offsetFrames = 0;
    for (;;) {
        record.clear();
        const uint64_t frameByte = reader.Position();
        const uint64_t frameNumber = report.frames + 1;
        std::size_t headerLength = 0;
        bool lostCr = false;
        int lines = 0;
        for (; lines < kTextRecordLineCount; ++lines) {
            const uint64_t lineByte = reader.Position();
            const std::size_t before = record.size();
            TextLineEnd end = TextLineEnd::kEndOfFile;
            if (reader.ReadLine(record, &end) == 0) {
                break;
            }
            if (lines == 0) {
                headerLength = record.size();
            }
            if (end == TextLineEnd::kEndOfFile) {
                continue;
            }
            ++endedLines;
            if (record.size() == before || record.back() != '\r') {
                lostCr = true;
                (end == TextLineEnd::kCrLf ? singleCrLf : bareLineFeed).Note(lineByte, frameNumber);
            }
        }
        if (reader.ReadError() != 0) {
            const int error = reader.ReadError();
            ::close(fd);
            return CannotRead(
                path, "at byte " + std::to_string(reader.Position()) + ": " + std::strerror(error));
        }
        if (lines == 0) {
            break;
        }
        if (lines < kTextRecordLineCount) {
            report.problems.Add(kShortEnd, frameByte, frameNumber,
                                "short last frame, " + std::to_string(lines) +
                                    " of 34 lines: the viewer stops before it");
            break;
        }
        report.frames = frameNumber;

        std::string_view header(record.data(), headerLength);
        if (!header.empty() && header.back() == '\r') {
            header.remove_suffix(1);
        }
        if (const auto problem = HeaderProblem(header, frameNumber == 1)) {
            report.problems.Add(kBadHeader, frameByte, frameNumber, *problem);
        }
        // The same split, mode and parse as the play-back timer.
        const TextRecordParts parts = SplitTextRecord(record);
        const TextPlayMode mode = TextPlayModeOf(parts.header);
        static constexpr std::pair<char, const char*> kLabels[] = {
            {'V', "voltage (Mode=V)"},
            {'K', "temperature in kelvin (Mode=K)"},
            {'C', "temperature in °C (Mode=C)"},
            {'F', "temperature in °F (Mode=F)"}};
        const char* label = "";
        for (const auto& [key, text] : kLabels) {
            label = key == mode.modeChar ? text : label;
        }
        ModeGroup& group = mode.modeChar == 'V'
                               ? report.Group('V', label, ValueKind::kVoltage, 0)
                               : report.Group(mode.modeChar, label, ValueKind::kTemperature,
                                              mode.modeChar == 'K'   ? kUnitKelvin
                                              : mode.modeChar == 'C' ? kUnitCelsius
                                                                     : kUnitFahrenheit);
        group.frames++;
        const std::optional<FrameData> frame = ParseTextFrame(parts.frameText, mode.modeChar);
        if (frame) {
            ++report.readable;
            offsetFrames += mode.offsetsSubtracted;
            group.Measure(frame->values);
        } else if (!lostCr) {
            report.problems.Add(kNotParsed, frameByte, frameNumber,
                                WhyTextFrameFails(parts.frameText));
        }
    }
    ::close(fd);

    const std::pair<const LineEndTally*, const char*> tallies[] = {
        {&singleCrLf, "a single CR LF"}, {&bareLineFeed, "a line feed without CR"}};
    for (const auto& [tally, how] : tallies) {
        if (tally->count == 0) {
            continue;
        }
        const std::string text =
            tally->count == endedLines
                ? std::string("lines end in ") + how + ": the viewer reads no frame from this file"
                : Plural(tally->count, "line ends", "lines end") + " in " + how +
                      ", the first here: the viewer skips the frames holding them";
        report.problems.Add(kLineEnds, tally->firstByte, tally->firstFrame, text);
    }
    if (report.frames == 0 && report.problems.Total() == 0) {
        report.problems.Add(kNoFrames, 0, kNoFrame, "the file is empty: there is nothing to play");
    }
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
    const int kind = PlayFileKindOf(path);
    if (kind == kPlayVideo) {
        return InspectVideo(path, maxProblems, decode, separate);
    }
    if (kind == kPlayUnknownFile) {
        return CannotRead(path, "unknown file type (expected .bds, .txt, .bin or .avi)");
    }
    FileReport report(maxProblems);
    int result = 0;
    switch (kind) {
        case kPlayBinaryStream:
            report.type = "binary stream recording (.bds)";
            report.offsets = "no (frame blocks as the module sent them)";
            result = ScanRecords(path, kind, report);
            break;
        case kPlayRawFrames:
            report.type = "raw frame file (.bin), played as voltages";
            report.offsets = "no offsets in raw frame files";
            result = ScanRecords(path, kind, report);
            break;
        default:
            report.type = "text stream recording (.txt)";
            result = ScanTextStream(path, report);
            break;
    }
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

int UsageError(const std::string& message) {
    std::fprintf(stderr, "thermal info: %s (see 'thermal info --help')\n",
                 OneLine(message).c_str());
    return 2;
}

}  // namespace

int RunInfo(int argc, char** argv) {
    std::vector<std::string> paths;
    std::size_t maxProblems = kDefaultMaxProblems;
    bool decode = false;
    bool optionsEnded = false;
    for (int i = 0; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
            paths.emplace_back(arg);
        } else if (arg == "--") {
            optionsEnded = true;
        } else if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (arg == "--decode") {
            decode = true;
        } else if (arg == "--max-problems") {
            const std::string_view value = i + 1 < argc ? argv[++i] : "";
            int number = 0;
            const auto parsed = std::from_chars(value.data(), value.data() + value.size(), number);
            if (value.empty() || parsed.ec != std::errc() ||
                parsed.ptr != value.data() + value.size() || number < 1 || number > 1000000) {
                return UsageError("--max-problems takes a number from 1 to 1000000");
            }
            maxProblems = static_cast<std::size_t>(number);
        } else {
            return UsageError("unknown option '" + std::string(arg) + "'");
        }
    }
    if (paths.empty()) {
        return UsageError("missing FILE");
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
