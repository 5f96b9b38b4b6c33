#pragma once
// What the 16-bit values of a frame mean and how they become the numbers the viewer writes:
// deci-kelvin for temperature frames, converter counts for voltages, and the inverse conversions
// for reading recorded text frames back. Pure functions, any thread.
#include <cstdint>

#include "frame/frame_block.h"

inline constexpr double kVoltsPerCount = 0.001221;
inline constexpr double kCelsiusOffset = 273.15;
// Held as a float by the original text format, so Fahrenheit values carry its rounding.
inline constexpr float kFahrenheitFactor = 1.8f;
inline constexpr double kFahrenheitOffset = 32.0;

// Temperature units of the text rendering; any other number is treated as Fahrenheit.
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

// value(r, c) - offset(c) on 16 bits: a pixel below its offset wraps to a large value, as the
// module's own software does, so recordings stay comparable.
void SubtractElOffsets(uint16_t values[kPixelCount], const uint16_t offsets[kOffsetCount]);
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
