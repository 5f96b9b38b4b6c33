#pragma once
// Conversions between Qt images and the plain top-down RGB buffers (3 bytes per pixel: red,
// green, blue; no row padding) that the display image and the start-up logos use. Pure
// functions, safe on any thread; the nearest-neighbour resize lives with the frame processing.
#include <QImage>
#include <cstdint>
#include <string>
#include <vector>

// Reads image into rgb (width x height x 3 bytes, top-down) and, if grey is not null, into grey
// (1 byte per pixel, the mean of red, green and blue). Returns 0, or -1 if the image holds no
// pixels.
int BitmapToRgb(const QImage& image, uint8_t* rgb, uint8_t* grey);

// A new image of width x height pixels holding the top-down RGB buffer rgb. The caller owns
// the result; a null buffer or an empty size gives a null image.
QImage RgbToBitmap(const uint8_t* rgb, int width, int height);

// The picture fileName from the program directory appDir or the user's configuration folder (the
// name matched without regard to case, FindProgramFile), fitted into width x height without
// changing its aspect ratio and centred on white, as a top-down RGB buffer. Empty if the file is
// missing or not a picture.
std::vector<uint8_t> LoadFittedLogo(const std::string& appDir, const char* fileName, int width,
                                    int height);
