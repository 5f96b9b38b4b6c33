// `thermal convert` from every kind of recording into every output it writes, checked with
// readers that are not ours: Python's csv module, NumPy and tifffile, FFmpeg for videos and PNG
// pictures, and the core's frame decoder for the round trip through text.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <random>
#include <sstream>
#include <vector>

#include "convert_test_support.h"
#include "frame/binary_record_reader.h"
#include "processing/frame_readout.h"
#include "recording/recording_files.h"

namespace fs = std::filesystem;

namespace {

// Pixels that differ everywhere, so a turned or mirrored row shows; a few below their offset.
FrameData VariedFrame(uint16_t base, uint16_t spread, uint16_t offsetStep) {
    FrameData frame{};
    for (int i = 0; i < kPixelCount; ++i) {
        frame.values[i] = static_cast<uint16_t>(base + (i * 37) % spread);
    }
    for (int c = 0; c < kOffsetCount; ++c) {
        frame.offsets[c] = static_cast<uint16_t>(offsetStep * c);
    }
    for (int w = 4; w < kHeaderWordCount; ++w) {
        frame.header[w] = static_cast<uint16_t>(97 * w + 13);
    }
    return frame;
}

class ConvertFormatsTest : public ::testing::Test {
  protected:
    ScratchDirectory m_dir{"convert_formats"};

