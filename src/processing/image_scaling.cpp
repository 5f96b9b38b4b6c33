#include "processing/image_scaling.h"

#include <cmath>
#include <cstring>
#include <vector>

namespace {

// How a destination position lies between its two source neighbours.
struct Tap {
    int first;
    int second;
    double fraction;
};

std::vector<Tap> Taps(int srcSize, int dstSize) {
    const double scale = static_cast<double>(srcSize) / dstSize;
    std::vector<Tap> taps(dstSize);
    for (int i = 0; i < dstSize; ++i) {
        const double position = i * scale;
        const int first = static_cast<int>(std::floor(position));
        const int second = first + 1 < srcSize ? first + 1 : first;
        taps[i] = {first, second, position - first};
    }
    return taps;
}

// (1 - f) * a + f * b truncated to a byte. For the two fractions the display actually uses, 0
// and one half, the double result is exact and the integer forms below give the same bytes.
uint8_t Blend(uint8_t a, uint8_t b, double fraction) {
    if (fraction == 0.0) {
        return a;
    }
    if (fraction == 0.5) {
        return static_cast<uint8_t>((a + b) >> 1);
    }
    return static_cast<uint8_t>(static_cast<int>((1.0 - fraction) * a + fraction * b));
}

}  // namespace

void ResampleNearest(const uint8_t* src, int srcHeight, int srcWidth, uint8_t* dst, int dstHeight,
                     int dstWidth, bool colour) {
    if (src == nullptr || dst == nullptr || dstHeight <= 0 || dstWidth <= 0 || srcHeight <= 0 ||
        srcWidth <= 0) {
        return;
    }
    const int pixelBytes = colour ? 3 : 1;
    const std::size_t dstRowBytes = static_cast<std::size_t>(dstWidth) * pixelBytes;
    if (srcHeight == dstHeight && srcWidth == dstWidth) {
        std::memcpy(dst, src, dstRowBytes * dstHeight);
        return;
    }
    std::vector<int> columnOffsets(dstWidth);
    for (int k = 0; k < dstWidth; ++k) {
        columnOffsets[k] =
            static_cast<int>(static_cast<int64_t>(srcWidth) * k / dstWidth) * pixelBytes;
    }
    int previousRow = -1;
    for (int j = 0; j < dstHeight; ++j) {
        uint8_t* out = dst + dstRowBytes * j;
        const int srcRow = static_cast<int>(static_cast<int64_t>(srcHeight) * j / dstHeight);
        if (srcRow == previousRow) {
            // Enlarging repeats whole rows; copying the finished row is far cheaper.
            std::memcpy(out, out - dstRowBytes, dstRowBytes);
            continue;
        }
        previousRow = srcRow;
        const uint8_t* in = src + static_cast<std::size_t>(srcRow) * srcWidth * pixelBytes;
        if (colour) {
            for (int k = 0; k < dstWidth; ++k) {
                std::memcpy(out + 3 * k, in + columnOffsets[k], 3);
            }
        } else {
            for (int k = 0; k < dstWidth; ++k) {
                out[k] = in[columnOffsets[k]];
            }
        }
    }
}

void BilinearEnlarge(const uint8_t* src, int srcRows, int srcColumns, uint8_t* dst, int dstRows,
                     int dstColumns) {
    if (src == nullptr || dst == nullptr || srcRows <= 0 || srcColumns <= 0 || dstRows <= 0 ||
        dstColumns <= 0) {
        return;
    }
    const std::vector<Tap> columns = Taps(srcColumns, dstColumns);
    const std::vector<Tap> rows = Taps(srcRows, dstRows);
    for (int y = 0; y < dstRows; ++y) {
        const Tap& row = rows[y];
        const uint8_t* upper = src + static_cast<std::size_t>(row.first) * srcColumns * 3;
        const uint8_t* lower = src + static_cast<std::size_t>(row.second) * srcColumns * 3;
        uint8_t* out = dst + static_cast<std::size_t>(y) * dstColumns * 3;
        for (int x = 0; x < dstColumns; ++x) {
            const Tap& column = columns[x];
            const int left = 3 * column.first;
            const int right = 3 * column.second;
            for (int channel = 0; channel < 3; ++channel) {
                const uint8_t top =
                    Blend(upper[left + channel], upper[right + channel], column.fraction);
                const uint8_t bottom =
                    Blend(lower[left + channel], lower[right + channel], column.fraction);
                out[3 * x + channel] = Blend(top, bottom, row.fraction);
            }
        }
    }
}

void BuildDisplayImage(const uint8_t small[kSmallImageBytes], bool interpolate, uint8_t* smooth,
                       uint8_t image[kImageBytes]) {
    if (interpolate) {
        BilinearEnlarge(small, kFrameRows, kFrameColumns, smooth, kSmoothHeight, kSmoothWidth);
        ResampleNearest(smooth, kSmoothHeight, kSmoothWidth, image, kImageHeight, kImageWidth,
                        true);
    } else {
        ResampleNearest(small, kFrameRows, kFrameColumns, image, kImageHeight, kImageWidth, true);
    }
}
