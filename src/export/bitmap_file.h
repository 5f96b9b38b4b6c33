#pragma once
// Writer of uncompressed BMP files (24-bit colour or 8-bit grey with a grey palette, rows stored
// bottom-up) for picture snapshots and `thermal convert --frames`. The encoder is a pure
// function; SaveBitmapFile adds the file. Any thread.
#include <cstdint>
#include <string>
#include <vector>

// Result codes of SaveBitmapFile.
inline constexpr int kBitmapSaved = 0;
inline constexpr int kBitmapNullBuffer = -1;
inline constexpr int kBitmapBadChannels = -2;
inline constexpr int kBitmapWriteFailed = -3;  // the file could not be created or written

// The complete file of a top-down image of width x height pixels, 3 bytes red, green, blue each
// when `colour` is set, else 1 grey byte each. Resolutions are pixels per metre (0: unspecified).
// Empty for a null buffer or a size of 0 or less.
std::vector<uint8_t> EncodeBitmapFile(const uint8_t* image, int width, int height, bool colour,
                                      int32_t horizontalResolution, int32_t verticalResolution);

// Writes EncodeBitmapFile's bytes to `path`, through a temporary file that is renamed over the
// path once complete, so a failure never leaves a truncated picture behind. `channels` is 3 or 1.
// Returns one of the codes above.
int SaveBitmapFile(const uint8_t* image, int width, int height, int channels,
                   const std::string& path, int32_t horizontalResolution,
                   int32_t verticalResolution);