    std::string Path(const std::string& name) const { return (m_dir.path() / name).string(); }
    std::string Write(const std::string& name, const std::string& bytes) {
        WriteFileBytes(m_dir.path() / name, bytes);
        return Path(name);
    }
    ToolResult Convert(const std::string& arguments) {
        return RunTool("convert " + arguments, m_dir.path() / "run");
    }
};

// Frames in an output, counted the way each format is read.
int FramesIn(const fs::path& path) {
    const std::string name = path.filename().string();
    const std::string bytes = fs::is_regular_file(path) ? ReadWhole(path) : std::string();
    if (fs::is_directory(path)) {
        return static_cast<int>(
            std::distance(fs::directory_iterator(path), fs::directory_iterator()));
    }
    if (name.ends_with(".TXT") || name.ends_with(".txt")) {
        int count = 0;
        for (std::size_t at = bytes.find("Mode="); at != std::string::npos;
             at = bytes.find("Mode=", at + 1)) {
            ++count;
        }
        return count;
    }
    if (name.ends_with(".bds")) {
        return bytes.size() % kBinaryRecordSize == 0
                   ? static_cast<int>(bytes.size() / kBinaryRecordSize)
                   : -1;
    }
    if (name.ends_with(".Csv") || name.ends_with(".csv")) {
        int count = 0;
        for (std::size_t at = 0; at < bytes.size(); at = bytes.find('\n', at) + 1) {
            count += bytes[at] == '#' ? 1 : 0;
            if (bytes.find('\n', at) == std::string::npos) {
                break;
            }
        }
        return count;
    }
    // A video: the frames FFmpeg decodes.
    const ToolResult probe = RunShell(
        "ffprobe -v error -count_frames -select_streams v:0 "
        "-show_entries stream=nb_read_frames -of csv=p=0 " +
            path.string(),
        path.parent_path() / "probe");
    return probe.status == 0 ? std::atoi(probe.out.c_str()) : -1;
}

TEST_F(ConvertFormatsTest, EveryInputIntoEveryOutputGivesOneFramePerRecord) {
    const FrameData warm = VariedFrame(2900, 300, 0);
    std::string bds, txt, bin;
    for (int i = 0; i < 3; ++i) {
        bds += BinaryStreamRecord('K', warm);
        txt += TextStreamRecord(warm, 'C');
        bin += RawFrameBytes(warm);
    }
    const std::string inputs[] = {Write("in.bds", bds), Write("in.txt", txt), Write("in.bin", bin)};
    struct Case {
        int input;           // index into inputs
        std::string output;  // file name, or a directory for --frames
        int status;          // 0: three frames written; 2: refused
    };
    const Case cases[] = {
        {0, "OUT.TXT", 0}, {0, "out.bds", 2}, {0, "out.Csv", 0}, {0, "out.avi", 0},
        {0, "frames", 0},  {1, "out.txt", 0}, {1, "out.bds", 0}, {1, "out.csv", 0},
        {1, "out.AVI", 0}, {1, "frames", 0},  {2, "out.txt", 2}, {2, "out.bds", 2},
        {2, "out.csv", 0}, {2, "out.avi", 0}, {2, "frames", 0},
    };
    for (const Case& c : cases) {
        const fs::path output = m_dir.path() / c.output;
        const bool frames = c.output == "frames";
        const ToolResult run =
            Convert(inputs[c.input] + (frames ? " --frames " : " ") + output.string());
        const std::string what = inputs[c.input] + " -> " + c.output;
        ASSERT_EQ(run.status, c.status) << what << ": " << run.errors;
        if (c.status == 0) {
            EXPECT_EQ(run.errors, "") << what;
            EXPECT_EQ(FramesIn(output), 3) << what;
        } else {
            EXPECT_EQ(LineCount(run.errors), 1) << what << ": " << run.errors;
            EXPECT_FALSE(fs::exists(output)) << what;
        }
        fs::remove_all(output);
    }
}

TEST_F(ConvertFormatsTest, BinaryToTextToBinaryKeepsEveryValueWithinThePrintedDigits) {
    struct Case {
        char modeLetter;
        const char* options;
        char textMode;
    };
    const Case cases[] = {
        {'K', "--unit K", 'K'},
        {'K', "--unit C", 'C'},
        {'K', "--unit F", 'F'},
        {'t', "", 'V'},  // offsets subtracted in the text, added back when rebuilt
        {'t', "--no-el-offsets", 'V'},
    };
    for (const Case& c : cases) {
        const bool voltage = c.modeLetter == 't';
        // Voltage pixels from 0 with offsets up to 310 counts: some wrap below zero.
        const std::vector<FrameData> frames = {
            voltage ? VariedFrame(0, 4000, 10) : VariedFrame(2000, 2000, 3),
            voltage ? VariedFrame(2000, 2095, 1) : VariedFrame(2700, 800, 7)};
        std::string bds;
        for (const FrameData& frame : frames) {
            bds += BinaryStreamRecord(c.modeLetter, frame);
        }
        const std::string input = Write("in.bds", bds);
        ASSERT_EQ(Convert(input + " " + Path("mid.txt") + " " + c.options).status, 0) << c.options;
        EXPECT_EQ(ReadWhole(Path("mid.txt"))[5], c.textMode) << c.options;
        const ToolResult back = Convert(Path("mid.txt") + " " + Path("back.bds"));
        ASSERT_EQ(back.status, 0) << c.options << back.errors;

        const std::string rebuilt = ReadWhole(Path("back.bds"));
        ASSERT_EQ(rebuilt.size(), bds.size()) << c.options;
        for (std::size_t f = 0; f < frames.size(); ++f) {
            const char* record = rebuilt.data() + f * kBinaryRecordSize;
            EXPECT_EQ(std::string(record, 16), bds.substr(f * kBinaryRecordSize, 16)) << c.options;
            FrameData got{};
            DecodeFrameBlock(reinterpret_cast<const uint8_t*>(record) + kBinaryRecordHeaderSize,
                             got);
            // The text keeps a tenth of a degree or a ten-thousandth of a volt, and reading it
            // back truncates: one count either way at most (on 16 bits, as pixels wrap).
            auto near = [](uint16_t a, uint16_t b) {
                return std::abs(static_cast<int16_t>(static_cast<uint16_t>(a - b))) <= 1;
            };
            // With the offsets subtracted the text holds each pixel less its offset, and both
            // numbers come back a count apart at most.
            const bool subtracted = voltage && std::strlen(c.options) == 0;
            auto shown = [subtracted](const FrameData& frame, int i) {
                return static_cast<uint16_t>(frame.values[i] -
                                             (subtracted ? frame.offsets[i % kFrameColumns] : 0));
            };
            for (int i = 0; i < kPixelCount; ++i) {
                ASSERT_TRUE(near(shown(got, i), shown(frames[f], i)))
                    << c.options << " frame " << f << " pixel " << i << ": " << got.values[i]
                    << " for " << frames[f].values[i];
            }
            for (int i = 0; i < kOffsetCount; ++i) {
                EXPECT_TRUE(near(got.offsets[i], frames[f].offsets[i])) << c.options << " " << i;
            }
            for (int w = 4; w < kHeaderWordCount; ++w) {
                EXPECT_TRUE(near(got.header[w], frames[f].header[w])) << c.options << " " << w;
            }
            // The text has no words 0 to 3; the rebuilt block carries the module's marker.
            EXPECT_EQ(
                std::memcmp(record + kBinaryRecordHeaderSize + kFrameMarkerOffset, kFrameMarker, 4),
                0);
        }
    }
}

// Python's csv module reads the file; the numbers it gets are compared with the frame values
// converted here.
TEST_F(ConvertFormatsTest, CsvReadsBackInPythonAsTheFramesInSensorOrientation) {
    FrameData warm{};
    FrameData volts{};
    for (int i = 0; i < kPixelCount; ++i) {
        warm.values[i] = static_cast<uint16_t>(2500 + i);  // -23.2 C at (0, 0), rising
        volts.values[i] = static_cast<uint16_t>(1000 + i);
    }
    for (int c = 0; c < kOffsetCount; ++c) {
        volts.offsets[c] = static_cast<uint16_t>(40 * c);  // above the pixels of rows 1 to 7
    }
    const std::string bds =
        Write("in.bds", BinaryStreamRecord('K', warm) + BinaryStreamRecord('t', volts));
    const std::string txt = Write("in,f.txt", TextStreamRecord(warm, 'F'));
    const std::string bin = Write("in.bin", RawFrameBytes(warm));

    const char* kReader =
        "import csv, sys\n"
        "with open(sys.argv[1], newline='', encoding='utf-8') as f:\n"
        "    for row in csv.reader(f):\n"
        "        if row[0].startswith('#'):\n"
        "            print(','.join(row))\n"
        "        else:\n"
        "            assert len(row) == 32, row\n"
        "            print(' '.join(repr(float(x)) for x in row))\n";
    WriteFileBytes(m_dir.path() / "read.py", kReader);

    // Expected value of pixel i of each frame.
    auto celsius = [&](int i) { return (warm.values[i] / 10.0) - 273.15; };
    auto kelvin = [&](int i) { return warm.values[i] / 10.0; };
    auto fahrenheit = [&](int i) { return celsius(i) * 1.8 + 32; };
    auto voltsAfterOffsets = [&](int i) {
        return (volts.values[i] - volts.offsets[i % kFrameColumns]) * 0.001221;
    };
    auto raw = [&](int i) { return static_cast<double>(warm.values[i]); };
    struct Block {
        std::string comment;
        std::function<double(int)> value;
        double tolerance;
    };
    struct Case {
        std::string arguments;
        std::vector<Block> blocks;
    };
    const Case cases[] = {
        {bds,
         {{"# source: " + bds + ", frame 1, mode C, temperature in \u00B0C", celsius, 0.051},
          {"# source: " + bds +
               ", frame 2, mode V, voltage in volts, electrical offsets subtracted",
           voltsAfterOffsets, 0.00006}}},
        {bds + " --unit K", {{"", kelvin, 0.051}, {"", voltsAfterOffsets, 0.00006}}},
        // A text stream keeps its own unit unless one is asked for. Read back from a tenth of a
        // degree and truncated, a pixel may be a count (0.1 K, 0.18 F) away before printing.
        {txt,
         {{"# source: " + txt + ", frame 1, mode F, temperature in \u00B0F", fahrenheit, 0.29}}},
        {txt + " --unit K", {{"", kelvin, 0.151}}},
        {bin, {{"# source: " + bin + ", frame 1, mode raw, values as stored", raw, 0.0}}},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(Convert(c.arguments + " " + Path("out.csv")).status, 0) << c.arguments;
        const std::string file = ReadWhole(Path("out.csv"));
        EXPECT_EQ(file.find('\r'), std::string::npos) << c.arguments;
        const ToolResult read =
            RunShell("python3 " + Path("read.py") + " " + Path("out.csv"), m_dir.path() / "python");
        ASSERT_EQ(read.status, 0) << c.arguments << read.errors;
        std::istringstream lines(read.out);
        std::string line;
        for (const Block& block : c.blocks) {
            ASSERT_TRUE(std::getline(lines, line));
            if (!block.comment.empty()) {
                EXPECT_EQ(line, block.comment);
            } else {
                EXPECT_EQ(line[0], '#');
            }
            for (int row = 0; row < kFrameRows; ++row) {
                ASSERT_TRUE(std::getline(lines, line)) << c.arguments;
                std::istringstream numbers(line);
                for (int column = 0; column < kFrameColumns; ++column) {
                    double number = 0;
                    ASSERT_TRUE(numbers >> number);
                    const int i = row * kFrameColumns + column;
                    ASSERT_NEAR(number, block.value(i), block.tolerance)
                        << c.arguments << " row " << row << " column " << column;
                }
            }
        }
        EXPECT_FALSE(std::getline(lines, line)) << c.arguments << ": more blocks than frames";
    }
}

// NumPy and tifffile read the .npy and .tiff outputs; both are checked against the CSV of the
// same conversion: the array holds the CSV's numbers as float32, the pages hold the values that
// give the CSV's numbers by the scale in their descriptions, laid out as the display mirrors them.
TEST_F(ConvertFormatsTest, NumpyAndTiffReadBackInPythonAsTheCsvNumbers) {
    const std::string bds = Write("in.bds", BinaryStreamRecord('K', VariedFrame(2900, 300, 0)) +
                                                BinaryStreamRecord('K', VariedFrame(2600, 900, 0)));
    const std::string volts =
        Write("volts.bds", BinaryStreamRecord('t', VariedFrame(100, 3000, 7)));
    const std::string txt = Write("in.txt", TextStreamRecord(VariedFrame(2800, 400, 2), 'C'));
    const std::string bin = Write("in.bin", RawFrameBytes(VariedFrame(100, 5000, 0)));
    // The CSV's numbers: exact for the array; for the pages within half the CSV's last digit,
    // from kelvin turned into the CSV's unit.
    const char* kReader = R"(
import csv, json, sys, numpy, tifffile
csv_path, npy_path, tiff_path, mirror = sys.argv[1:5]
blocks = []
with open(csv_path, newline='', encoding='utf-8') as f:
    for row in csv.reader(f):
        if row[0].startswith('#'):
            blocks.append((row[1].split()[1], row[2].split()[1], []))
        else:
            blocks[-1][2].append(row)
array = numpy.load(npy_path)
assert array.dtype == numpy.dtype('<f4') and array.shape == (len(blocks), 31, 32), array.shape
with tifffile.TiffFile(tiff_path) as tif:
    assert len(tif.pages) == len(blocks), len(tif.pages)
    for n, ((frame, unit, rows), page) in enumerate(zip(blocks, tif.pages)):
        texts = numpy.array(rows)
        numbers = numpy.array([[numpy.float32(float(x)) for x in row] for row in rows])
        assert numpy.array_equal(array[n], numbers), (n, array[n], numbers)
        described = json.loads(page.description)
        assert described['frame'] == int(frame), described
        assert page.tags['NewSubfileType'].value == 2 and page.tags['PageNumber'].value == (n, 0)
        values = page.asarray()
        signed = described.get('offsets_subtracted', False)
        assert values.dtype == (numpy.int16 if signed else numpy.uint16), (values.dtype, described)
        assert values.shape == (31, 32)
        if mirror in ('x', 'both'):
            values = values[:, ::-1]
        if mirror in ('y', 'both'):
            values = values[::-1, :]
        quantity = values * described['scale'] + described['offset']
        expected_unit = {'C': 'K', 'F': 'K', 'K': 'K', 'V': 'V', 'raw': 'raw'}[unit]
        assert described['unit'] == expected_unit, (described, unit)
        assert (described['mode'] == 't') == (unit == 'V'), described
        if unit == 'C':
            quantity = quantity - 273.15
        elif unit == 'F':
            quantity = (quantity - 273.15) * 1.8 + 32
        decimals = numpy.array([[len(x.partition('.')[2]) for x in row] for row in rows])
        slack = 0.5 * 10.0 ** -decimals + (0.002 if unit in ('C', 'F') else 1e-6)
        wrong = numpy.argwhere(numpy.abs(quantity - numbers.astype(float)) > slack)
        assert len(wrong) == 0, (n, unit, wrong[:3], quantity[tuple(wrong[0])], texts[tuple(wrong[0])])
        print(frame, unit, described['mode'], described['unit'], described['scale'],
              described.get('offsets_subtracted', '-'))
)";
    WriteFileBytes(m_dir.path() / "read.py", kReader);
    const struct {
        std::string input, options, mirror;
        std::string frames;  // frame, CSV unit, mode, unit and scale of the page, offsets
    } cases[] = {
        {bds, "--unit K", "both", "1 K K K 0.1 -\n2 K K K 0.1 -\n"},
        {bds, "--unit F", "x", "1 F K K 0.1 -\n2 F K K 0.1 -\n"},
        {volts, "", "y", "1 V t V 0.001221 True\n"},
        {volts, "--no-el-offsets", "none", "1 V t V 0.001221 False\n"},
        {txt, "", "y", "1 C k K 0.1 -\n"},
        {bin, "", "none", "1 raw raw raw 1 -\n"},  // raw frames are never mirrored
    };
    for (const auto& c : cases) {
        const std::string what = c.input + " " + c.options + " --mirror " + c.mirror;
        for (const char* output : {"out.csv", "out.npy"}) {
            const ToolResult run = Convert(c.input + " " + Path(output) + " " + c.options);
            ASSERT_EQ(run.status, 0) << what << " " << output << ": " << run.errors;
        }
        const ToolResult tiff =
            Convert(c.input + " " + Path("out.tif") + " " + c.options + " --mirror " + c.mirror);
        ASSERT_EQ(tiff.status, 0) << what << ": " << tiff.errors;
        const std::string ignored = c.input == bin ? "--mirror does not apply to raw frames"
                                    : c.options.find("--unit") != std::string::npos
                                        ? "--unit does not apply to a TIFF output"
                                        : "";
        EXPECT_EQ(tiff.errors, ignored.empty() ? "" : "thermal convert: " + ignored + "\n") << what;
        // The interpreter with Debian's python3-numpy and python3-tifffile.
        const ToolResult read =
            RunShell("/usr/bin/python3 " + Path("read.py") + " " + Path("out.csv") + " " +
                         Path("out.npy") + " " + Path("out.tif") + " " + c.mirror,
                     m_dir.path() / "python");
        EXPECT_EQ(read.status, 0) << what << ": " << read.errors;
        EXPECT_EQ(read.out, c.frames) << what;
    }
}

