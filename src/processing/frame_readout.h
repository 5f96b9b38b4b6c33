#pragma once
// What a user reads off a processed frame in numbers: the value of one sensor pixel, the frame's
// minimum and maximum with their places, and the statistics of a rectangular region. Pixels are
// named as `thermal convert`'s CSV numbers them: row 1 is the sensor's first row, column 1 its
// first column, whatever mirroring the display applies. Values are written with the digits of
// the text frame (without its plus sign) in the frame's unit. Pure functions, any thread.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "frame/frame_block.h"

// A sensor pixel, 1-based: row 1 to 31, column 1 to 32.
struct SensorPixel {
    int row = 1;
    int column = 1;
    bool operator==(const SensorPixel&) const = default;
};

// The sensor pixel a cell of the 32 x 31 display grid shows under `mirrorMode` (kMirrorNone to
// kMirrorBoth; cells are 0-based, top-left first). Mirroring is its own inverse: the cell that
// shows a sensor pixel is DisplayCellOf with the same mode.
SensorPixel SensorPixelOfCell(int cellRow, int cellColumn, int mirrorMode);
// The 0-based display cell (row, column) showing `pixel` under `mirrorMode`.
struct DisplayCell {
    int row = 0;
    int column = 0;
};
DisplayCell DisplayCellOf(SensorPixel pixel, int mirrorMode);

// What a frame's values are: deci-kelvin shown in a temperature unit, converter counts shown in
// volts, or the numbers of a raw frame file shown as stored.
enum class ReadoutKind { kTemperature, kVoltage, kRaw };

struct ReadoutScale {
    ReadoutKind kind = ReadoutKind::kTemperature;
    int unit = 2;  // for temperatures: kUnitKelvin, kUnitCelsius or kUnitFahrenheit
    // Voltage frames: the electrical offsets were subtracted, so each value is a signed difference
    // kept on 16 bits (SignedCountsOf): it is read, ordered and averaged as that difference.
    bool offsetsSubtracted = false;

    // The scale of a processed frame with this mode letter, temperatures in `unit`; whether the
    // pipeline subtracted the offsets, which it does from voltage frames only.
    static ReadoutScale OfModeLetter(char modeLetter, int unit, bool subtractingOffsets);
};

// A stored value as the number it counts: the signed difference for a voltage frame whose offsets
// were subtracted, else the value itself.
int ReadoutCounts(uint16_t value, const ReadoutScale& scale);

// A frame as the readouts read it: its processed values, how to read them, and the mirroring the
// display showed them with.
struct ReadoutFrame {
    std::array<uint16_t, kPixelCount> values{};
    ReadoutScale scale;
    int mirrorMode = 0;
};

// "K", "°C", "°F" (UTF-8) or "V"; empty for raw values.
std::string_view ReadoutUnitText(const ReadoutScale& scale);
// One value as the text frame writes it, without the plus sign: "24.3", "0.0012", "1234"; a
// voltage below its offset with its minus sign, "-0.0611".
std::string ReadoutValueText(uint16_t value, const ReadoutScale& scale);
// Counts that need not be whole (a mean of ReadoutCounts) in the unit, with the text frame's
// number of decimals: one for temperatures, four for volts, one for raw values.
std::string ReadoutMeanText(double counts, const ReadoutScale& scale);

// The frame's smallest and largest values (stored values, ordered as `scale` reads them) and the
// first pixel (row by row) holding each.
struct FrameExtremes {
    uint16_t min = 0;
    uint16_t max = 0;
    SensorPixel minPixel;
    SensorPixel maxPixel;
};
FrameExtremes FindFrameExtremes(const uint16_t values[kPixelCount], const ReadoutScale& scale);

// A rectangle of sensor pixels, corners included; always first <= last once made by
// MakeSensorRegion.
struct SensorRegion {
    SensorPixel first;
    SensorPixel last;
    int Width() const { return last.column - first.column + 1; }
    int Height() const { return last.row - first.row + 1; }
    bool operator==(const SensorRegion&) const = default;
};
// The region between two corners given in any order; nothing if either is off the sensor.
std::optional<SensorRegion> MakeSensorRegion(SensorPixel a, SensorPixel b);
// "R1,C1,R2,C2" (rows 1 to 31, columns 1 to 32, corners in any order). On failure, `error` says
// why in one line.
std::optional<SensorRegion> ParseSensorRegion(std::string_view text, std::string& error);

// The smallest and largest stored values of a region, ordered as `scale` reads them, and the mean
// of what they count (ReadoutCounts).
struct RegionStats {
    uint16_t min = 0;
    uint16_t max = 0;
    double mean = 0.0;
};
RegionStats ComputeRegionStats(const uint16_t values[kPixelCount], const SensorRegion& region,
                               const ReadoutScale& scale);

// A region's minimum, mean and maximum as every output and readout writes them: the digits of the
// text frame, the mean with as many decimals, no unit.
struct RegionStatsText {
    std::string min;
    std::string mean;
    std::string max;

    // "min,mean,max" for a table.
    std::string Row() const { return min + ',' + mean + ',' + max; }
};
RegionStatsText RegionStatsTextOf(const uint16_t values[kPixelCount], const SensorRegion& region,
                                  const ReadoutScale& scale);

// The status bar's texts:
// "Row R, column C: V UNIT"
std::string PixelReadoutText(const uint16_t values[kPixelCount], const ReadoutScale& scale,
                             SensorPixel pixel);
// "Min V UNIT at row R, column C · Max V UNIT at row R, column C"
std::string ExtremesReadoutText(const uint16_t values[kPixelCount], const ReadoutScale& scale);
// "Region W x H: min V, mean V, max V UNIT"
std::string RegionReadoutText(const uint16_t values[kPixelCount], const ReadoutScale& scale,
                              const SensorRegion& region);
