// Per-frame cost of the distribution chart's record and bar layout (what the frame-ready
// presentation and each chart paint compute) against a memcpy of one display image, measured in
// the same run. Run: build-ctl/bin/bench_chart; the ratios printed at the end are medians over
// the repetitions divided by the baseline's median.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "median_ratio_reporter.h"
#include "processing/chart_data.h"

namespace {

constexpr int kPixels = 992;
constexpr int kDisplayImageBytes = 320 * 310 * 3;
constexpr int kPlotWidth = 480;

std::vector<uint16_t> MakeFrame(uint16_t low, uint16_t span) {
    std::mt19937 random(7);
    std::vector<uint16_t> pixels(kPixels);
    for (uint16_t& value : pixels) {
        value = static_cast<uint16_t>(low + random() % span);
    }
    return pixels;
}

void BM_Baseline_MemcpyDisplayImage(benchmark::State& state) {
    std::vector<uint8_t> from(kDisplayImageBytes, 1);
    std::vector<uint8_t> to(kDisplayImageBytes);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), kDisplayImageBytes);
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
}

void HistogramAndLayout(benchmark::State& state, const std::vector<uint16_t>& pixels) {
    for (auto _ : state) {
        CChartData data;
        data.BuildHistogram(kPixels, pixels.data());
        const ChartGrouping grouping = ComputeGrouping(data, kPlotWidth);
        const std::vector<ChartBar> bars = GroupBars(data, grouping);
        benchmark::DoNotOptimize(LayoutBars(bars.size(), grouping.barWidth, 40, 40 + kPlotWidth));
    }
}

// A room-temperature scene: 30 K of spread, about 300 bins.
void BM_Histogram_RoomScene(benchmark::State& state) {
    HistogramAndLayout(state, MakeFrame(2900, 300));
}

// The worst case: values over the whole 16-bit range, 65,536 bins.
void BM_Histogram_FullRange(benchmark::State& state) {
    std::vector<uint16_t> pixels = MakeFrame(0, 60000);
    pixels[0] = 0;
    pixels[1] = 65535;
    HistogramAndLayout(state, pixels);
}

void BM_Profile(benchmark::State& state) {
    const std::vector<uint16_t> pixels = MakeFrame(2900, 300);
    for (auto _ : state) {
        CChartData data;
        data.BuildProfile(1, 32, 31, pixels.data());
        const ChartGrouping grouping = ComputeGrouping(data, kPlotWidth);
        benchmark::DoNotOptimize(GroupBars(data, grouping));
    }
}

}  // namespace

BENCHMARK(BM_Baseline_MemcpyDisplayImage)->Repetitions(9)->ReportAggregatesOnly(true);
BENCHMARK(BM_Histogram_RoomScene)->Repetitions(9)->ReportAggregatesOnly(true);
BENCHMARK(BM_Histogram_FullRange)->Repetitions(9)->ReportAggregatesOnly(true);
BENCHMARK(BM_Profile)->Repetitions(9)->ReportAggregatesOnly(true);

int main(int argc, char** argv) {
    MedianRatioReporter reporter("BM_Baseline_MemcpyDisplayImage", {});
    return RunWithMedianRatios(argc, argv, reporter);
}
