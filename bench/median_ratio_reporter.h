#pragma once
// A Google Benchmark reporter that prints the usual table, then each benchmark's median as a
// multiple of a baseline benchmark's median from the same run, with its target where it has one.
// Ratios against a baseline measured alongside hold when the machine's speed drifts.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

struct RatioTarget {
    const char* name;
    double limit;  // the largest acceptable ratio
};

class MedianRatioReporter : public benchmark::ConsoleReporter {
  public:
    MedianRatioReporter(std::string baseline, std::vector<RatioTarget> targets)
        : m_baseline(std::move(baseline)), m_targets(std::move(targets)) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.aggregate_name == "median") {
                m_medians.emplace_back(run.run_name.function_name, run.GetAdjustedCPUTime());
            }
        }
    }

    void PrintRatios() const {
        double baseline = 0.0;
        for (const auto& [name, time] : m_medians) {
            if (name == m_baseline)
                baseline = time;
        }
        if (baseline <= 0.0)
            return;
        std::printf("\nMedian per frame as a multiple of %s (%.0f ns):\n", m_baseline.c_str(),
                    baseline);
        for (const auto& [name, time] : m_medians) {
            if (name == m_baseline)
                continue;
            const double ratio = time / baseline;
            std::printf("  %-30s %6.2fx", name.c_str(), ratio);
            for (const RatioTarget& target : m_targets) {
                if (name == target.name) {
                    std::printf("  (target <= %.0fx) %s", target.limit,
                                ratio <= target.limit ? "ok" : "MISSED");
                }
            }
            std::printf("\n");
        }
    }

  private:
    std::string m_baseline;
    std::vector<RatioTarget> m_targets;
    std::vector<std::pair<std::string, double>> m_medians;
};

// Runs the benchmarks given on the command line and prints the ratios.
inline int RunWithMedianRatios(int argc, char** argv, MedianRatioReporter& reporter) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintRatios();
    benchmark::Shutdown();
    return 0;
}
