#include "export/workbook_export.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "device/simulated_replies.h"
#include "export/workbook_cells.h"
#include "frame/conversion.h"
#include "frame/text_frame.h"
#include "support/scratch_directory.h"

namespace {

namespace fs = std::filesystem;

using Rows = std::vector<std::vector<std::string>>;

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end - start));
        if (end == std::string::npos) {
            return parts;
        }
        start = end + 1;
    }
}

// Rows of a CSV file without quoted fields, each without its trailing empty fields, which the
// CSV export adds up to the widest row.
Rows ReadCsv(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    Rows rows;
    std::string line;
    while (std::getline(file, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        std::vector<std::string> fields = Split(line, ',');
        while (!fields.empty() && fields.back().empty()) {
            fields.pop_back();
        }
        rows.push_back(std::move(fields));
    }
    return rows;
}

bool HaveLibreOffice() {
    return std::system("command -v soffice >/dev/null 2>&1") == 0;
}

// Converts workbooks to CSV with LibreOffice Calc, each to <name>.csv in `directory`, with the
// cell values themselves rather than as the column width shows them. A profile of its own lets
// tests run side by side. Returns the reason on failure, else empty.
std::string ConvertWithLibreOffice(const std::vector<fs::path>& workbooks,
                                   const fs::path& directory) {
    std::ostringstream command;
    command << "timeout -k 5 100 soffice -env:UserInstallation=file://"
            << (directory / "profile").string()
            << " --headless --norestore --convert-to 'csv:Text - txt - csv "
               "(StarCalc):44,34,76,1,,0,false,true,false' --outdir "
            << directory.string();
    for (const fs::path& workbook : workbooks) {
        command << ' ' << workbook.string();
    }
    command << " >" << (directory / "soffice.log").string() << " 2>&1";
    const int status = std::system(command.str().c_str());
    std::ifstream log(directory / "soffice.log");
    std::stringstream output;
    output << log.rdbuf();
    if (status != 0) {
        return "soffice failed (status " + std::to_string(status) + "): " + output.str();
    }
    for (const fs::path& workbook : workbooks) {
        if (!fs::exists(directory / workbook.stem().concat(".csv"))) {
            return "soffice wrote no CSV for " + workbook.string() + ": " + output.str();
        }
    }
    return {};
}

FrameData RandomFrame(uint32_t seed, int low, int high) {
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> value(low, high);
    FrameData frame{};
    for (uint16_t& v : frame.values) {
        v = static_cast<uint16_t>(value(random));
    }
    for (uint16_t& v : frame.offsets) {
        v = static_cast<uint16_t>(value(random));
    }
    for (uint16_t& v : frame.header) {
        v = static_cast<uint16_t>(value(random));
    }
    return frame;
}

// The frame's own numbers, field by field: the text cut at CR LF and TAB.
std::vector<std::vector<double>> NumbersOf(const std::string& text) {
    std::vector<std::vector<double>> numbers;
    for (const std::string& line : Split(text, '\n')) {
        if (line.empty()) {
            continue;
        }
        std::vector<double>& row = numbers.emplace_back();
        for (const std::string& field : Split(line, '\t')) {
            if (field != "\r") {
                row.push_back(std::strtod(field.c_str(), nullptr));
            }
        }
    }
    return numbers;
}

// A frame exported as the snapshot exports it and read back by LibreOffice Calc holds the frame's
// 33 lines of 32 numbers, for temperatures and for volts; an older file of the same name is
// replaced.
TEST(WorkbookExport, LibreOfficeReadsTheFramesNumbers) {
    if (!HaveLibreOffice()) {
        GTEST_SKIP() << "LibreOffice (soffice) is not installed: the workbook is not read back";
    }
    ScratchDirectory dir("workbook_export");
    const std::string texts[] = {
        RenderTemperatureText(RandomFrame(7, 1500, 6000), kUnitCelsius).text,
        RenderVoltageText(RandomFrame(8, 0, 65535)).text,
    };
    const fs::path paths[] = {dir.path() / "VELK_VT_20210307-090502.xls",
                              dir.path() / "VELK_VT_volts.xls"};
    std::ofstream(paths[0]) << "an older file of the same name";
    for (int i = 0; i < 2; ++i) {
        std::string error;
        ASSERT_TRUE(CWorkbookExport().ExportFrameData(paths[i], texts[i], "unused.bmp", &error))
            << error;
    }
    const std::string failure = ConvertWithLibreOffice({paths[0], paths[1]}, dir.path());
    ASSERT_EQ(failure, "");

    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(paths[i].filename().string());
        const auto expected = NumbersOf(texts[i]);
        ASSERT_EQ(expected.size(), static_cast<std::size_t>(kTextLineCount));
        const Rows rows = ReadCsv(dir.path() / paths[i].stem().concat(".csv"));
        ASSERT_EQ(rows.size(), expected.size());
        for (std::size_t r = 0; r < rows.size(); ++r) {
            ASSERT_EQ(rows[r].size(), static_cast<std::size_t>(kFrameColumns)) << "row " << r + 1;
            for (std::size_t c = 0; c < rows[r].size(); ++c) {
                EXPECT_EQ(std::strtod(rows[r][c].c_str(), nullptr), expected[r][c])
                    << "row " << r + 1 << " column " << c + 1 << ": " << rows[r][c];
            }
        }
    }
}

