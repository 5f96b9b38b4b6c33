#pragma once
// Enlarging the 32 x 31 colour image of a frame into the 320 x 310 display image: nearest-
// neighbour resampling and the bilinear smoothing step. Images are top-down, tightly packed,
// 3 bytes per pixel (red, green, blue) unless a function says otherwise. Pure functions, any
// thread; the frame pipeline calls them on its processing thread.
#include <cstdint>

#include "frame/frame_block.h"

inline constexpr int kSmallImageBytes = kPixelCount * 3;  // 32 x 31 x 3
inline constexpr int kImageWidth = 320;
inline constexpr int kImageHeight = 310;
inline constexpr int kImageBytes = kImageWidth * kImageHeight * 3;  // 297,600
inline constexpr int kSmoothWidth = 64;
inline constexpr int kSmoothHeight = 62;

// Nearest-neighbour resize: destination column k takes source column srcWidth * k / dstWidth and
// row j source row srcHeight * j / dstHeight (integer division). 3 bytes per pixel when `colour`
// is set, else 1. Does nothing for null buffers or a destination dimension of 0 or less.
void ResampleNearest(const uint8_t* src, int srcHeight, int srcWidth, uint8_t* dst, int dstHeight,
                     int dstWidth, bool colour);

// Bilinear enlargement of a 3-byte image. Each channel is interpolated along the row, truncated
// to a byte, then between the two rows and truncated again. The double truncation is part of the
// display image's definition, so that images stay comparable with snapshots already saved.
void BilinearEnlarge(const uint8_t* src, int srcRows, int srcColumns, uint8_t* dst, int dstRows,
                     int dstColumns);

// The display image from the 32 x 31 image in one pass. Without `interpolate` each small pixel
// becomes a 10 x 10 block, as ResampleNearest from 32 x 31 gives; with it the result is byte for
// byte that of BilinearEnlarge to 64 x 62 followed by ResampleNearest to 320 x 310 (each smoothed
// pixel a 5 x 5 block), without building the 64 x 62 image.
void BuildDisplayImage(const uint8_t small[kSmallImageBytes], bool interpolate,
                       uint8_t image[kImageBytes]);

// The display image (red, green, blue) in the blue, green, red order the video encoder takes.
void DisplayImageToBgr(const uint8_t rgb[kImageBytes], uint8_t bgr[kImageBytes]);
