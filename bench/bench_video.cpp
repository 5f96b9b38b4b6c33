// Per-frame cost of the video recording path: compressing one 320 x 310 display image of the
// moving simulated scene and appending it to an AVI file in the temporary directory, as a share
// of the 50 ms between video frames, and against a memcpy of one display image measured in the
// same run. Run: build/bin/bench_video
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "device/simulated_scene.h"
#include "median_ratio_reporter.h"
#include "processing/frame_pipeline.h"
#include "recording/avi_writer.h"
#include "recording/lib_xvid_encoder.h"

namespace {

constexpr double kFrameBudgetNs = 50e6;  // one video frame every 50 ms
constexpr double kBudgetShareTarget = 0.05;
constexpr int kSceneFrames = 200;

// Display images of the simulated scene as the viewer shows them, in blue, green, red order.
const std::vector<std::vector<uint8_t>>& SceneImages() {
    static const std::vector<std::vector<uint8_t>> images = [] {
        std::vector<std::vector<uint8_t>> out;
        CFramePipeline pipeline;
        pipeline.SetCallback(
            [](void* owner, const char*, const std::string&, const uint8_t*, const uint8_t* image,
               const uint16_t*) {
                std::vector<uint8_t> bgr(image, image + kImageBytes);
                for (int i = 0; i < kImageBytes; i += 3) {
                    std::swap(bgr[i], bgr[i + 2]);
                }
                static_cast<std::vector<std::vector<uint8_t>>*>(owner)->push_back(bgr);
            },
            &out);
        std::mt19937 rng(1);
        for (int i = 0; i < kSceneFrames; ++i) {
            const SimFrameBlock block = BuildSimulatedFrame(static_cast<uint64_t>(i), true, rng);
            pipeline.ProcessFrameNow('K', kFrameBlockSize, block.data());
        }
        return out;
    }();
    return images;
}

std::string TempMoviePath() {
    return (std::filesystem::temp_directory_path() /
            ("bench_video_" + std::to_string(getpid()) + ".avi"))
        .string();
}

void BM_Baseline_MemcpyDisplayImage(benchmark::State& state) {
    std::vector<uint8_t> from(kImageBytes, 1);
    std::vector<uint8_t> to(kImageBytes);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), kImageBytes);
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
}

// EncodeFrame alone, or EncodeFrame and AppendFrame as the recorder calls them every 50 ms.
void VideoPath(benchmark::State& state, bool append) {
    const auto& images = SceneImages();
    const std::string path = TempMoviePath();
    CLib_XvidEncoder encoder;
    if (encoder.InitLibrary() != 1 ||
        encoder.CreateEncoder(kImageWidth, kImageHeight, kXvidColourSpaceBgr) != 1) {
        state.SkipWithError("the encoder could not be set up");
        return;
    }
    std::vector<uint8_t> out(static_cast<std::size_t>(encoder.FrameBytes()));
    std::size_t bytes = 0;
    {
        CAviWriter writer(path, "xvid", kImageWidth, kImageHeight, 20);
        std::size_t n = 0;
        for (auto _ : state) {
            int length = 0;
            int isKeyFrame = 0;
            encoder.EncodeFrame(images[n++ % images.size()].data(), out.data(), &length,
                                &isKeyFrame);
            if (append && writer.AppendFrame(length, isKeyFrame, out.data()) != kAviOk) {
                state.SkipWithError(writer.ErrorText().c_str());
                break;
            }
            bytes += static_cast<std::size_t>(length);
        }
    }
    std::filesystem::remove(path);
    state.counters["bytes_per_frame"] =
        benchmark::Counter(static_cast<double>(bytes) / static_cast<double>(state.iterations()));
}

void BM_EncodeFrame(benchmark::State& state) {
    VideoPath(state, false);
}
void BM_VideoPath_EncodeAndAppend(benchmark::State& state) {
    VideoPath(state, true);
}

// The ratio table, then the video path's median as a share of its frame budget, in processor
// time and in wall-clock time. Waiting for the disk counts against the budget too, but on a busy
// machine the wall-clock figure also holds the time spent waiting for a processor.
class VideoReporter : public MedianRatioReporter {
  public:
    using MedianRatioReporter::MedianRatioReporter;
    void ReportRuns(const std::vector<Run>& runs) override {
        MedianRatioReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.aggregate_name == "median" &&
                run.run_name.function_name == "BM_VideoPath_EncodeAndAppend") {
                m_cpuNs = run.GetAdjustedCPUTime();
                m_wallNs = run.GetAdjustedRealTime();
            }
        }
    }
    void PrintBudgetShare() const {
        for (const auto& [clock, ns] :
             {std::pair{"processor", m_cpuNs}, {"wall-clock", m_wallNs}}) {
            const double share = ns / kFrameBudgetNs;
            std::printf(
                "Video path per frame, %s time: %.3f ms = %.2f %% of the 50 ms frame "
                "budget (target <= %.0f %%) %s\n",
                clock, ns / 1e6, 100.0 * share, 100.0 * kBudgetShareTarget,
                share <= kBudgetShareTarget ? "ok" : "MISSED");
        }
    }

  private:
    double m_cpuNs = 0.0;
    double m_wallNs = 0.0;
};

}  // namespace

BENCHMARK(BM_Baseline_MemcpyDisplayImage)->Repetitions(9)->ReportAggregatesOnly(true);
BENCHMARK(BM_EncodeFrame)->Repetitions(9)->ReportAggregatesOnly(true);
BENCHMARK(BM_VideoPath_EncodeAndAppend)->Repetitions(9)->ReportAggregatesOnly(true);

int main(int argc, char** argv) {
    VideoReporter reporter("BM_Baseline_MemcpyDisplayImage", {});
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintRatios();
    std::printf("\n");
    reporter.PrintBudgetShare();
    benchmark::Shutdown();
    return 0;
}