// The text cells of a sheet as rows, for checking the calibration workbook without LibreOffice.
Rows RowsOf(const WorkbookSheet& sheet) {
    Rows rows;
    for (const WorkbookCell& cell : sheet) {
        if (rows.size() < static_cast<std::size_t>(cell.row)) {
            rows.resize(static_cast<std::size_t>(cell.row));
        }
        std::vector<std::string>& row = rows[static_cast<std::size_t>(cell.row) - 1];
        if (row.size() < static_cast<std::size_t>(cell.column)) {
            row.resize(static_cast<std::size_t>(cell.column));
        }
        row[static_cast<std::size_t>(cell.column) - 1] = cell.isText ? cell.text : "(number)";
    }
    return rows;
}

// The simulated module's `w` reply exported: the header values beside their keywords, the
// column names in the "Nr." row, an empty row and one row of text per pixel, as LibreOffice
// Calc reads them (or as the cells are filled, where it is not installed).
TEST(WorkbookExport, CalibrationTableEndToEnd) {
    ScratchDirectory dir("workbook_export");
    const std::string reply = SimulatedCalibrationTable();
    const fs::path path = dir.path() / "VELK_w_20210307-090502.xls";
    std::string error;
    ASSERT_TRUE(CWorkbookExport().ExportCalibration(path, reply, &error)) << error;

    Rows rows;
    if (HaveLibreOffice()) {
        const std::string failure = ConvertWithLibreOffice({path}, dir.path());
        ASSERT_EQ(failure, "");
        rows = ReadCsv(dir.path() / path.stem().concat(".csv"));
    } else {
        std::printf("LibreOffice (soffice) is not installed: checking the cells as filled\n");
        rows = RowsOf(FillCalibrationSheet(reply));
    }

    const Rows header = {
        {"PTAT1", "2145", "1.2034"},
        {"ASIC-Register", "0x1F", "0x3A", "0x08"},
        {"Written", "2026-01-15"},
        {"PTAT-gradient", "0.0381", "0.0005"},
        {"Ambient1:", "3002:", "301"},
        {"TObj1:", "273.2", "373.2"},
        {"TObjcal1:", "295.0", "330.0"},
        {"Arraytype", "32x31", "TA-3231"},
        {"Nr.", "Row", "Col", "PixC", "ThGrad", "ThOffs", "ElOffs", "VddComp", "Gain", "Flags"},
        {},
    };
    const std::vector<std::string> lines = Split(reply, '\n');
    ASSERT_EQ(lines.size(), header.size() - 1 + kPixelCount + 1);  // and the empty end
    ASSERT_EQ(rows.size(), header.size() + kPixelCount);
    for (std::size_t r = 0; r < header.size(); ++r) {
        EXPECT_EQ(rows[r], header[r]) << "row " << r + 1;
    }
    for (int pixel = 0; pixel < kPixelCount; ++pixel) {
        std::string line = lines[header.size() - 1 + static_cast<std::size_t>(pixel)];
        line.pop_back();  // CR
        const std::vector<std::string> fields = Split(line, '\t');
        ASSERT_EQ(fields.size(), 10u);
        ASSERT_EQ(fields[0], std::to_string(pixel));
        EXPECT_EQ(rows[header.size() + static_cast<std::size_t>(pixel)], fields)
            << "pixel " << pixel;
    }
}

std::set<fs::path> FilesUnder(const fs::path& directory) {
    std::set<fs::path> files;
    for (const auto& entry : fs::recursive_directory_iterator(directory)) {
        files.insert(entry.path());
    }
    return files;
}

// A workbook that cannot be written gives false and a line naming the file and the cause, and
// leaves no file behind, not even the temporary one.
TEST(WorkbookExport, FailedWriteSaysWhyAndLeavesNothing) {
    ScratchDirectory dir("workbook_export");
    std::ofstream(dir.path() / "file") << "a file, not a directory";
    fs::create_directories(dir.path() / "directory" / "inside");
    fs::create_directory(dir.path() / "read-only");
    fs::permissions(dir.path() / "read-only", fs::perms::owner_read | fs::perms::owner_exec);

    struct Case {
        const char* name;
        fs::path path;
        const char* cause;
    };
    std::vector<Case> cases = {
        {"MissingDirectory", dir.path() / "missing" / "VELK_VT.xls", "No such file or directory"},
        {"ParentIsAFile", dir.path() / "file" / "VELK_VT.xls", "Not a directory"},
        {"TargetIsADirectory", dir.path() / "directory", "Is a directory"},
    };
    // The superuser writes into read-only directories.
    if (::geteuid() != 0) {
        cases.push_back(
            {"ReadOnlyDirectory", dir.path() / "read-only" / "VELK_VT.xls", "Permission denied"});
    }
    const std::set<fs::path> before = FilesUnder(dir.path());
    const std::string frameText = RenderTemperatureText(RandomFrame(1, 2900, 3100), 1).text;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string expected = "cannot write '" + c.path.string() + "': " + c.cause;
        std::string error;
        EXPECT_FALSE(CWorkbookExport().ExportFrameData(c.path, frameText, "", &error));
        EXPECT_EQ(error, expected);
        error.clear();
        EXPECT_FALSE(
            CWorkbookExport().ExportCalibration(c.path, SimulatedCalibrationTable(), &error));
        EXPECT_EQ(error, expected);
        EXPECT_EQ(FilesUnder(dir.path()), before);
    }
}

}  // namespace
