#include "processing/frame_readout.h"

#include <gtest/gtest.h>

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

}  // namespace
