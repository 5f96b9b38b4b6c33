// `thermal convert`: pushes every frame of a binary stream recording through the viewer's own
// frame pipeline and writes what the viewer would have written: a text stream recording and/or
// the display image of each frame as a BMP file.
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "commands.h"
#include "export/atomic_file.h"
#include "export/bitmap_file.h"
#include "frame/binary_record_reader.h"
#include "frame/conversion.h"
#include "frame/text_frame.h"
#include "processing/frame_pipeline.h"

namespace {

constexpr char kUsage[] =
    "Usage: thermal convert INPUT.bds OUTPUT.txt [options]\n"
    "       thermal convert INPUT.bds --frames DIR [options]\n"
    "       thermal convert CAPTURE.raw OUTPUT.bds [--letter K|k|t|c]\n"
    "\n"
    "Processes every frame of a binary stream recording as the viewer does and writes the text\n"
    "stream recording (OUTPUT.txt) and/or each frame's 320 x 310 display image as\n"
    "DIR/frame_000001.bmp, frame_000002.bmp, ...\n"
    "\n"
    "Options (defaults are the viewer's start-up settings):\n"
    "  --unit K|C|F          unit of temperature texts (default C)\n"
    "  --palette 1..8        colour palette (default 4)\n"
    "  --mirror none|x|y|both  mirror the image (default none)\n"
    "  --no-interpolate      enlarge without bilinear smoothing\n"
    "  --stack N             frame stack size, 1..300 (default 1)\n"
    "  --offset-stack M      electrical offset stack size, 1..300 (default 1)\n"
    "  --no-el-offsets       do not subtract electrical offsets from voltage frames\n"
    "  --manual LOW:HIGH     fixed colour scale: kelvin for temperature frames, counts for\n"
    "                        voltage frames (default: each frame's minimum to maximum)\n"
    "  --frames DIR          write the display images into DIR (created if needed)\n";

struct Options {
    std::string input;
    std::string textOutput;
    std::string framesDir;
    int unit = kUnitCelsius;
    int palette = 4;
    int mirror = 0;
    bool interpolate = true;
    int frameStack = 1;
    int offsetStack = 1;
    bool subtractElOffsets = true;
    bool manual = false;
    float low = 0.0f;
    float high = 0.0f;
};

int UsageError(const std::string& message) {
    std::fprintf(stderr, "thermal convert: %s (see 'thermal convert --help')\n", message.c_str());
    return 2;
}

bool EndsWithNoCase(std::string_view text, std::string_view suffix) {
    if (text.size() < suffix.size()) {
        return false;
    }
    for (std::size_t i = 0; i < suffix.size(); ++i) {
        const char a = text[text.size() - suffix.size() + i];
        if (std::tolower(static_cast<unsigned char>(a)) != suffix[i]) {
            return false;
        }
    }
    return true;
}

std::optional<int> ParseInt(std::string_view text, int low, int high) {
    int value = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (result.ec != std::errc() || result.ptr != text.data() + text.size() || value < low ||
        value > high) {
        return std::nullopt;
    }
    return value;
}

std::optional<float> ParseFloat(std::string_view text) {
    float value = 0.0f;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || result.ec != std::errc() || result.ptr != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

// Returns 0 when the options are good, else the exit status after printing why.
int ParseOptions(int argc, char** argv, Options& options) {
    std::vector<std::string> positional;
    for (int i = 0; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= argc) {
                return false;
            }
            out = argv[++i];
            return true;
        };
        std::string text;
        if (arg == "--unit") {
            if (!value(text) || (text != "K" && text != "C" && text != "F")) {
                return UsageError("--unit takes K, C or F");
            }
            options.unit = text == "K" ? kUnitKelvin : text == "C" ? kUnitCelsius : kUnitFahrenheit;
        } else if (arg == "--palette") {
            const auto number = value(text) ? ParseInt(text, 1, 8) : std::nullopt;
            if (!number) {
                return UsageError("--palette takes a number from 1 to 8");
            }
            options.palette = *number;
        } else if (arg == "--mirror") {
            if (!value(text)) {
                return UsageError("--mirror takes none, x, y or both");
            }
            if (text == "none") {
                options.mirror = 0;
            } else if (text == "x") {
                options.mirror = 1;
            } else if (text == "y") {
                options.mirror = 2;
            } else if (text == "both") {
                options.mirror = 3;
            } else {
                return UsageError("--mirror takes none, x, y or both");
            }
        } else if (arg == "--no-interpolate") {
            options.interpolate = false;
        } else if (arg == "--stack" || arg == "--offset-stack") {
            const auto size = value(text) ? ParseInt(text, 1, 300) : std::nullopt;
            if (!size) {
                return UsageError(arg + " takes a number from 1 to 300");
            }
            (arg == "--stack" ? options.frameStack : options.offsetStack) = *size;
        } else if (arg == "--no-el-offsets") {
            options.subtractElOffsets = false;
        } else if (arg == "--manual") {
            const std::size_t colon = value(text) ? text.find(':') : std::string::npos;
            const auto low = colon == std::string::npos
                                 ? std::nullopt
                                 : ParseFloat(std::string_view(text).substr(0, colon));
            const auto high = colon == std::string::npos
                                  ? std::nullopt
                                  : ParseFloat(std::string_view(text).substr(colon + 1));
            if (!low || !high) {
                return UsageError("--manual takes LOW:HIGH, two numbers");
            }
            options.manual = true;
            options.low = *low;
            options.high = *high;
        } else if (arg == "--frames") {
            if (!value(options.framesDir) || options.framesDir.empty()) {
                return UsageError("--frames takes a directory");
            }
        } else if (arg.size() > 1 && arg[0] == '-') {
            return UsageError("unknown option '" + arg + "'");
        } else {
            positional.push_back(arg);
        }
    }
    if (positional.empty()) {
        return UsageError("missing INPUT.bds");
    }
    if (positional.size() > 2) {
        return UsageError("too many arguments");
    }
    options.input = positional[0];
    if (positional.size() == 2) {
        options.textOutput = positional[1];
    }
    if (options.textOutput.empty() && options.framesDir.empty()) {
        return UsageError("missing OUTPUT.txt or --frames DIR");
    }
    return 0;
}

