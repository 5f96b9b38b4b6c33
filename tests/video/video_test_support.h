#pragma once
// Helpers of the video tests: display images from the real frame path, FFmpeg's tools, and a
// reading of AVI files taken from the file format itself, independent of the writer.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "device/simulated_scene.h"
#include "processing/frame_pipeline.h"
#include "recording/lib_xvid_encoder.h"
#include "support/scratch_directory.h"

namespace video_test {

namespace fs = std::filesystem;

// `count` successive display images of the simulated scene (a warm object drifting across a
// room) as the viewer shows them, in blue, green, red order for the encoder.
inline std::vector<std::vector<uint8_t>> DisplayImagesBgr(int count) {
    std::vector<std::vector<uint8_t>> images;
    CFramePipeline pipeline;
    pipeline.SetCallback(
        [](void* owner, const char*, const std::string&, const uint8_t*, const uint8_t* image,
           const uint16_t*) {
            std::vector<uint8_t> bgr(image, image + kImageBytes);
            for (int i = 0; i < kImageBytes; i += 3) {
                std::swap(bgr[i], bgr[i + 2]);
            }
            static_cast<std::vector<std::vector<uint8_t>>*>(owner)->push_back(std::move(bgr));
        },
        &images);
    std::mt19937 rng(7);
    for (int i = 0; i < count; ++i) {
        const SimFrameBlock block = BuildSimulatedFrame(static_cast<uint64_t>(i), true, rng);
        pipeline.ProcessFrameNow('K', kFrameBlockSize, block.data());
    }
    return images;
}

struct EncodedFrame {
    std::vector<uint8_t> bytes;
    int isKeyFrame = 0;
};

// The images compressed one after the other by one encoder, as a recording does it.
inline std::vector<EncodedFrame> EncodeImages(const std::vector<std::vector<uint8_t>>& images,
                                              int colourSpace = kXvidColourSpaceBgr) {
    CLib_XvidEncoder encoder;
    EXPECT_EQ(encoder.InitLibrary(), 1);
    EXPECT_EQ(encoder.CreateEncoder(kImageWidth, kImageHeight, colourSpace), 1);
    std::vector<uint8_t> out(kImageBytes);
    std::vector<EncodedFrame> frames;
    for (const std::vector<uint8_t>& image : images) {
        int length = 0;
        EncodedFrame frame;
        EXPECT_EQ(encoder.EncodeFrame(image.data(), out.data(), &length, &frame.isKeyFrame), 1);
        frame.bytes.assign(out.begin(), out.begin() + length);
        frames.push_back(std::move(frame));
    }
    return frames;
}

// The command's standard output (and whatever it redirects there) once it has ended.
inline std::string RunCommand(const std::string& command, int* status = nullptr) {
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return output;
    }
    char buffer[65536];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
        output.append(buffer, n);
    }
    const int raw = pclose(pipe);
    if (status != nullptr) {
        *status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    }
    return output;
}

inline bool HaveFfmpegTools() {
    int status = -1;
    RunCommand("ffprobe -version > /dev/null 2>&1 && ffmpeg -version > /dev/null 2>&1", &status);
    return status == 0;
}

#define SKIP_WITHOUT_FFMPEG()           \
    if (!video_test::HaveFfmpegTools()) \
    GTEST_SKIP() << "ffprobe/ffmpeg missing (scripts/install-deps.sh --test installs them)"

// ffprobe's view of the first video stream, every frame counted.
inline std::map<std::string, std::string> ProbeVideoStream(const fs::path& file) {
    const std::string probe = RunCommand(
        "ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=codec_name,"
        "codec_tag_string,width,height,r_frame_rate,duration,nb_frames,nb_read_frames -of "
        "default=noprint_wrappers=1 '" +
        file.string() + "' 2>&1");
    std::map<std::string, std::string> fields;
    for (std::size_t start = 0, end; (end = probe.find('\n', start)) != std::string::npos;
         start = end + 1) {
        const std::size_t equals = probe.find('=', start);
        if (equals < end) {
            fields[probe.substr(start, equals - start)] =
                probe.substr(equals + 1, end - equals - 1);
        }
    }
    return fields;
}

