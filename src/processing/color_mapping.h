#pragma once
// Turning the 992 values of a frame into the 32 x 31 false-colour image: palette indices under
// the automatic scale (frame minimum to maximum) or a manual scale, marker cells, electrical
// offset subtraction for voltage frames, mirroring. Pure functions, any thread.
#include <cstdint>

#include "processing/markers.h"
#include "processing/palette.h"

inline constexpr int kScalingAutomatic = 1;
inline constexpr int kScalingManual = 2;

// The colour scale of one frame. Manual bounds are in counts for voltage frames and in kelvin
// for temperature frames.
struct ColourScale {
    int mode = kScalingAutomatic;
    float upper = 0.0f;
    float lower = 0.0f;
};

// Index positions (0 to 991) of the extreme pixels.
struct ExtremeIndices {
    int minIndex = 0;
    int maxIndex = 0;
};

// Palette indices from the frame minimum to its maximum: the minimum maps to 5, the maximum to
// 250, a flat frame entirely to 5. Returns where the first minimum and the first maximum lie.
ExtremeIndices AutomaticIndices(const uint16_t values[kPixelCount], uint8_t indices[kPixelCount]);

// Palette indices between fixed bounds (same units as the values). Values at or below `lower`
// take 5, at or above `upper` 250; the marker cells are the last such pixels, (0, 0) if none.
// Total for any bounds: crossed bounds, and bounds that are not finite numbers, put each pixel
// at or below `lower` in entry 5 and every other pixel in entry 250.
void ManualIndices(const uint16_t values[kPixelCount], float lower, float upper,
                   uint8_t indices[kPixelCount], MarkerCell& minCell, MarkerCell& maxCell);

// Everything between the stacks and the enlargement: subtracts the offsets from a voltage frame
// when `subtractElOffsets` is set (the result replaces `values`), colours `small` from `palette`
// under `scale`, sets the marker cells and mirrors image and cells by `mirrorMode`.
void MapFrameColours(char modeLetter, uint16_t values[kPixelCount],
                     const uint16_t offsets[kOffsetCount], bool subtractElOffsets,
                     const ColourScale& scale, const uint32_t palette[kPaletteSize], int mirrorMode,
                     uint8_t small[kSmallImageBytes], MarkerCell& minCell, MarkerCell& maxCell);

// Raw frame files: automatic scale without offsets, mirroring or markers, enlarged by nearest
// neighbour straight to the 320 x 310 image. `small` is scratch space.
void MapRawFrame(const uint16_t values[kPixelCount], const uint32_t palette[kPaletteSize],
                 uint8_t small[kSmallImageBytes], uint8_t image[kImageBytes]);
