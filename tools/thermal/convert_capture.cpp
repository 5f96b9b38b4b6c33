// `thermal convert CAPTURE.raw OUTPUT.bds [--letter K|k|t|c]`: rescues the frames of a raw serial
// capture into a binary stream recording, cutting the bytes exactly as the viewer does live.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "commands.h"
#include "device/capture_frames.h"
#include "frame/binary_record.h"

int RunConvertCapture(int argc, char** argv) {
    std::vector<std::string> paths;
    char letter = 'K';
    for (int i = 0; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--letter") {
            const std::string value = i + 1 < argc ? argv[++i] : "";
            if (value != "K" && value != "k" && value != "t" && value != "c") {
                std::fprintf(stderr, "thermal convert: --letter takes K, k, t or c\n");
                return 2;
            }
            letter = value[0];
        } else if (arg.size() > 1 && arg[0] == '-') {
            std::fprintf(stderr, "thermal convert: unknown option '%s'\n", arg.c_str());
            return 2;
        } else {
            paths.push_back(arg);
        }
    }
    if (paths.size() != 2) {
        std::fprintf(stderr,
                     "thermal convert: usage: thermal convert CAPTURE.raw OUTPUT.bds "
                     "[--letter K|k|t|c]\n");
        return 2;
    }
    std::ifstream input(paths[0], std::ios::binary);
    if (!input) {
        std::fprintf(stderr, "thermal convert: cannot read '%s'\n", paths[0].c_str());
        return 2;
    }
    const std::vector<uint8_t> capture((std::istreambuf_iterator<char>(input)),
                                       std::istreambuf_iterator<char>());
    const std::vector<CapturedFrame> frames =
        CutCaptureIntoFrames(capture.data(), capture.size(), static_cast<uint8_t>(letter));

    // Written under a temporary name and renamed when complete: a failed run leaves no half file.
    const std::string temporary = paths[1] + ".part";
    {
        std::ofstream output(temporary, std::ios::binary | std::ios::trunc);
        for (const CapturedFrame& frame : frames) {
            const BinaryRecord record = EncodeBinaryRecord(letter, frame.data());
            output.write(reinterpret_cast<const char*>(record.data()), record.size());
        }
        output.flush();
        if (!output) {
            std::error_code ignored;
            std::filesystem::remove(temporary, ignored);
            std::fprintf(stderr, "thermal convert: cannot write '%s'\n", paths[1].c_str());
            return 1;
        }
    }
    std::error_code error;
    std::filesystem::rename(temporary, paths[1], error);
    if (error) {
        std::filesystem::remove(temporary, error);
        std::fprintf(stderr, "thermal convert: cannot write '%s'\n", paths[1].c_str());
        return 1;
    }
    std::printf("%zu frames from %zu bytes written to %s\n", frames.size(), capture.size(),
                paths[1].c_str());
    return 0;
}
