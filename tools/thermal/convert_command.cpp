// `thermal convert`: pushes every frame of a binary stream recording through the viewer's own
// frame pipeline and writes what the viewer would have written: a text stream recording and/or
// the display image of each frame as a BMP file.
#include <cctype>
#include <cerrno>
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
#include "processing_options.h"

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
    "Options (defaults are the viewer's start-up settings):\n";

constexpr char kUsageTail[] =
    "  --frames DIR          write the display images into DIR (created if needed)\n";

struct Options {
    std::string input;
    std::string textOutput;
    std::string framesDir;
    ProcessingOptions processing;
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
        std::string error;
        const OptionParse parsed = ParseProcessingOption(argc, argv, i, options.processing, error);
        if (parsed == OptionParse::kBadValue) {
            return UsageError(error);
        }
        if (parsed == OptionParse::kParsed) {
            continue;
        }
        if (arg == "--frames") {
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
                TextStreamModeChar(modeLetter, options->processing.unit),
                TextStreamElOffChar(modeLetter, options->processing.subtractElOffsets), frameText);
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
            std::fputs(kProcessingOptionsHelp, stdout);
            std::fputs(kUsageTail, stdout);
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
        ApplyProcessingOptions(options.processing, pipeline);
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
