#pragma once
// PNG pictures of display images (`thermal convert --frames DIR --png`), through libpng.
#include <cstdint>
#include <string>

#include "platform/status.h"

// Writes a top-down image of width x height pixels, 3 bytes red, green, blue each, as a PNG
// file at `path`, through a temporary file renamed over it once complete. On failure nothing is
// left at `path` that was not there before.
Status SavePngFile(const uint8_t* image, int width, int height, const std::string& path);
