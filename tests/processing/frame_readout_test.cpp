#include "processing/frame_readout.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>

#include "frame/conversion.h"
#include "frame/text_frame.h"

namespace {

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

// A voltage pixel below its offset reads as the negative volts it stands for wherever the offsets
// were subtracted (the word keeps the 16-bit wrap the text frame and the colour mapping use), and
// so is ordered and averaged; without the subtraction, and in temperature frames, a word is the
// plain count it always was.
TEST(FrameReadout, VoltagesBelowTheirOffsetReadSignedOnlyAfterTheSubtraction) {
    FrameData frame{};
    for (int i = 0; i < kPixelCount; ++i) {
        frame.values[i] = static_cast<uint16_t>(1000 + 3 * (i / kFrameColumns));  // rising by row
    }
    frame.offsets[2] = 1050;  // column 3: -50 counts in row 1, -47 in row 2, ..., +40 in row 31
    SubtractElOffsets(frame.values, frame.offsets);
    // "%+.4f" of the volts as the C library prints them, without the plus sign.
    auto volts = [](double counts) {
        char text[32];
        std::snprintf(text, sizeof text, "%+.4f", counts * kVoltsPerCount);
        return std::string(text[0] == '+' ? text + 1 : text);
    };
    const ReadoutScale signedVolts = ReadoutScale::OfModeLetter('t', kUnitCelsius, true);
    EXPECT_EQ(PixelReadoutText(frame.values, signedVolts, {1, 3}),
              "Row 1, column 3: " + volts(-50) + " V");
    EXPECT_EQ(ExtremesReadoutText(frame.values, signedVolts),
              "Min " + volts(-50) + " V at row 1, column 3 \u00B7 Max " + volts(1090) +
                  " V at row 31, column 1");
    EXPECT_EQ(RegionReadoutText(frame.values, signedVolts, {{1, 3}, {2, 3}}),
              "Region 1 x 2: min " + volts(-50) + ", mean " + volts(-48.5) + ", max " + volts(-47) +
                  " V");
    struct Case {
        ReadoutScale scale;
        uint16_t word;
        std::string text;
    };
    const Case cases[] = {
        {signedVolts, 65535, "-0.0012"},
        {signedVolts, 32767, "40.0085"},
        {ReadoutScale::OfModeLetter('t', kUnitCelsius, false), 65486, "79.9584"},
        {ReadoutScale::OfModeLetter('K', kUnitKelvin, true), 65486, "6548.6"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ReadoutValueText(c.word, c.scale), c.text) << c.word;
    }
}

}  // namespace