// A NumPy array holds one unit: a recording whose frames change between temperatures and
// voltages, or between temperature units, is refused at the first frame of the other kind with
// status 1 and an earlier output left as it was; --unit, or a labelled output, takes it whole.
TEST_F(ConvertFormatsTest, NumpyRefusesFramesOfAnotherUnit) {
    const FrameData warm = VariedFrame(2900, 300, 0);
    const std::string mixed =
        Write("mixed.bds", BinaryStreamRecord('K', warm) + BinaryStreamRecord('K', warm) +
                               BinaryStreamRecord('t', VariedFrame(900, 30, 7)));
    const std::string units =
        Write("units.txt", TextStreamRecord(warm, 'C') + TextStreamRecord(warm, 'F'));
    const std::string out = Write("out.npy", "an earlier conversion");
    const struct {
        std::string arguments;
        int status;
        std::string errors;
    } cases[] = {
        {mixed + " " + out, 1,
         "frame 3 holds voltages in V, the frames before it temperatures in \u00B0C: a NumPy "
         "array holds one unit (the .tiff and .csv outputs label each frame)"},
        {units + " " + out, 1,
         "frame 2 holds temperatures in \u00B0F, the frames before it temperatures in \u00B0C: a "
         "NumPy array holds one unit (--unit converts every temperature to one)"},
        {units + " " + out + " --unit K", 0, ""},
        {mixed + " " + Path("out.tiff"), 0, ""},
    };
    for (const auto& c : cases) {
        const ToolResult run = Convert(c.arguments);
        EXPECT_EQ(run.status, c.status) << c.arguments << ": " << run.errors;
        EXPECT_EQ(run.errors, c.errors.empty() ? "" : "thermal convert: " + c.errors + "\n");
        EXPECT_EQ(ReadWhole(out) == "an earlier conversion", c.status != 0) << c.arguments;
    }
    EXPECT_EQ(Names(m_dir.path()),
              (std::set<std::string>{"mixed.bds", "units.txt", "out.npy", "out.tiff"}));
}

