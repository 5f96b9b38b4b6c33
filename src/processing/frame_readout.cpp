#include "processing/frame_readout.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "frame/conversion.h"
#include "frame/text_frame.h"
#include "processing/markers.h"

namespace {

int Flipped(int index, int count, bool flip) {
    return flip ? count - 1 - index : index;
}

bool FlipsColumns(int mirrorMode) {
    return mirrorMode == kMirrorX || mirrorMode == kMirrorBoth;
}

bool FlipsRows(int mirrorMode) {
    return mirrorMode == kMirrorY || mirrorMode == kMirrorBoth;
}

int IndexOf(SensorPixel pixel) {
    return (pixel.row - 1) * kFrameColumns + (pixel.column - 1);
}

SensorPixel PixelOfIndex(int index) {
    return {index / kFrameColumns + 1, index % kFrameColumns + 1};
}

bool OnSensor(SensorPixel pixel) {
    return pixel.row >= 1 && pixel.row <= kFrameRows && pixel.column >= 1 &&
           pixel.column <= kFrameColumns;
}

// The value with its unit, as the status bar writes it: "24.3 °C", or "1234" for raw values.
std::string ValueWithUnit(uint16_t value, const ReadoutScale& scale) {
    std::string text = ReadoutValueText(value, scale);
    const std::string_view unit = ReadoutUnitText(scale);
    if (!unit.empty()) {
        text += ' ';
        text += unit;
    }
    return text;
}

std::string PlaceText(SensorPixel pixel) {
    return "row " + std::to_string(pixel.row) + ", column " + std::to_string(pixel.column);
}

}  // namespace

SensorPixel SensorPixelOfCell(int cellRow, int cellColumn, int mirrorMode) {
    return {Flipped(cellRow, kFrameRows, FlipsRows(mirrorMode)) + 1,
            Flipped(cellColumn, kFrameColumns, FlipsColumns(mirrorMode)) + 1};
}

DisplayCell DisplayCellOf(SensorPixel pixel, int mirrorMode) {
    return {Flipped(pixel.row - 1, kFrameRows, FlipsRows(mirrorMode)),
            Flipped(pixel.column - 1, kFrameColumns, FlipsColumns(mirrorMode))};
}

ReadoutScale ReadoutScale::OfModeLetter(char modeLetter, int unit, bool subtractingOffsets) {
    const bool isVoltage = IsVoltageMode(modeLetter);
    return {isVoltage ? ReadoutKind::kVoltage : ReadoutKind::kTemperature, unit,
            isVoltage && subtractingOffsets};
}

int ReadoutCounts(uint16_t value, const ReadoutScale& scale) {
    return scale.kind == ReadoutKind::kVoltage && scale.offsetsSubtracted ? SignedCountsOf(value)
                                                                          : value;
}

std::string_view ReadoutUnitText(const ReadoutScale& scale) {
    switch (scale.kind) {
        case ReadoutKind::kVoltage:
            return "V";
        case ReadoutKind::kRaw:
            return {};
        default:
            break;
    }
    switch (scale.unit) {
        case kUnitKelvin:
            return "K";
        case kUnitCelsius:
            return "\u00B0C";
        default:
            return "\u00B0F";
    }
}

std::string ReadoutValueText(uint16_t value, const ReadoutScale& scale) {
    std::string_view field;
    switch (scale.kind) {
        case ReadoutKind::kVoltage:
            if (const int counts = ReadoutCounts(value, scale); counts < 0) {
                // "%+.4f" of the negative volts: the text of the positive ones, signed.
                std::string text = "-";
                text += VoltageFieldText(static_cast<uint16_t>(-counts)).substr(1);
                return text;
            }
            field = VoltageFieldText(value);
            break;
        case ReadoutKind::kRaw:
            return std::to_string(value);
        default:
            field = TemperatureFieldText(value, scale.unit);
            break;
    }
    if (!field.empty() && field.front() == '+') {
        field.remove_prefix(1);
    }
    return std::string(field);
}

std::string ReadoutMeanText(double counts, const ReadoutScale& scale) {
    double number = counts;
    int decimals = 1;
    if (scale.kind == ReadoutKind::kVoltage) {
        number = counts * kVoltsPerCount;
        decimals = 4;
    } else if (scale.kind == ReadoutKind::kTemperature) {
        // The conversion of TemperatureForOutput, on a mean that need not be a whole count.
        const double kelvin = counts / 10.0;
        number = scale.unit == kUnitKelvin ? kelvin
                 : scale.unit == kUnitCelsius
                     ? kelvin - kCelsiusOffset
                     : (kelvin - kCelsiusOffset) * kFahrenheitFactor + kFahrenheitOffset;
    }
    char digits[64];
    // to_chars ignores the locale a desktop may have set, as the text frame does.
    const auto end =
        std::to_chars(digits, digits + sizeof digits, number, std::chars_format::fixed, decimals)
            .ptr;
    return std::string(digits, end);
}

