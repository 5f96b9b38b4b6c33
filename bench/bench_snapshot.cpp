// GUI-thread cost of "Picture and Temperature Data": the export directory's check, the BMP file
// and the frame-data workbook of a whole frame's text, each and together, against a bare atomic
// write of the picture's 297,654 bytes (the least any snapshot costs on this disk). The handler
// runs on the GUI thread, so together they should stay well under 50 ms: the "Time" column (wall
// clock, which includes waiting for the disk) of BM_Snapshot; the ratios below it are of CPU time.
// The files lie in the temporary directory and are replaced at every iteration, as two clicks
// within one second replace them.
// Run: build/bin/bench_snapshot
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "export/atomic_file.h"
#include "export/bitmap_file.h"
#include "export/snapshot_files.h"
#include "export/snapshot_names.h"
#include "export/workbook_export.h"
#include "frame/conversion.h"
#include "frame/text_frame.h"
#include "median_ratio_reporter.h"
#include "platform/export_directory.h"
#include "processing/image_scaling.h"

namespace {

// A directory of its own for one benchmark, removed at the end.
class BenchDirectory {
  public:
    explicit BenchDirectory(const char* name)
        : m_path((std::filesystem::temp_directory_path() /
                  ("bench_snapshot_" + std::to_string(::getpid()) + "_" + name))
                     .string() +
                 "/") {
        std::filesystem::create_directories(m_path);
    }
    ~BenchDirectory() { std::filesystem::remove_all(m_path); }
    const std::string& Path() const { return m_path; }

  private:
    std::string m_path;
};

std::vector<uint8_t> MakeImage() {
    std::mt19937 random(7);
    std::vector<uint8_t> image(kImageBytes);
    for (uint8_t& byte : image) {
        byte = static_cast<uint8_t>(random());
    }
    return image;
}

// The text "Copy Data" holds with the whole frame selected: 33 lines of 32 fields.
std::string FrameText() {
    std::mt19937 random(1);
    std::vector<uint8_t> block(kFrameBlockSize, 0);
    for (int i = 0; i < kPixelCount + kOffsetCount; ++i) {
        const auto value = static_cast<uint16_t>(2900 + random() % 300);
        block[2 * i] = static_cast<uint8_t>(value);
        block[2 * i + 1] = static_cast<uint8_t>(value >> 8);
    }
    FrameData frame{};
    DecodeFrameBlock(block.data(), frame);
    return RenderTemperatureText(frame, kUnitCelsius).text;
}

void BM_Baseline_AtomicWriteOfPictureBytes(benchmark::State& state) {
    const BenchDirectory dir("bare");
    const std::vector<uint8_t> image = MakeImage();
    const std::vector<uint8_t> bytes =
        EncodeBitmapFile(image.data(), kImageWidth, kImageHeight, true, 0, 0);
    for (auto _ : state) {
        if (!WriteFileAtomically(dir.Path() + "bare.bmp", bytes.data(), bytes.size())) {
            state.SkipWithError("the write failed");
            break;
        }
    }
}

void BM_ExportDirectoryCheck(benchmark::State& state) {
    const BenchDirectory dir("check");
    for (auto _ : state) {
        benchmark::DoNotOptimize(ChooseExportDirectory(dir.Path(), dir.Path() + "Pictures"));
    }
}

void BM_SaveBitmapFile(benchmark::State& state) {
    const BenchDirectory dir("bmp");
    const std::vector<uint8_t> image = MakeImage();
    for (auto _ : state) {
        if (SaveBitmapFile(image.data(), kImageWidth, kImageHeight, 3, dir.Path() + "a.bmp", 0,
                           0) != kBitmapSaved) {
            state.SkipWithError("the write failed");
            break;
        }
    }
}

void BM_ExportFrameData(benchmark::State& state) {
    const BenchDirectory dir("xls");
    const std::string text = FrameText();
    for (auto _ : state) {
        if (!CWorkbookExport().ExportFrameData(dir.Path() + "a.xls", text, "")) {
            state.SkipWithError("the write failed");
            break;
        }
    }
}

// All the snapshot handler does apart from copying its inputs and logging.
void BM_Snapshot(benchmark::State& state) {
    const BenchDirectory dir("snapshot");
    const std::vector<uint8_t> image = MakeImage();
    const std::string text = FrameText();
    const std::tm now = LocalTimeNow();
    for (auto _ : state) {
        const ExportDirectory chosen = ChooseExportDirectory(dir.Path(), dir.Path() + "Pictures");
        const SnapshotFiles files =
            WriteSnapshotFiles(chosen.path, now, image.data(), kImageWidth, kImageHeight, text);
        if (!files.pictureError.empty() || !files.workbookError.empty()) {
            state.SkipWithError("a write failed");
            break;
        }
    }
}

}  // namespace

BENCHMARK(BM_Baseline_AtomicWriteOfPictureBytes)

    ->Repetitions(9)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_ExportDirectoryCheck)

    ->Repetitions(9)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_SaveBitmapFile)

    ->Repetitions(9)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_ExportFrameData)

    ->Repetitions(9)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_Snapshot)->Repetitions(9)->ReportAggregatesOnly(true);

int main(int argc, char** argv) {
    MedianRatioReporter reporter("BM_Baseline_AtomicWriteOfPictureBytes", {});
    return RunWithMedianRatios(argc, argv, reporter);
}