// Each line of a region output against the full CSV of the same conversion: the frame's number
// and unit from its comment line, the smallest and largest of the region's cells, and their mean.
TEST_F(ConvertFormatsTest, RegionLinesHoldTheStatisticsOfTheFullCsvCells) {
    const std::string bds = Write("in.bds", BinaryStreamRecord('K', VariedFrame(2900, 300, 0)) +
                                                BinaryStreamRecord('K', VariedFrame(2950, 170, 0)) +
                                                BinaryStreamRecord('t', VariedFrame(100, 3000, 7)));
    const std::string txt = Write("in.txt", TextStreamRecord(VariedFrame(2800, 400, 2), 'F') +
                                                TextStreamRecord(VariedFrame(2990, 50, 2), 'F'));
    const std::string bin = Write("in.bin", RawFrameBytes(VariedFrame(100, 5000, 0)));
    const struct {
        std::string input, options, region;
        SensorRegion cells;
    } cases[] = {
        {bds, "", "5,10,2,3", {{2, 3}, {5, 10}}},
        {bds, "--unit F --stack 2", "31,32,31,32", {{31, 32}, {31, 32}}},
        {bds, "--unit K --no-el-offsets", "1,32,31,1", {{1, 1}, {31, 32}}},
        {txt, "", "7,4,2,30", {{2, 4}, {7, 30}}},
        {bin, "", "31,1,30,2", {{30, 1}, {31, 2}}},
    };
    const std::map<std::string, std::string> units = {
        {"K", "K"}, {"C", "\u00B0C"}, {"F", "\u00B0F"}, {"V", "V"}, {"raw", ""}};
    for (const auto& c : cases) {
        const std::string what = c.input + " " + c.options + " --region " + c.region;
        ASSERT_EQ(Convert(c.input + " " + Path("full.csv") + " " + c.options).status, 0) << what;
        ASSERT_EQ(Convert(what + " " + Path("region.csv")).status, 0) << what;
        std::istringstream full(ReadWhole(Path("full.csv")));
        std::istringstream region(ReadWhole(Path("region.csv")));
        const SensorRegion& r = c.cells;
        std::string line;
        std::getline(region, line);
        EXPECT_EQ(line, "# source: " + c.input + ", region rows " + std::to_string(r.first.row) +
                            "-" + std::to_string(r.last.row) + ", columns " +
                            std::to_string(r.first.column) + "-" + std::to_string(r.last.column) +
                            " (" + std::to_string(r.Width()) + " x " + std::to_string(r.Height()) +
                            " pixels)");
        std::getline(region, line);
        EXPECT_EQ(line, "frame,min,mean,max,unit") << what;
        for (std::string comment; std::getline(full, comment);) {
            int number = 0;
            char mode[8] = {};
            ASSERT_EQ(std::sscanf(comment.c_str() + comment.find(", frame "),
                                  ", frame %d, mode %7[^,]", &number, mode),
                      2);
            double low = INFINITY, high = -INFINITY, sum = 0;
            for (int row = 1; row <= kFrameRows && std::getline(full, line); ++row) {
                std::istringstream cells(line);
                std::string cell;
                for (int column = 1; std::getline(cells, cell, ','); ++column) {
                    if (row >= r.first.row && row <= r.last.row && column >= r.first.column &&
                        column <= r.last.column) {
                        low = std::min(low, std::stod(cell));
                        high = std::max(high, std::stod(cell));
                        sum += std::stod(cell);
                    }
                }
            }
            ASSERT_TRUE(std::getline(region, line)) << what << ": no line for frame " << number;
            int gotNumber = 0, unitAt = 0;
            double gotLow = 0, gotHigh = 0;
            char mean[32] = {};
            ASSERT_EQ(std::sscanf(line.c_str(), "%d,%lf,%31[^,],%lf,%n", &gotNumber, &gotLow, mean,
                                  &gotHigh, &unitAt),
                      4)
                << what << ": " << line;
            EXPECT_EQ(gotNumber, number) << what;
            EXPECT_EQ(gotLow, low) << what << ": " << line;
            EXPECT_EQ(gotHigh, high) << what << ": " << line;
            EXPECT_EQ(line.substr(unitAt), units.at(mode)) << what << ": " << line;
            // The cells and the mean are each rounded to the mean's last digit: they may differ
            // by one unit of it.
            const char* point = std::strchr(mean, '.');
            ASSERT_NE(point, nullptr) << what << ": " << line;
            const int decimals = static_cast<int>(std::strlen(point + 1));
            EXPECT_NEAR(std::stod(mean), sum / (r.Width() * r.Height()),
                        std::pow(10.0, -decimals) * 1.001)
                << what << ": " << line;
        }
        EXPECT_FALSE(std::getline(region, line)) << what << ": more lines than frames";
    }
}

