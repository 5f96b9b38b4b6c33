#pragma once
// The minimum and maximum markers of the display image and the mirroring of the small colour
// image that moves them along. Pure functions, any thread; the frame pipeline calls them on its
// processing thread.
#include <cstdint>

#include "processing/image_scaling.h"

// A sensor pixel of the 32 x 31 grid; on the display image it covers a 10 x 10 block.
struct MarkerCell {
    int column = 0;
    int row = 0;
    bool operator==(const MarkerCell&) const = default;
};

inline constexpr int kMirrorNone = 0;
inline constexpr int kMirrorX = 1;  // left and right swapped
inline constexpr int kMirrorY = 2;  // top and bottom swapped
inline constexpr int kMirrorBoth = 3;

// Mirrors the 32 x 31 image and both marker cells so the markers stay on their pixels. Any mode
// other than 1 to 3 leaves everything unchanged.
void MirrorSmallImage(int mode, uint8_t small[kSmallImageBytes], MarkerCell& minCell,
                      MarkerCell& maxCell);

// Draws a black and white cross on the maximum cell, then a black and white square outline on
// the minimum cell (over the cross when both share a cell) into the 320 x 310 image. Cells
// outside the grid are ignored.
void DrawMarkers(uint8_t image[kImageBytes], MarkerCell minCell, MarkerCell maxCell);
