#pragma once
// Stretching a 32-bit image over a larger or smaller one without smoothing, the way the image
// control shows the display image on a control of any size. Pure functions, any thread.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

// For each of `targetCount` target pixels, the source pixel (0 to sourceCount - 1) under its
// centre. The steps are those of Qt's raster engine for a scaled drawImage without smoothing
// (16.16 fixed point from the first pixel's centre), so a stretched picture is the very one
// QPainter would draw. Empty for a count of 0 or less.
std::vector<int> StretchIndices(int sourceCount, int targetCount);

// Stretches source (rows sourceStride pixels apart) into target (rows targetStride pixels apart)
// by column and row indices from StretchIndices; their counts give the width and height written.
// A part of a stretched picture is written by passing the matching parts of both index lists.
// A row whose index equals the one above is copied from the row above.
void StretchPixels(const uint32_t* source, size_t sourceStride, uint32_t* target,
                   size_t targetStride, std::span<const int> columns, std::span<const int> rows);
