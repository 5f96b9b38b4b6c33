#include "frame/conversion.h"

#include <charconv>
#include <cmath>

double TemperatureForOutput(uint16_t value, int unit) {
    const float kelvin = KelvinOf(value);
    if (unit == kUnitKelvin) {
        return kelvin;
    }
    if (unit == kUnitCelsius) {
        return kelvin - kCelsiusOffset;
    }
    return (kelvin - kCelsiusOffset) * kFahrenheitFactor + kFahrenheitOffset;
}

void SubtractElOffsets(uint16_t values[kPixelCount], const uint16_t offsets[kOffsetCount]) {
    for (int i = 0; i < kPixelCount; ++i) {
        values[i] = static_cast<uint16_t>(values[i] - offsets[i % kFrameColumns]);
    }
}

void AddElOffsets(uint16_t values[kPixelCount], const uint16_t offsets[kOffsetCount]) {
    for (int i = 0; i < kPixelCount; ++i) {
        values[i] = static_cast<uint16_t>(values[i] + offsets[i % kFrameColumns]);
    }
}

uint16_t TruncateToWord(double number) {
    if (!std::isfinite(number) || std::fabs(number) >= 9.0e18) {
        return 0;
    }
    return static_cast<uint16_t>(static_cast<int64_t>(number) & 0xFFFF);
}

uint16_t ValueFromText(double number, char fileMode) {
    switch (fileMode) {
        case 'V':
            return TruncateToWord(number / kVoltsPerCount);
        case 'C':
            return TruncateToWord((number + kCelsiusOffset) * 10.0);
        case 'F':
            return TruncateToWord(
                ((number - kFahrenheitOffset) / kFahrenheitFactor + kCelsiusOffset) * 10.0);
        default:
            return TruncateToWord(number * 10.0);
    }
}

float ReadoutOfKelvin(float kelvin, int unit) {
    if (unit == kUnitKelvin) {
        return kelvin;
    }
    if (unit == kUnitCelsius) {
        return kelvin - kReadoutCelsiusOffset;
    }
    return (kelvin - static_cast<float>(kCelsiusOffset)) * kFahrenheitFactor +
           static_cast<float>(kFahrenheitOffset);
}

float KelvinOfReadout(float readout, int unit) {
    if (unit == kUnitKelvin) {
        return readout;
    }
    if (unit == kUnitCelsius) {
        return readout + kReadoutCelsiusOffset;
    }
    return (readout - static_cast<float>(kFahrenheitOffset)) / kFahrenheitFactor +
           static_cast<float>(kCelsiusOffset);
}

float CountsOfVoltReadout(float volts) {
    return volts / static_cast<float>(kVoltsPerCount);
}

ReadoutRange ReadoutRangeOf(int readoutUnit) {
    constexpr uint16_t kLargestValue = 0xFFFF;
    if (readoutUnit == kReadoutUnitVolts) {
        return {0.0f, static_cast<float>(VoltsOf(kLargestValue))};
    }
    return {ReadoutOfKelvin(KelvinOf(0), readoutUnit),
            ReadoutOfKelvin(KelvinOf(kLargestValue), readoutUnit)};
}

float ReadoutNumber(std::string_view text) {
    const auto isSpace = [](char ch) {
        return ch == ' ' || ch == '\t' || ch == '\n' || ch == '\v' || ch == '\f' || ch == '\r';
    };
    while (!text.empty() && isSpace(text.front())) {
        text.remove_prefix(1);
    }
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
        if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
            return 0.0f;  // two signs: no number
        }
    }
    float value = 0.0f;
    const std::from_chars_result result =
        std::from_chars(text.data(), text.data() + text.size(), value);
    return result.ec == std::errc() && std::isfinite(value) ? value : 0.0f;
}
