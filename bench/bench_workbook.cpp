// Cost of the spreadsheet workbooks: the frame-data workbook of a whole text frame, which the
// snapshot writes on the GUI thread beside the picture, and the calibration workbook of the
// module's 992-line `w` reply, which is written on the serial monitor thread. Ratios are against
// saving the snapshot's picture (a 320 x 310 BMP through the same temporary-file-and-rename
// path); the snapshot line is picture and workbook together. Files go to the temporary
// directory and are replaced on every iteration.
// Run: build/bin/bench_workbook
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "device/simulated_replies.h"
#include "export/bitmap_file.h"
#include "export/workbook_cells.h"
#include "export/workbook_export.h"
#include "export/xml_spreadsheet.h"
#include "frame/conversion.h"
#include "frame/text_frame.h"
#include "median_ratio_reporter.h"

namespace {

std::string BenchPath(const char* name) {
    return (std::filesystem::temp_directory_path() /
            ("bench_workbook_" + std::to_string(::getpid()) + name))
        .string();
}

// A full frame as the snapshot passes it: all 1056 fields of a room scene in degrees Celsius.
std::string FrameText() {
    FrameData frame{};
    for (int i = 0; i < kPixelCount; ++i) {
        frame.values[i] = static_cast<uint16_t>(2930 + (i * 37) % 400);
    }
    for (int i = 0; i < kOffsetCount; ++i) {
        frame.offsets[i] = static_cast<uint16_t>(1200 + i);
    }
    return RenderTemperatureText(frame, kUnitCelsius).text;
}

void BM_Baseline_SaveSnapshotBitmap(benchmark::State& state) {
    const std::vector<uint8_t> image(320 * 310 * 3, 128);
    const std::string path = BenchPath(".bmp");
    for (auto _ : state) {
        benchmark::DoNotOptimize(SaveBitmapFile(image.data(), 320, 310, 3, path, 0, 0));
    }
    std::filesystem::remove(path);
}

void BM_ExportFrameData(benchmark::State& state) {
    const std::string text = FrameText();
    const std::string path = BenchPath("_VT.xls");
    for (auto _ : state) {
        benchmark::DoNotOptimize(CWorkbookExport().ExportFrameData(path, text, ""));
    }
    std::filesystem::remove(path);
}

// The frame-data workbook without the file: cells and document only.
void BM_FrameDataDocument(benchmark::State& state) {
    const std::string text = FrameText();
    for (auto _ : state) {
        benchmark::DoNotOptimize(RenderXmlSpreadsheet(FillNumberRows(text)));
    }
}

void BM_Snapshot_BitmapAndWorkbook(benchmark::State& state) {
    const std::vector<uint8_t> image(320 * 310 * 3, 128);
    const std::string text = FrameText();
    const std::string picture = BenchPath(".bmp");
    const std::string workbook = BenchPath("_VT.xls");
    for (auto _ : state) {
        benchmark::DoNotOptimize(SaveBitmapFile(image.data(), 320, 310, 3, picture, 0, 0));
        benchmark::DoNotOptimize(CWorkbookExport().ExportFrameData(workbook, text, picture));
    }
    std::filesystem::remove(picture);
    std::filesystem::remove(workbook);
}

void BM_ExportCalibration(benchmark::State& state) {
    const std::string reply = SimulatedCalibrationTable();
    const std::string path = BenchPath("_w.xls");
    for (auto _ : state) {
        benchmark::DoNotOptimize(CWorkbookExport().ExportCalibration(path, reply));
    }
    std::filesystem::remove(path);
}

}  // namespace

BENCHMARK(BM_Baseline_SaveSnapshotBitmap)->Repetitions(9)->ReportAggregatesOnly(true);
BENCHMARK(BM_ExportFrameData)->Repetitions(9)->ReportAggregatesOnly(true);
BENCHMARK(BM_FrameDataDocument)->Repetitions(9)->ReportAggregatesOnly(true);
BENCHMARK(BM_Snapshot_BitmapAndWorkbook)->Repetitions(9)->ReportAggregatesOnly(true);
BENCHMARK(BM_ExportCalibration)->Repetitions(9)->ReportAggregatesOnly(true);

int main(int argc, char** argv) {
    MedianRatioReporter reporter("BM_Baseline_SaveSnapshotBitmap", {});
    return RunWithMedianRatios(argc, argv, reporter);
}
