// Writes a video recording as the viewer makes one, for the player's benchmark: FRAMES display
// images of the simulated module's scene at 20 frames per second, compressed by
// CLib_XvidEncoder and stored by CAviWriter.
// Usage: make_avi_recording FILE.avi [FRAMES]   (default 200)
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "device/simulated_scene.h"
#include "processing/frame_pipeline.h"
#include "recording/avi_writer.h"
#include "recording/lib_xvid_encoder.h"

namespace {

struct Recorder {
    CLib_XvidEncoder encoder;
    CAviWriter* pWriter = nullptr;
    std::vector<uint8_t> bgr = std::vector<uint8_t>(kImageBytes);
    std::vector<uint8_t> out = std::vector<uint8_t>(kImageBytes);
    bool failed = false;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: make_avi_recording FILE.avi [FRAMES]\n");
        return 2;
    }
    const int frames = argc == 3 ? std::atoi(argv[2]) : 200;
    if (frames <= 0) {
        std::fprintf(stderr, "make_avi_recording: FRAMES must be a positive number\n");
        return 2;
    }
    Recorder recorder;
    CAviWriter writer(argv[1], "xvid", kImageWidth, kImageHeight, 20);
    recorder.pWriter = &writer;
    if (recorder.encoder.InitLibrary() != 1 ||
        recorder.encoder.CreateEncoder(kImageWidth, kImageHeight, kXvidColourSpaceBgr) != 1) {
        std::fprintf(stderr, "make_avi_recording: the Xvid encoder cannot be set up\n");
        return 1;
    }
    CFramePipeline pipeline;
    pipeline.SetCallback(
        [](void* owner, const char*, const std::string&, const uint8_t*, const uint8_t* image,
           const uint16_t*) {
            auto& r = *static_cast<Recorder*>(owner);
            DisplayImageToBgr(image, r.bgr.data());
            int length = 0, isKeyFrame = 0;
            r.encoder.EncodeFrame(r.bgr.data(), r.out.data(), &length, &isKeyFrame);
            if (r.pWriter->AppendFrame(length, isKeyFrame, r.out.data()) != kAviOk) {
                r.failed = true;
            }
        },
        &recorder);
    std::mt19937 rng(7);
    for (int i = 0; i < frames; ++i) {
        const SimFrameBlock block = BuildSimulatedFrame(static_cast<uint64_t>(i), true, rng);
        pipeline.ProcessFrameNow('K', kFrameBlockSize, block.data());
    }
    if (recorder.failed) {
        std::fprintf(stderr, "make_avi_recording: %s (%s)\n", writer.ErrorText().c_str(),
                     writer.ErrorDetail().c_str());
        return 1;
    }
    return 0;
}
