#pragma once
// PNG pictures of display images for `thermal convert --frames DIR --png`, through libpng.
#include <cstdint>
#include <string>

// Writes a top-down image of width x height pixels, 3 bytes red, green, blue each, as a PNG
// file at `path`, through a temporary file renamed over it once complete. Returns false with
// `error` set; nothing is left at `path` that was not there before.
bool SavePngFile(const uint8_t* image, int width, int height, const std::string& path,
                 std::string& error);
