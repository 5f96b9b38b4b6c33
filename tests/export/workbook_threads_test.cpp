// Workbook exports from several threads at once, as ThreadSanitizer runs them: the viewer writes
// the calibration workbook on a worker thread while the GUI thread may save a snapshot's
// workbook, and two tables can arrive close together. Whatever the interleaving, each path ends
// up holding one whole workbook, the one a single export writes, and no temporary is left.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "device/simulated_replies.h"
#include "export/workbook_export.h"
#include "frame/text_frame.h"
#include "support/file_bytes.h"
#include "support/scratch_directory.h"

namespace fs = std::filesystem;

namespace {

TEST(WorkbookThreads, ConcurrentExportsLeaveOneWholeWorkbookPerPath) {
    const ScratchDirectory scratch("workbook_threads");
    const fs::path& dir = scratch.path();
    FrameData frame{};
    for (uint16_t& v : frame.values) {
        v = 2981;
    }
    const std::string table = SimulatedCalibrationTable();
    const std::string data = RenderTemperatureText(frame, 2).text;
    // What one export alone writes: the reference for every file below.
    ASSERT_TRUE(CWorkbookExport().ExportCalibration((dir / "one_cal.xls").string(), table));
    ASSERT_TRUE(CWorkbookExport().ExportFrameData((dir / "one_data.xls").string(), data, ""));
    const std::string calibration = ReadWhole(dir / "one_cal.xls");
    const std::string frameData = ReadWhole(dir / "one_data.xls");

    constexpr int kThreads = 4;
    constexpr int kRounds = 5;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < kRounds; ++round) {
                // Two threads share each path; the other half of the work is frame data.
                const std::string shared = (dir / ("shared" + std::to_string(t / 2))).string();
                EXPECT_TRUE(CWorkbookExport().ExportCalibration(shared + "_cal.xls", table));
                EXPECT_TRUE(CWorkbookExport().ExportFrameData(shared + "_data.xls", data, ""));
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    int files = 0;
    for (const fs::directory_entry& entry : fs::directory_iterator(dir)) {
        const std::string name = entry.path().filename().string();
        EXPECT_EQ(ReadWhole(entry.path()),
                  name.find("_cal") != std::string::npos ? calibration : frameData)
            << name;
        ++files;
    }
    EXPECT_EQ(files, 2 + 2 * (kThreads / 2));  // no temporary left behind
}

}  // namespace