// The errors ffmpeg reports while decoding every frame, and its exit status.
inline std::string DecodeAllErrors(const fs::path& file, int* status = nullptr) {
    return RunCommand("ffmpeg -nostdin -v error -i '" + file.string() + "' -f null - 2>&1", status);
}

inline uint32_t Le32(const std::vector<uint8_t>& b, std::size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

// An AVI file taken apart: the header chunks located by their codes in the header lists (which
// precede any frame data), the frames by walking the movie list, and the idx1 index after it.
// `problem` names the first thing that does not add up.
struct ParsedAvi {
    std::vector<uint8_t> bytes;
    std::string problem;
    std::size_t avih = 0, strh = 0, strf = 0, strn = 0;  // payload offsets
    std::size_t movieCode = 0;                           // offset of the code 'movi'
    struct Chunk {
        std::size_t offset;  // from the code 'movi' to the chunk header
        uint32_t size, flags;
    };
    std::vector<Chunk> frames, index;
};

inline ParsedAvi ParseAvi(const fs::path& file) {
    ParsedAvi avi;
    std::ifstream in(file, std::ios::binary);
    avi.bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    const std::vector<uint8_t>& b = avi.bytes;
    auto code = [&](std::size_t at) { return std::string(b.begin() + at, b.begin() + at + 4); };
    auto find = [&](const char* id) {
        const auto at = std::search(b.begin(), b.end(), id, id + 4);
        return at == b.end() ? 0 : static_cast<std::size_t>(at - b.begin()) + 8;
    };
    if (b.size() < 12 || code(0) != "RIFF" || code(8) != "AVI " || Le32(b, 4) + 8 != b.size()) {
        avi.problem = "RIFF header or size";
        return avi;
    }
    avi.avih = find("avih"), avi.strh = find("strh"), avi.strf = find("strf");
    avi.strn = find("strn"), avi.movieCode = find("movi") - 8;
    if (!avi.avih || !avi.strh || !avi.strf || !avi.strn || avi.movieCode > b.size()) {
        avi.problem = "a header chunk is missing";
        return avi;
    }
    const std::size_t movieEnd = avi.movieCode + Le32(b, avi.movieCode - 4);
    if (movieEnd + 8 > b.size()) {
        avi.problem = "the movie list runs past the file";
        return avi;
    }
    std::size_t at = avi.movieCode + 4;
    for (; at + 8 <= movieEnd && code(at) == "00dc"; at += 8 + (Le32(b, at + 4) + 1) / 2 * 2) {
        avi.frames.push_back({at - avi.movieCode, Le32(b, at + 4), 0});
    }
    if (at != movieEnd) {
        avi.problem = "the movie list does not end after whole frames";
        return avi;
    }
    if (code(movieEnd) != "idx1" || movieEnd + 8 + Le32(b, movieEnd + 4) != b.size()) {
        avi.problem = "no idx1 index at the end of the movie list";
        return avi;
    }
    for (std::size_t at = movieEnd + 8; at + 16 <= b.size(); at += 16) {
        if (code(at) != "00dc") {
            avi.problem = "index entry of another stream";
        }
        avi.index.push_back({Le32(b, at + 8), Le32(b, at + 12), Le32(b, at + 4)});
    }
    return avi;
}

// A file a player takes as it is: whole chunks, one index entry per frame pointing at it, and
// frame counts in both headers equal to the frames present. Returns the frame count.
inline std::size_t ExpectWholeAvi(const fs::path& file) {
    const ParsedAvi avi = ParseAvi(file);
    EXPECT_EQ(avi.problem, "") << file;
    EXPECT_EQ(avi.index.size(), avi.frames.size());
    for (std::size_t i = 0; i < std::min(avi.index.size(), avi.frames.size()); ++i) {
        EXPECT_EQ(avi.index[i].offset, avi.frames[i].offset) << i;
        EXPECT_EQ(avi.index[i].size, avi.frames[i].size) << i;
    }
    if (avi.problem.empty()) {
        EXPECT_EQ(Le32(avi.bytes, avi.avih + 16), avi.frames.size()) << "avih total frames";
        EXPECT_EQ(Le32(avi.bytes, avi.strh + 32), avi.frames.size()) << "strh length";
    }
    return avi.frames.size();
}

}  // namespace video_test
