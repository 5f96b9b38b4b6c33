#include "processing/frame_readout.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <random>
#include <string>

#include "frame/conversion.h"
#include "frame/text_frame.h"
#include "processing/markers.h"

namespace {

using Values = std::array<uint16_t, kPixelCount>;

// Field `column` (1-based, as the CSV numbers it) of text line `row`: the text holds each row
// from the last column down to the first.
std::string TextField(const std::string& text, int row, int column) {
    size_t start = 0;
    for (int line = 1; line < row; ++line) {
        start = text.find('\n', start) + 1;
    }
    for (int field = 0; field < kFrameColumns - column; ++field) {
        start = text.find('\t', start) + 1;
    }
    std::string field = text.substr(start, text.find('\t', start) - start);
    return field[0] == '+' ? field.substr(1) : field;
}

TEST(FrameReadout, CellsNameTheSensorPixelWhateverTheMirroring) {
    struct Case {
        int mode;
        SensorPixel topLeft;  // what display cell (0, 0) shows
    };
    for (const Case& c : {Case{kMirrorNone, {1, 1}}, Case{kMirrorX, {1, 32}},
                          Case{kMirrorY, {31, 1}}, Case{kMirrorBoth, {31, 32}}}) {
        SCOPED_TRACE(c.mode);
        EXPECT_EQ(SensorPixelOfCell(0, 0, c.mode), c.topLeft);
        for (int row = 0; row < kFrameRows; ++row) {
            for (int column = 0; column < kFrameColumns; ++column) {
                const DisplayCell cell =
                    DisplayCellOf(SensorPixelOfCell(row, column, c.mode), c.mode);
                ASSERT_EQ(cell.row, row);
                ASSERT_EQ(cell.column, column);
            }
        }
    }
}

// The value named at a place is the one the text frame (and so the CSV) holds there, in every
// unit, and for voltage frames.
TEST(FrameReadout, PixelValueIsTheTextFramesFieldWithItsUnit) {
    FrameData frame{};
    std::mt19937 random(7);
    for (uint16_t& value : frame.values) {
        value = static_cast<uint16_t>(2600 + random() % 900);
    }
    struct Case {
        ReadoutScale scale;
        std::string unit;
    };
    const Case cases[] = {{{ReadoutKind::kTemperature, kUnitKelvin}, " K"},
                          {{ReadoutKind::kTemperature, kUnitCelsius}, " \u00B0C"},
                          {{ReadoutKind::kTemperature, kUnitFahrenheit}, " \u00B0F"},
                          {{ReadoutKind::kVoltage, kUnitCelsius}, " V"}};
    for (const Case& c : cases) {
        const std::string text = c.scale.kind == ReadoutKind::kVoltage
                                     ? RenderVoltageText(frame).text
                                     : RenderTemperatureText(frame, c.scale.unit).text;
        for (const SensorPixel pixel :
             {SensorPixel{1, 1}, SensorPixel{1, 32}, SensorPixel{17, 5}, SensorPixel{31, 32}}) {
            EXPECT_EQ(PixelReadoutText(frame.values, c.scale, pixel),
                      "Row " + std::to_string(pixel.row) + ", column " +
                          std::to_string(pixel.column) + ": " +
                          TextField(text, pixel.row, pixel.column) + c.unit);
        }
    }
    frame.values[0] = 2732;
    EXPECT_EQ(PixelReadoutText(frame.values, {ReadoutKind::kTemperature, kUnitCelsius}, {1, 1}),
              "Row 1, column 1: 0.1 \u00B0C");
    EXPECT_EQ(PixelReadoutText(frame.values, {ReadoutKind::kRaw, 0}, {1, 1}),
              "Row 1, column 1: 2732");
    EXPECT_EQ(PixelReadoutText(frame.values, {}, {0, 1}), "");
}

TEST(FrameReadout, ExtremesNameTheFirstPixelHoldingEach) {
    Values values;
    values.fill(3000);
    values[5 * kFrameColumns + 2] = 2900;  // row 6, column 3
    values[9 * kFrameColumns + 0] = 2900;
    values[30 * kFrameColumns + 31] = 3100;  // row 31, column 32
    EXPECT_EQ(ExtremesReadoutText(values.data(), {ReadoutKind::kTemperature, kUnitKelvin}),
              "Min 290.0 K at row 6, column 3 \u00B7 Max 310.0 K at row 31, column 32");
}

TEST(FrameReadout, RegionStatisticsMatchAPlainComputation) {
    Values values;
    std::mt19937 random(11);
    std::generate(values.begin(), values.end(), [&] { return static_cast<uint16_t>(random()); });
    for (int trial = 0; trial < 200; ++trial) {
        const SensorPixel a{static_cast<int>(random() % 31) + 1,
                            static_cast<int>(random() % 32) + 1};
        const SensorPixel b{static_cast<int>(random() % 31) + 1,
                            static_cast<int>(random() % 32) + 1};
        const SensorRegion region = *MakeSensorRegion(a, b);
        uint16_t low = 65535;
        uint16_t high = 0;
        double sum = 0;
        int count = 0;
        for (int i = 0; i < kPixelCount; ++i) {
            const int row = i / kFrameColumns + 1;
            const int column = i % kFrameColumns + 1;
            if (row >= std::min(a.row, b.row) && row <= std::max(a.row, b.row) &&
                column >= std::min(a.column, b.column) && column <= std::max(a.column, b.column)) {
                low = std::min(low, values[i]);
                high = std::max(high, values[i]);
                sum += values[i];
                ++count;
            }
        }
        const RegionStats stats = ComputeRegionStats(values.data(), region);
        ASSERT_EQ(stats.min, low);
        ASSERT_EQ(stats.max, high);
        ASSERT_DOUBLE_EQ(stats.mean, sum / count);
        ASSERT_EQ(region.Width() * region.Height(), count);
    }
    values.fill(2981);
    values[0] = 2980;
    EXPECT_EQ(RegionReadoutText(values.data(), {ReadoutKind::kTemperature, kUnitKelvin},
                                *MakeSensorRegion({2, 1}, {1, 2})),
              "Region 2 x 2: min 298.0, mean 298.1, max 298.1 K");
    EXPECT_EQ(ReadoutMeanText(1000.0, {ReadoutKind::kVoltage, 0}), "1.2210");
}

TEST(FrameReadout, RegionArgument) {
    std::string error;
    EXPECT_EQ(ParseSensorRegion("31,32,1,1", error), MakeSensorRegion({1, 1}, {31, 32}));
    for (const char* bad : {"", "1,1,2", "1,1,2,2,", "1;1;2;2", "0,1,2,2", "1,1,32,2", "1,1,2,33",
                            "a,1,2,2", "1, 1,2,2"}) {
        error.clear();
        EXPECT_FALSE(ParseSensorRegion(bad, error)) << bad;
        EXPECT_FALSE(error.empty()) << bad;
    }
}

}  // namespace
