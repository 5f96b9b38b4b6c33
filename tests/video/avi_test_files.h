#pragma once
// Test files of the AVI reading tests: a recording written the way the viewer writes one, AVI
// files of other writers made by FFmpeg, damaged copies, and FFmpeg's pictures of their frames
// as the reference the decoder is held to.
#include <cstdlib>
#include <string>
#include <vector>

#include "crafted_avi.h"
#include "recording/avi_writer.h"
#include "video_test_support.h"

namespace video_test {

// The frames written one by one by CAviWriter at 20 frames per second, as a recording does it.
inline void WriteRecording(const fs::path& file, const std::vector<EncodedFrame>& frames) {
    CAviWriter writer(file.string(), "xvid", kImageWidth, kImageHeight, 20);
    for (const EncodedFrame& frame : frames) {
        ASSERT_EQ(writer.AppendFrame(static_cast<int>(frame.bytes.size()), frame.isKeyFrame,
                                     frame.bytes.data()),
                  kAviOk);
    }
}

struct Recording {
    fs::path file;
    std::vector<std::vector<uint8_t>> images;  // what was recorded, blue, green, red
    std::vector<EncodedFrame> frames;          // what the encoder made of it
};

// 200 display images of the moving scene recorded as the viewer records them; written once per
// test program, removed at its end.
inline const Recording& TwoHundredFrameRecording() {
    static ScratchDirectory dir;
    static const Recording recording = [] {
        Recording r;
        r.file = dir.path() / "scene.avi";
        r.images = DisplayImagesBgr(200);
        r.frames = EncodeImages(r.images);
        WriteRecording(r.file, r.frames);
        return r;
    }();
    return recording;
}

// FFmpeg's picture of frame n, 3 bytes per pixel in blue, green, red order; empty when FFmpeg
// fails. `decoderOptions` go to FFmpeg's decoder.
inline std::vector<uint8_t> FfmpegPictureBgr(const fs::path& file, int n,
                                             const std::string& decoderOptions = "") {
    const std::string bytes =
        RunCommand("ffmpeg -nostdin -v error " + decoderOptions + " -i '" + file.string() +
                   "' -vf 'select=eq(n\\," + std::to_string(n) +
                   ")' -vsync passthrough -frames:v 1 -f rawvideo -pix_fmt bgr24 -");
    return {bytes.begin(), bytes.end()};
}

// The largest difference of one colour channel of one pixel.
inline int MaxChannelDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    if (a.size() != b.size()) {
        return 256;
    }
    int worst = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        worst = std::max(worst, std::abs(a[i] - b[i]));
    }
    return worst;
}

// Encoded frames as frames of a crafted file.
inline std::vector<crafted_avi::Frame> CraftedFrames(const std::vector<EncodedFrame>& frames) {
    std::vector<crafted_avi::Frame> out;
    for (const EncodedFrame& frame : frames) {
        out.push_back({std::string(frame.bytes.begin(), frame.bytes.end()), frame.isKeyFrame != 0});
    }
    return out;
}

// Writes `bytes` to `file`.
inline void WriteCrafted(const fs::path& file, const std::string& bytes) {
    std::ofstream(file, std::ios::binary)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace video_test
