#pragma once
// Writer of uncompressed BMP files (24-bit colour or 8-bit grey with a grey palette, rows stored
// bottom-up) for picture snapshots and `thermal convert --frames`. The encoders are pure
// functions; WriteBitmapFile and SaveBitmapFile add the file. Any thread.
#include <cstdint>
#include <string>
#include <vector>

// Result codes of SaveBitmapFile.
inline constexpr int kBitmapSaved = 0;
inline constexpr int kBitmapNullBuffer = -1;
inline constexpr int kBitmapBadChannels = -2;
inline constexpr int kBitmapWriteFailed = -3;  // the file could not be created or written

// The 40-byte info header of a width x height image, followed for a grey image by its palette of
// 256 grey entries. Resolutions are pixels per metre (0: unspecified). Empty for a size of 0 or
// less.
std::vector<uint8_t> EncodeBitmapInfo(int width, int height, bool colour,
                                      int32_t horizontalResolution, int32_t verticalResolution);

// The pixel rows of a top-down image of width x height pixels, 3 bytes red, green, blue each when
// `colour` is set, else 1 grey byte each: bottom row first, colour pixels as blue, green, red,
// every row padded to a multiple of 4 bytes. Empty for a null buffer or a size of 0 or less.
std::vector<uint8_t> EncodeBitmapRows(const uint8_t* image, int width, int height, bool colour);

// The complete file: the 14-byte file header, EncodeBitmapInfo and EncodeBitmapRows.
std::vector<uint8_t> EncodeBitmapFile(const uint8_t* image, int width, int height, bool colour,
                                      int32_t horizontalResolution, int32_t verticalResolution);
// The same bytes into `out`, whose memory is reused: a caller writing one picture after another
// of a size allocates once instead of touching fresh pages for every file. `out` is left empty
// where EncodeBitmapFile returns nothing.
void EncodeBitmapFileInto(const uint8_t* image, int width, int height, bool colour,
                          int32_t horizontalResolution, int32_t verticalResolution,
                          std::vector<uint8_t>& out);

// Writes the file header, `info` (the info header with its palette) and `rows` to `path`, through
// a temporary file that is renamed over the path once complete, so a failure never leaves a
// truncated picture behind (an existing file of that name is replaced only by a complete one).
// Returns false if the file could not be written; *error (when given) then names the call and
// the file.
bool WriteBitmapFile(const std::string& path, const std::vector<uint8_t>& info,
                     const std::vector<uint8_t>& rows, std::string* error = nullptr);

// Encodes the image and writes it with WriteBitmapFile. `channels` is 3 or 1. Returns one of the
// codes above; for kBitmapWriteFailed, *error (when given) says why.
int SaveBitmapFile(const uint8_t* image, int width, int height, int channels,
                   const std::string& path, int32_t horizontalResolution,
                   int32_t verticalResolution, std::string* error = nullptr);
