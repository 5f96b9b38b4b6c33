// Per-frame cost of the frame path against a memcpy of one display image, measured in the same
// run. Run: build-proc/bin/bench_processing; the "ratio" counters are the medians over the
// repetitions divided by the baseline's median.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "frame/conversion.h"
#include "frame/text_frame.h"
#include "median_ratio_reporter.h"
#include "processing/frame_pipeline.h"

namespace {

std::vector<uint8_t> MakeBlock(uint32_t seed) {
    std::mt19937 random(seed);
    std::vector<uint8_t> block(kFrameBlockSize, 0);
    for (int i = 0; i < kPixelCount + kOffsetCount; ++i) {
        const uint16_t value = static_cast<uint16_t>(2900 + random() % 300);
        block[2 * i] = static_cast<uint8_t>(value);
        block[2 * i + 1] = static_cast<uint8_t>(value >> 8);
    }
    return block;
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

void LivePath(benchmark::State& state, int interpolate, int stack) {
    CFramePipeline pipeline;
    pipeline.SetUnit(kUnitCelsius);
    pipeline.SetInterpolation(interpolate);
    pipeline.SetStackSizes(stack, 1, 1);
    std::vector<std::vector<uint8_t>> blocks;
    for (uint32_t seed = 0; seed < 8; ++seed) {
        blocks.push_back(MakeBlock(seed));
    }
    std::size_t n = 0;
    for (int i = 0; i < stack + 1; ++i) {  // fill the stack so every frame is averaged
        pipeline.ProcessFrameNow('K', kFrameBlockSize, blocks[n++ % blocks.size()].data());
    }
    for (auto _ : state) {
        pipeline.ProcessFrameNow('K', kFrameBlockSize, blocks[n++ % blocks.size()].data());
    }
}

void BM_LivePath_Interpolated(benchmark::State& state) {
    LivePath(state, 1, 1);
}
void BM_LivePath_NotInterpolated(benchmark::State& state) {
    LivePath(state, 0, 1);
}
void BM_LivePath_Stack300(benchmark::State& state) {
    LivePath(state, 1, 300);
}

void BM_TextRendering(benchmark::State& state) {
    FrameData frame{};
    DecodeFrameBlock(MakeBlock(1).data(), frame);
    TextRendering out;
    for (auto _ : state) {
        RenderTemperatureTextInto(frame, kUnitCelsius, out);
        benchmark::DoNotOptimize(out.text.data());
    }
}

void BM_ProcessTextFrame(benchmark::State& state) {
    FrameData frame{};
    DecodeFrameBlock(MakeBlock(2).data(), frame);
    const std::string text = RenderTemperatureText(frame, kUnitCelsius).text;
    CFramePipeline pipeline;
    pipeline.SetUnit(kUnitCelsius);
    pipeline.SetInterpolation(1);
    for (auto _ : state) {
        benchmark::DoNotOptimize(pipeline.ProcessTextFrame(0, 'C', text));
    }
}

}  // namespace

BENCHMARK(BM_Baseline_MemcpyDisplayImage)->Repetitions(9)->ReportAggregatesOnly(true);
BENCHMARK(BM_LivePath_Interpolated)->Repetitions(9)->ReportAggregatesOnly(true);
BENCHMARK(BM_LivePath_NotInterpolated)->Repetitions(9)->ReportAggregatesOnly(true);
BENCHMARK(BM_LivePath_Stack300)->Repetitions(9)->ReportAggregatesOnly(true);
BENCHMARK(BM_TextRendering)->Repetitions(9)->ReportAggregatesOnly(true);
BENCHMARK(BM_ProcessTextFrame)->Repetitions(9)->ReportAggregatesOnly(true);

int main(int argc, char** argv) {
    MedianRatioReporter reporter("BM_Baseline_MemcpyDisplayImage",
                                 {{"BM_LivePath_Interpolated", 4.0},
                                  {"BM_LivePath_NotInterpolated", 4.0},
                                  {"BM_LivePath_Stack300", 8.0},
                                  {"BM_TextRendering", 2.0},
                                  {"BM_ProcessTextFrame", 3.0}});
    return RunWithMedianRatios(argc, argv, reporter);
}