// Receives every processed frame from the pipeline and writes it out.
struct FrameSink {
    const Options* options = nullptr;
    std::FILE* text = nullptr;
    int frameNumber = 0;
    std::string error;  // first failure; later frames are skipped

    static void OnFrameReady(void* owner, const char* modeLetter, const std::string& text,
                             const uint8_t* /*raw*/, const uint8_t* image,
                             const uint16_t* /*values*/) {
        static_cast<FrameSink*>(owner)->Write(*modeLetter, text, image);
    }

    void Write(char modeLetter, const std::string& frameText, const uint8_t* image) {
        ++frameNumber;
        if (!error.empty()) {
            return;
        }
        if (text != nullptr) {
            const std::string record = MakeTextStreamRecord(
                TextStreamModeChar(modeLetter, options->unit),
                TextStreamElOffChar(modeLetter, options->subtractElOffsets), frameText);
            if (std::fwrite(record.data(), 1, record.size(), text) != record.size()) {
                error = "cannot write '" + options->textOutput + "': " + std::strerror(errno);
                return;
            }
        }
        if (!options->framesDir.empty()) {
            char name[32];
            std::snprintf(name, sizeof name, "frame_%06d.bmp", frameNumber);
            const std::string path = (std::filesystem::path(options->framesDir) / name).string();
            if (SaveBitmapFile(image, kImageWidth, kImageHeight, 3, path, 0, 0) != kBitmapSaved) {
                error = "cannot write '" + path + "'";
            }
        }
    }
};

}  // namespace