FrameExtremes FindFrameExtremes(const uint16_t values[kPixelCount], const ReadoutScale& scale) {
    const auto less = [&scale](uint16_t a, uint16_t b) {
        return ReadoutCounts(a, scale) < ReadoutCounts(b, scale);
    };
    const auto [low, high] = std::minmax_element(values, values + kPixelCount, less);
    // minmax_element gives the last of equal maxima; the first is the one named.
    const uint16_t* firstHigh = std::find(values, values + kPixelCount, *high);
    return {*low, *high, PixelOfIndex(static_cast<int>(low - values)),
            PixelOfIndex(static_cast<int>(firstHigh - values))};
}

std::optional<SensorRegion> MakeSensorRegion(SensorPixel a, SensorPixel b) {
    if (!OnSensor(a) || !OnSensor(b)) {
        return std::nullopt;
    }
    return SensorRegion{{std::min(a.row, b.row), std::min(a.column, b.column)},
                        {std::max(a.row, b.row), std::max(a.column, b.column)}};
}

std::optional<SensorRegion> ParseSensorRegion(std::string_view text, std::string& error) {
    int numbers[4] = {};
    const char* next = text.data();
    const char* const end = text.data() + text.size();
    for (int i = 0; i < 4; ++i) {
        if (i > 0) {
            if (next == end || *next != ',') {
                error = "a region is four numbers R1,C1,R2,C2 separated by commas";
                return std::nullopt;
            }
            ++next;
        }
        const auto [ptr, ec] = std::from_chars(next, end, numbers[i]);
        if (ec != std::errc() || ptr == next) {
            error = "a region is four numbers R1,C1,R2,C2 separated by commas";
            return std::nullopt;
        }
        next = ptr;
    }
    if (next != end) {
        error = "a region is four numbers R1,C1,R2,C2 separated by commas";
        return std::nullopt;
    }
    std::optional<SensorRegion> region =
        MakeSensorRegion({numbers[0], numbers[1]}, {numbers[2], numbers[3]});
    if (!region) {
        error = "a region's rows are 1 to " + std::to_string(kFrameRows) +
                " and its columns 1 to " + std::to_string(kFrameColumns);
    }
    return region;
}

RegionStats ComputeRegionStats(const uint16_t values[kPixelCount], const SensorRegion& region,
                               const ReadoutScale& scale) {
    const uint16_t first = values[IndexOf(region.first)];
    RegionStats stats{first, first, 0.0};
    int64_t sum = 0;
    for (int row = region.first.row; row <= region.last.row; ++row) {
        const uint16_t* line = values + IndexOf({row, region.first.column});
        for (int i = 0; i < region.Width(); ++i) {
            const int counts = ReadoutCounts(line[i], scale);
            stats.min = counts < ReadoutCounts(stats.min, scale) ? line[i] : stats.min;
            stats.max = counts > ReadoutCounts(stats.max, scale) ? line[i] : stats.max;
            sum += counts;
        }
    }
    stats.mean = static_cast<double>(sum) / (region.Width() * region.Height());
    return stats;
}

std::string PixelReadoutText(const uint16_t values[kPixelCount], const ReadoutScale& scale,
                             SensorPixel pixel) {
    if (!OnSensor(pixel)) {
        return {};
    }
    return "Row " + std::to_string(pixel.row) + ", column " + std::to_string(pixel.column) + ": " +
           ValueWithUnit(values[IndexOf(pixel)], scale);
}

std::string ExtremesReadoutText(const uint16_t values[kPixelCount], const ReadoutScale& scale) {
    const FrameExtremes extremes = FindFrameExtremes(values, scale);
    std::string text = "Min ";
    text += ValueWithUnit(extremes.min, scale);
    text += " at ";
    text += PlaceText(extremes.minPixel);
    text += " \u00B7 Max ";
    text += ValueWithUnit(extremes.max, scale);
    text += " at ";
    text += PlaceText(extremes.maxPixel);
    return text;
}

RegionStatsText RegionStatsTextOf(const uint16_t values[kPixelCount], const SensorRegion& region,
                                  const ReadoutScale& scale) {
    const RegionStats stats = ComputeRegionStats(values, region, scale);
    return {ReadoutValueText(stats.min, scale), ReadoutMeanText(stats.mean, scale),
            ReadoutValueText(stats.max, scale)};
}

std::string RegionReadoutText(const uint16_t values[kPixelCount], const ReadoutScale& scale,
                              const SensorRegion& region) {
    const RegionStatsText stats = RegionStatsTextOf(values, region, scale);
    std::string text = "Region " + std::to_string(region.Width()) + " x " +
                       std::to_string(region.Height()) + ": min " + stats.min + ", mean " +
                       stats.mean + ", max " + stats.max;
    if (const std::string_view unit = ReadoutUnitText(scale); !unit.empty()) {
        text += ' ';
        text += unit;
    }
    return text;
}