TEST_F(ConvertFormatsTest, VideoHoldsOneDecodableFramePerRecordAtTwentyPerSecond) {
    std::string bds;
    for (int i = 0; i < 40; ++i) {
        bds += BinaryStreamRecord('K', VariedFrame(static_cast<uint16_t>(2900 + 5 * i), 300, 0));
    }
    const std::string input = Write("in.bds", bds);
    ASSERT_EQ(Convert(input + " " + Path("out.avi") + " --palette 2").status, 0);
    const ToolResult probe = RunShell(
        "ffprobe -v error -count_frames -select_streams v:0 -show_entries "
        "stream=codec_name,width,height,r_frame_rate,nb_read_frames -of "
        "default=noprint_wrappers=1 " +
            Path("out.avi"),
        m_dir.path() / "probe");
    ASSERT_EQ(probe.status, 0) << probe.errors;
    EXPECT_EQ(probe.out,
              "codec_name=mpeg4\nwidth=320\nheight=310\nr_frame_rate=20/1\nnb_read_frames=40\n");
    const ToolResult decode =
        RunShell("ffmpeg -v error -i " + Path("out.avi") + " -f null -", m_dir.path() / "decode");
    EXPECT_EQ(decode.status, 0);
    EXPECT_EQ(decode.errors, "");
}