int RunConvert(int argc, char** argv) {
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
    }
    // A raw serial capture turned into a binary stream recording is the other direction.
    if (argc >= 2 && EndsWithNoCase(argv[1], ".bds") && !EndsWithNoCase(argv[0], ".bds")) {
        return RunConvertCapture(argc, argv);
    }
    Options options;
    if (const int status = ParseOptions(argc, argv, options); status != 0) {
        return status;
    }

    std::ifstream in(options.input, std::ios::binary);
    if (!in) {
        return UsageError("cannot open '" + options.input + "': " + std::strerror(errno));
    }
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                     std::istreambuf_iterator<char>());
    if (in.bad()) {
        return UsageError("cannot read '" + options.input + "'");
    }
    std::size_t trailing = 0;
    const std::vector<BinaryRecordView> records =
        SplitBinaryRecords(bytes.data(), bytes.size(), &trailing);
    // Play-back refuses a file whose first record does not name a known mode; so does this.
    if (!bytes.empty() &&
        (bytes.size() < kBinaryRecordHeaderSize || std::memcmp(bytes.data(), "Mode=", 5) != 0 ||
         (bytes[5] != 'T' && bytes[5] != 'V'))) {
        return UsageError("'" + options.input +
                          "' is not a binary stream recording (no Mode=T or Mode=V header)");
    }
    if (trailing != 0) {
        std::fprintf(stderr, "thermal convert: ignoring a short last record of %zu bytes\n",
                     trailing);
    }

    FrameSink sink;
    sink.options = &options;
    std::string textTemporary;
    if (!options.textOutput.empty()) {
        textTemporary = TemporaryPathFor(options.textOutput);
        sink.text = std::fopen(textTemporary.c_str(), "wb");
        if (sink.text == nullptr) {
            std::fprintf(stderr, "thermal convert: cannot create '%s': %s\n",
                         options.textOutput.c_str(), std::strerror(errno));
            return 1;
        }
    }
    if (!options.framesDir.empty()) {
        std::error_code ec;
        std::filesystem::create_directories(options.framesDir, ec);
        if (ec) {
            std::fprintf(stderr, "thermal convert: cannot create '%s': %s\n",
                         options.framesDir.c_str(), ec.message().c_str());
            if (sink.text != nullptr) {
                std::fclose(sink.text);
                std::remove(textTemporary.c_str());
            }
            return 1;
        }
    }

    {
        CFramePipeline pipeline;
        pipeline.SetUnit(options.unit);
        pipeline.SelectPalette(options.palette);
        pipeline.SetMirrorMode(options.mirror);
        pipeline.SetInterpolation(options.interpolate ? 1 : 0);
        pipeline.SetStackSizes(options.frameStack, options.offsetStack, 1);
        pipeline.SetElOffsetSubtraction(options.subtractElOffsets ? 1 : 0);
        if (options.manual) {
            pipeline.SetManualScaling(options.high, options.low,
                                      (options.high + options.low) / 2.0f);
        }
        pipeline.SetCallback(&FrameSink::OnFrameReady, &sink);
        for (const BinaryRecordView& record : records) {
            pipeline.ProcessFrameNow(record.modeLetter,
                                     static_cast<int>(kBinaryRecordSize - kBinaryRecordHeaderSize),
                                     record.block);
            if (!sink.error.empty()) {
                break;
            }
        }
        pipeline.StopThread();
    }

    if (sink.text != nullptr) {
        const bool closed = std::fclose(sink.text) == 0;
        if (!closed && sink.error.empty()) {
            sink.error = "cannot write '" + options.textOutput + "': " + std::strerror(errno);
        }
        if (sink.error.empty() &&
            std::rename(textTemporary.c_str(), options.textOutput.c_str()) != 0) {
            sink.error = "cannot create '" + options.textOutput + "': " + std::strerror(errno);
        }
        if (!sink.error.empty()) {
            std::remove(textTemporary.c_str());
        }
    }
    if (!sink.error.empty()) {
        std::fprintf(stderr, "thermal convert: %s\n", sink.error.c_str());
        return 1;
    }
    return 0;
}
