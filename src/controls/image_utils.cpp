#include "controls/image_utils.h"

#include <cstring>

int BitmapToRgb(const QImage& image, uint8_t* rgb, uint8_t* grey) {
    if (image.isNull() || rgb == nullptr) {
        return -1;
    }
    const QImage source = image.convertToFormat(QImage::Format_RGB888);
    const int width = source.width();
    for (int y = 0; y < source.height(); ++y) {
        const uchar* row = source.constScanLine(y);
        uint8_t* out = rgb + static_cast<size_t>(y) * width * 3;
        std::memcpy(out, row, static_cast<size_t>(width) * 3);
        if (grey != nullptr) {
            uint8_t* greyRow = grey + static_cast<size_t>(y) * width;
            for (int x = 0; x < width; ++x) {
                greyRow[x] =
                    static_cast<uint8_t>((row[3 * x] + row[3 * x + 1] + row[3 * x + 2]) / 3);
            }
        }
    }
    return 0;
}

QImage RgbToBitmap(const uint8_t* rgb, int width, int height) {
    if (rgb == nullptr || width <= 0 || height <= 0) {
        return {};
    }
    QImage image(width, height, QImage::Format_RGB888);
    for (int y = 0; y < height; ++y) {
        std::memcpy(image.scanLine(y), rgb + static_cast<size_t>(y) * width * 3,
                    static_cast<size_t>(width) * 3);
    }
    return image;
}
