#include "controls/image_stretch.h"

#include <algorithm>
#include <cmath>
#include <cstring>

std::vector<int> StretchIndices(int sourceCount, int targetCount) {
    if (sourceCount <= 0 || targetCount <= 0) {
        return {};
    }
    const double step = static_cast<double>(sourceCount) / targetCount;
    const auto increment = static_cast<uint32_t>(static_cast<int>(65536.0 * step));
    auto position = static_cast<uint32_t>(static_cast<int>(std::ceil(0.5 * step * 65536.0)) - 1);
    std::vector<int> indices(static_cast<size_t>(targetCount));
    for (int& index : indices) {
        index = std::min(static_cast<int>(position >> 16), sourceCount - 1);
        position += increment;
    }
    return indices;
}

void StretchPixels(const uint32_t* source, size_t sourceStride, uint32_t* target,
                   size_t targetStride, std::span<const int> columns, std::span<const int> rows) {
    const size_t width = columns.size();
    const int* column = columns.data();
    for (size_t y = 0; y < rows.size(); ++y) {
        uint32_t* out = target + y * targetStride;
        if (y > 0 && rows[y] == rows[y - 1]) {
            std::memcpy(out, out - targetStride, width * sizeof(uint32_t));
            continue;
        }
        const uint32_t* in = source + static_cast<size_t>(rows[y]) * sourceStride;
        for (size_t x = 0; x < width; ++x) {
            out[x] = in[column[x]];
        }
    }
}
