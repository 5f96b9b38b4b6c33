#include "processing/color_mapping.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "frame/conversion.h"

namespace {

uint8_t ClampIndex(float position) {
    const double rounded = position + 0.5;
    // Written so that a NaN position also takes the first entry: converting it (or anything
    // beyond 255) to a byte is undefined.
    if (!(rounded >= kFirstUsedEntry)) {
        return kFirstUsedEntry;
    }
    if (rounded > kLastUsedEntry) {
        return kLastUsedEntry;
    }
    return static_cast<uint8_t>(rounded);
}

// A manual bound in kelvin as a float in deci-kelvin. Past the float range it becomes an
// infinity of its sign (converting such a double to float is undefined); NaN stays NaN.
float DeciKelvinBound(float kelvin) {
    const double deciKelvin = kelvin * 10.0;
    if (std::fabs(deciKelvin) > std::numeric_limits<float>::max()) {
        return std::copysign(std::numeric_limits<float>::infinity(), static_cast<float>(kelvin));
    }
    return static_cast<float>(deciKelvin);
}

MarkerCell CellOf(int index) {
    return {index % kFrameColumns, index / kFrameColumns};
}

void Colour(const uint8_t indices[kPixelCount], const uint32_t palette[kPaletteSize],
            uint8_t small[kSmallImageBytes]) {
    for (int i = 0; i < kPixelCount; ++i) {
        const uint32_t entry = palette[indices[i]];
        small[3 * i] = static_cast<uint8_t>(entry);
        small[3 * i + 1] = static_cast<uint8_t>(entry >> 8);
        small[3 * i + 2] = static_cast<uint8_t>(entry >> 16);
    }
}

}  // namespace

ExtremeIndices AutomaticIndices(const uint16_t values[kPixelCount], uint8_t indices[kPixelCount]) {
    // The first pixel with the extreme value gets the marker, and an all-zero frame keeps the
    // maximum on pixel 0. The extremes are found first without remembering where (a loop the
    // compiler runs on whole vectors), then the first pixel holding each.
    uint16_t high = 0;
    uint16_t low = 65535;
    for (int i = 0; i < kPixelCount; ++i) {
        high = values[i] > high ? values[i] : high;
        low = values[i] < low ? values[i] : low;
    }
    ExtremeIndices extremes;
    while (values[extremes.maxIndex] != high) {
        ++extremes.maxIndex;
    }
    while (values[extremes.minIndex] != low) {
        ++extremes.minIndex;
    }
    const int maximum = high;
    const int minimum = low;
    if (maximum <= minimum) {
        std::memset(indices, kFirstUsedEntry, kPixelCount);
        return extremes;
    }
    const double span = maximum - minimum;
    if (maximum - minimum < kPixelCount) {
        // Fewer distinct differences than pixels: divide once per difference, not per pixel.
        uint8_t byDifference[kPixelCount];
        for (int d = 0; d <= maximum - minimum; ++d) {
            byDifference[d] = ClampIndex(static_cast<float>(d * 256.0 / span));
        }
        for (int i = 0; i < kPixelCount; ++i) {
            indices[i] = byDifference[values[i] - minimum];
        }
        return extremes;
    }
    for (int i = 0; i < kPixelCount; ++i) {
        indices[i] = ClampIndex(static_cast<float>((values[i] - minimum) * 256.0 / span));
    }
    return extremes;
}

void ManualIndices(const uint16_t values[kPixelCount], float lower, float upper,
                   uint8_t indices[kPixelCount], MarkerCell& minCell, MarkerCell& maxCell) {
    minCell = {};
    maxCell = {};
    // The lower test comes first, so bounds that cross never reach the division. A bound that
    // is not a finite number (typed as such, or a temperature bound past the float range once
    // in deci-kelvin) gives no usable span: it maps like crossed bounds, each pixel at or below
    // the lower bound in the lower colour and every other pixel in the upper colour.
    if (!std::isfinite(lower) || !std::isfinite(upper)) {
        for (int i = 0; i < kPixelCount; ++i) {
            if (values[i] <= lower) {
                indices[i] = kFirstUsedEntry;
                minCell = CellOf(i);
            } else {
                indices[i] = kLastUsedEntry;
                maxCell = CellOf(i);
            }
        }
        return;
    }
    const double span = static_cast<double>(upper) - lower;
    for (int i = 0; i < kPixelCount; ++i) {
        const float value = values[i];
        if (value <= lower) {
            indices[i] = kFirstUsedEntry;
            minCell = CellOf(i);
        } else if (value >= upper) {
            indices[i] = kLastUsedEntry;
            maxCell = CellOf(i);
        } else {
            indices[i] = ClampIndex(
                static_cast<float>((values[i] - static_cast<double>(lower)) * 256.0 / span));
        }
    }
}

void MapFrameColours(char modeLetter, uint16_t values[kPixelCount],
                     const uint16_t offsets[kOffsetCount], bool subtractElOffsets,
                     const ColourScale& scale, const uint32_t palette[kPaletteSize], int mirrorMode,
                     uint8_t small[kSmallImageBytes], MarkerCell& minCell, MarkerCell& maxCell) {
    const bool voltage = IsVoltageMode(modeLetter);
    if (voltage && subtractElOffsets) {
        SubtractElOffsets(values, offsets);
    }
    uint8_t indices[kPixelCount];
    if (scale.mode == kScalingManual) {
        float lower = scale.lower;
        float upper = scale.upper;
        if (!voltage) {
            // Temperature values are deci-kelvin.
            lower = DeciKelvinBound(lower);
            upper = DeciKelvinBound(upper);
        }
        ManualIndices(values, lower, upper, indices, minCell, maxCell);
    } else {
        const ExtremeIndices extremes = AutomaticIndices(values, indices);
        minCell = CellOf(extremes.minIndex);
        maxCell = CellOf(extremes.maxIndex);
    }
    Colour(indices, palette, small);
    MirrorSmallImage(mirrorMode, small, minCell, maxCell);
}

void MapRawFrame(const uint16_t values[kPixelCount], const uint32_t palette[kPaletteSize],
                 uint8_t small[kSmallImageBytes], uint8_t image[kImageBytes]) {
    uint8_t indices[kPixelCount];
    AutomaticIndices(values, indices);
    Colour(indices, palette, small);
    ResampleNearest(small, kFrameRows, kFrameColumns, image, kImageHeight, kImageWidth, true);
}