TEST_F(ConvertFormatsTest, PngPicturesHoldTheSamePixelsAsTheBitmaps) {
    const std::string input =
        Write("in.bds", BinaryStreamRecord('K', VariedFrame(2900, 300, 0)) +
                            BinaryStreamRecord('K', VariedFrame(3000, 90, 0)));
    ASSERT_EQ(Convert(input + " --frames " + Path("bmp") + " --mirror x").status, 0);
    ASSERT_EQ(Convert(input + " --frames " + Path("png") + " --png --mirror x").status, 0);
    for (const char* frame : {"frame_000001", "frame_000002"}) {
        const std::string png = Path("png/") + frame + ".png";
        ASSERT_EQ(RunShell("ffmpeg -v error -i " + png + " -f rawvideo -pix_fmt rgb24 " +
                               Path("decoded.rgb"),
                           m_dir.path() / "ffmpeg")
                      .status,
                  0);
        const std::string rgb = ReadWhole(Path("decoded.rgb"));
        const std::string bmp = ReadWhole(Path("bmp/") + frame + ".bmp");
        ASSERT_EQ(rgb.size(), 320u * 310u * 3u);
        ASSERT_EQ(bmp.size(), 54u + rgb.size());
        int differing = 0;
        for (int y = 0; y < 310; ++y) {
            for (int x = 0; x < 320; ++x) {
                const std::size_t at = (static_cast<std::size_t>(y) * 320 + x) * 3;
                const std::size_t bottomUp = 54 + (static_cast<std::size_t>(309 - y) * 320 + x) * 3;
                differing += rgb[at] != bmp[bottomUp + 2] || rgb[at + 1] != bmp[bottomUp + 1] ||
                             rgb[at + 2] != bmp[bottomUp];
            }
        }
        EXPECT_EQ(differing, 0) << frame;
        fs::remove(Path("decoded.rgb"));
    }
}

