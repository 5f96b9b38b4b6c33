#include "controls/image_utils.h"

#include <algorithm>
#include <cstring>

#include "platform/program_files.h"
#include "processing/image_scaling.h"

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

std::vector<uint8_t> LoadFittedLogo(const std::string& appDir, const char* fileName, int width,
                                    int height) {
    if (width <= 0 || height <= 0) {
        return {};
    }
    const auto path = FindProgramFile(appDir, fileName);
    if (!path) {
        return {};
    }
    const QImage logo(QString::fromStdString(*path));
    if (logo.isNull()) {
        return {};
    }
    const int w = logo.width();
    const int h = logo.height();
    std::vector<uint8_t> source(static_cast<size_t>(w) * h * 3);
    if (BitmapToRgb(logo, source.data(), nullptr) != 0) {
        return {};
    }
    const float scale = static_cast<float>(
        std::min(static_cast<double>(height) / h, static_cast<double>(width) / w));
    const int scaledWidth = std::min(static_cast<int>(w * scale), width);
    const int scaledHeight = std::min(static_cast<int>(h * scale), height);
    if (scaledWidth <= 0 || scaledHeight <= 0) {
        return {};
    }
    std::vector<uint8_t> scaled(static_cast<size_t>(scaledWidth) * scaledHeight * 3);
    ResampleNearest(source.data(), h, w, scaled.data(), scaledHeight, scaledWidth, true);

    std::vector<uint8_t> canvas(static_cast<size_t>(width) * height * 3, 255);
    const int left = (width - scaledWidth) / 2;
    const int top = (height - scaledHeight) / 2;
    for (int y = 0; y < scaledHeight; ++y) {
        std::memcpy(&canvas[(static_cast<size_t>(top + y) * width + left) * 3],
                    &scaled[static_cast<size_t>(y) * scaledWidth * 3],
                    static_cast<size_t>(scaledWidth) * 3);
    }
    return canvas;
}
