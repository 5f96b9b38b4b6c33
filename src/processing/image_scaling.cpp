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
    // Consecutive destination columns that share a source column form a run; enlarging gives runs
    // of 10 or 5 pixels, which are filled with 12-byte moves of four pixels at a time.
    struct Run {
        int srcOffset;
        int length;
    };
    std::vector<Run> runs;
    for (int k = 0; k < dstWidth; ++k) {
        const int offset =
            static_cast<int>(static_cast<int64_t>(srcWidth) * k / dstWidth) * pixelBytes;
        if (!runs.empty() && runs.back().srcOffset == offset) {
            ++runs.back().length;
        } else {
            runs.push_back({offset, 1});
        }
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
        for (const Run& run : runs) {
            if (colour) {
                const uint8_t* pixel = in + run.srcOffset;
                // Four pixels as one 8-byte and one 4-byte word built in registers; writing
                // them byte by byte and copying would stall on store forwarding.
                const uint64_t rgb = pixel[0] | (pixel[1] << 8) | (pixel[2] << 16);
                const uint64_t low = rgb | (rgb << 24) | (rgb << 48);
                const uint32_t high = static_cast<uint32_t>((rgb >> 16) | (rgb << 8));
                int left = run.length;
                for (; left >= 4; left -= 4) {
                    std::memcpy(out, &low, 8);
                    std::memcpy(out + 8, &high, 4);
                    out += 12;
                }
                for (; left > 0; --left) {
                    out[0] = pixel[0];
                    out[1] = pixel[1];
                    out[2] = pixel[2];
                    out += 3;
                }
            } else {
                std::memset(out, in[run.srcOffset], static_cast<std::size_t>(run.length));
                out += run.length;
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
    // Every destination row blends the same two horizontally interpolated source rows, so each
    // source row is interpolated along x once; the byte truncation after that step is kept.
    const std::size_t rowBytes = static_cast<std::size_t>(dstColumns) * 3;
    std::vector<uint8_t> horizontal(rowBytes * srcRows);
    for (int r = 0; r < srcRows; ++r) {
        const uint8_t* in = src + static_cast<std::size_t>(r) * srcColumns * 3;
        uint8_t* out = horizontal.data() + rowBytes * r;
        for (int x = 0; x < dstColumns; ++x) {
            const Tap& column = columns[x];
            const uint8_t* left = in + 3 * column.first;
            const uint8_t* right = in + 3 * column.second;
            uint8_t* pixel = out + 3 * x;
            if (column.fraction == 0.0) {
                std::memcpy(pixel, left, 3);
            } else if (column.fraction == 0.5) {
                pixel[0] = static_cast<uint8_t>((left[0] + right[0]) >> 1);
                pixel[1] = static_cast<uint8_t>((left[1] + right[1]) >> 1);
                pixel[2] = static_cast<uint8_t>((left[2] + right[2]) >> 1);
            } else {
                for (int channel = 0; channel < 3; ++channel) {
                    pixel[channel] = Blend(left[channel], right[channel], column.fraction);
                }
            }
        }
    }
    for (int y = 0; y < dstRows; ++y) {
        const Tap& row = rows[y];
        const uint8_t* top = horizontal.data() + rowBytes * row.first;
        const uint8_t* bottom = horizontal.data() + rowBytes * row.second;
        uint8_t* out = dst + rowBytes * y;
        if (row.fraction == 0.0) {
            std::memcpy(out, top, rowBytes);
        } else if (row.fraction == 0.5) {
            for (std::size_t i = 0; i < rowBytes; ++i) {
                out[i] = static_cast<uint8_t>((top[i] + bottom[i]) >> 1);
            }
        } else {
            for (std::size_t i = 0; i < rowBytes; ++i) {
                out[i] = Blend(top[i], bottom[i], row.fraction);
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
