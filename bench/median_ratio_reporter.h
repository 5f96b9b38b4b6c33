#pragma once
// A Google Benchmark reporter that prints the usual table, then each benchmark's median as a
// multiple of a baseline benchmark's median from the same run (the reporter's, or the one its
// target names), with its target where it has one.
// Ratios against a baseline measured alongside hold when the machine's speed drifts.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

struct RatioTarget {
    const char* name;
    double limit;                    // the largest acceptable ratio; 0 for none
    const char* baseline = nullptr;  // compared with this benchmark instead of the reporter's
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
        const double baseline = MedianOf(m_baseline);
        if (baseline <= 0.0) {
            return;
        }
        std::printf("\nMedian per frame as a multiple of %s (%.0f ns):\n", m_baseline.c_str(),
                    baseline);
        for (const auto& [name, time] : m_medians) {
            if (IsBaseline(name)) {
                continue;
            }
            const RatioTarget* target = TargetOf(name);
            const std::string own =
                target != nullptr && target->baseline != nullptr ? target->baseline : m_baseline;
            const double base = MedianOf(own);
            if (base <= 0.0) {
                continue;
            }
            const double ratio = time / base;
            std::printf("  %-30s %6.2fx", name.c_str(), ratio);
            if (own != m_baseline) {
                std::printf(" of %s", own.c_str());
            }
            if (target != nullptr && target->limit > 0.0) {
                std::printf("  (target <= %gx) %s", target->limit,
                            ratio <= target->limit ? "ok" : "MISSED");
            }
            std::printf("\n");
        }
    }

  private:
    std::string m_baseline;
    std::vector<RatioTarget> m_targets;
    std::vector<std::pair<std::string, double>> m_medians;

    double MedianOf(const std::string& name) const {
        for (const auto& [run, time] : m_medians) {
            if (run == name) {
                return time;
            }
        }
        return 0.0;
    }
    const RatioTarget* TargetOf(const std::string& name) const {
        for (const RatioTarget& target : m_targets) {
            if (name == target.name) {
                return &target;
            }
        }
        return nullptr;
    }
    bool IsBaseline(const std::string& name) const {
        if (name == m_baseline) {
            return true;
        }
        for (const RatioTarget& target : m_targets) {
            if (target.baseline != nullptr && name == target.baseline) {
                return true;
            }
        }
        return false;
    }
};

// Runs the benchmarks given on the command line and prints the ratios.
inline int RunWithMedianRatios(int argc, char** argv, MedianRatioReporter& reporter) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintRatios();
    benchmark::Shutdown();
    return 0;
}
