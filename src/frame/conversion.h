#pragma once
// What the 16-bit values of a frame mean and how they become the numbers the viewer writes:
// deci-kelvin for temperature frames, converter counts for voltages, and the inverse conversions
// for reading recorded text frames back, and the readouts of the manual colour scale. Pure
// functions, any thread.
#include <cstdint>
#include <string_view>

#include "frame/frame_block.h"

inline constexpr double kVoltsPerCount = 0.001221;
inline constexpr double kCelsiusOffset = 273.15;
// Held as a float: Fahrenheit texts carry its rounding, which keeps them identical to those of
// recordings already made.
inline constexpr float kFahrenheitFactor = 1.8f;
inline constexpr double kFahrenheitOffset = 32.0;

// Temperature units of the text rendering, the options and the manual scale; any other number
// is treated as Fahrenheit.
inline constexpr int kUnitKelvin = 1;
inline constexpr int kUnitCelsius = 2;
inline constexpr int kUnitFahrenheit = 3;

// Kelvin of a temperature value, rounded to a float like every temperature the viewer writes.
inline float KelvinOf(uint16_t value) {
    return static_cast<float>(value / 10.0);
}

// Temperature of a value in the given unit, as written into text frames.
double TemperatureForOutput(uint16_t value, int unit);

// Volts of a count (pixels of voltage frames, offsets, header words).
inline double VoltsOf(uint16_t counts) {
    return counts * kVoltsPerCount;
}

// value(r, c) - offset(c) on 16 bits: a pixel below its offset wraps to a large value rather
// than being clamped, so that files stay comparable with existing recordings.
void SubtractElOffsets(uint16_t values[kPixelCount], const uint16_t offsets[kOffsetCount]);
// The signed difference a value after SubtractElOffsets stands for. The text frame and the colour
// mapping keep the wrapped word, but every number the program gives otherwise (readouts, CSV,
// NumPy, TIFF, streamed frames) is this one: a pixel 50 counts below its offset is -50, not
// 65,486 (about 80 V). The converter's counts lie far below 32,768 (5 V is 4,095), so the word
// tells the difference exactly.
inline int SignedCountsOf(uint16_t subtracted) {
    return static_cast<int16_t>(subtracted);
}
// The inverse, used when a text frame says its offsets were already subtracted.
void AddElOffsets(uint16_t values[kPixelCount], const uint16_t offsets[kOffsetCount]);

// Truncates toward zero and keeps the low 16 bits, without undefined behaviour for numbers out
// of range (a broken text file must not crash the reader).
uint16_t TruncateToWord(double number);

// Stored value of a number read from a text frame whose header names `fileMode`
// (`V` volts, `K` kelvin, `C` Celsius, `F` Fahrenheit, anything else kelvin).
uint16_t ValueFromText(double number, char fileMode);
// Stored value of a number in volts (offsets and header words of every text frame).
inline uint16_t CountsFromVolts(double volts) {
    return TruncateToWord(volts / kVoltsPerCount);
}

// The manual colour scale. Its temperature trackbars move in whole kelvin; the readouts beside
// them show the temperature in the display unit, and the bounds typed or shown there are turned
// back into kelvin (or converter counts for voltages) for the colour mapping. All in float, as
// the readouts are.
//
// Celsius readouts count from 273.2 K, which prints a whole-kelvin position with one decimal
// that turns back into the very same kelvin.
inline constexpr float kReadoutCelsiusOffset = 273.2f;

// The number a readout text starts with, as the C library reads a float but whatever locale the
// desktop set: white space at both ends and one leading '+' allowed, trailing text ignored. 0
// when the text does not start with a number, and also for infinities, NaN and numbers beyond
// the float range: a bound of the colour scale must be a finite number.
float ReadoutNumber(std::string_view text);
// The readout of `kelvin` in `unit`.
float ReadoutOfKelvin(float kelvin, int unit);
// The kelvin of a temperature readout in `unit`; the inverse of ReadoutOfKelvin.
float KelvinOfReadout(float readout, int unit);
// The converter counts of a voltage readout in volts.
float CountsOfVoltReadout(float volts);

// The readouts of voltage frames are in volts; the other readout units are the temperature units.
inline constexpr int kReadoutUnitVolts = 0;
// The readouts that the values a frame can hold (0 to 65535) give in a readout unit: absolute
// zero (or 0 V) up to what the largest 16-bit value stands for. A bound of the colour scale
// beyond them can never be reached by a pixel.
struct ReadoutRange {
    float lowest = 0.0f;
    float highest = 0.0f;
};
ReadoutRange ReadoutRangeOf(int readoutUnit);