// Cut and scrambled recordings: the tool converts what is whole, or refuses or fails with a
// message, and never dies of a signal or leaves a part behind.
TEST_F(ConvertFormatsTest, DamagedRecordingsNeverCrashTheTool) {
    const FrameData warm = VariedFrame(2900, 300, 3);
    const FrameData volts = VariedFrame(100, 3000, 9);
    const std::string whole[][2] = {
        {"in.bds", BinaryStreamRecord('K', warm) + BinaryStreamRecord('t', volts) +
                       BinaryStreamRecord('K', warm)},
        {"in.txt", TextStreamRecord(warm, 'F') + TextStreamRecord(volts, 'V', 'T') +
                       TextStreamRecord(warm, 'C')},
        {"in.bin", RawFrameBytes(warm) + RawFrameBytes(volts)},
    };
    std::mt19937 random(7);
    for (const auto& [name, bytes] : whole) {
        for (int variant = 0; variant < 8; ++variant) {
            std::string damaged = bytes;
            if (variant < 4) {
                damaged.resize(random() % bytes.size());
            } else {
                for (int flip = 0; flip < 20 * variant; ++flip) {
                    damaged[random() % damaged.size()] = static_cast<char>(random());
                }
            }
            const std::string input = Write(name, damaged);
            for (const char* output : {"out.csv", "out.avi", "out.txt", "out.tiff", "out.npy"}) {
                const ToolResult run = Convert(input + " " + Path(output));
                const std::string what =
                    name + " variant " + std::to_string(variant) + " -> " + output;
                ASSERT_TRUE(run.status == 0 || run.status == 1 || run.status == 2)
                    << what << ": status " << run.status;
                EXPECT_EQ(fs::exists(Path(output)), run.status == 0) << what;
                if (run.status != 0) {
                    EXPECT_EQ(LineCount(run.errors), 1) << what << ": " << run.errors;
                }
                fs::remove(Path(output));
                EXPECT_EQ(
                    std::distance(fs::directory_iterator(m_dir.path()), fs::directory_iterator()),
                    1)
                    << what;
            }
            fs::remove(input);
        }
    }
}

}  // namespace
