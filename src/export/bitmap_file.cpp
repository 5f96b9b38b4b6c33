#include "export/bitmap_file.h"

#include <algorithm>

#include "export/atomic_file.h"

namespace {

constexpr uint32_t kFileHeaderBytes = 14;
constexpr uint32_t kInfoHeaderBytes = 40;

void Put16(std::vector<uint8_t>& out, std::size_t at, uint32_t value) {
    out[at] = static_cast<uint8_t>(value);
    out[at + 1] = static_cast<uint8_t>(value >> 8);
}

void Put32(std::vector<uint8_t>& out, std::size_t at, uint32_t value) {
    Put16(out, at, value & 0xFFFF);
    Put16(out, at + 2, value >> 16);
}

}  // namespace

std::vector<uint8_t> EncodeBitmapFile(const uint8_t* image, int width, int height, bool colour,
                                      int32_t horizontalResolution, int32_t verticalResolution) {
    if (image == nullptr || width <= 0 || height <= 0) {
        return {};
    }
    const uint32_t channels = colour ? 3 : 1;
    const uint32_t paletteEntries = colour ? 0 : 256;
    const uint32_t stride = ((static_cast<uint32_t>(width) * 8 * channels + 31) / 32) * 4;
    const uint32_t imageBytes = stride * static_cast<uint32_t>(height);
    const uint32_t pixelOffset = kFileHeaderBytes + kInfoHeaderBytes + 4 * paletteEntries;

    std::vector<uint8_t> out(pixelOffset + imageBytes, 0);
    Put16(out, 0, 0x4D42);  // "BM"
    Put32(out, 2, pixelOffset + imageBytes);
    Put32(out, 10, pixelOffset);
    Put32(out, 14, kInfoHeaderBytes);
    Put32(out, 18, static_cast<uint32_t>(width));
    Put32(out, 22, static_cast<uint32_t>(height));  // positive: bottom row first
    Put16(out, 26, 1);
    Put16(out, 28, 8 * channels);
    Put32(out, 30, 0);
    Put32(out, 34, imageBytes);
    Put32(out, 38, static_cast<uint32_t>(horizontalResolution));
    Put32(out, 42, static_cast<uint32_t>(verticalResolution));
    Put32(out, 46, paletteEntries);
    Put32(out, 50, 0);
    for (uint32_t i = 0; i < paletteEntries; ++i) {
        const std::size_t at = kFileHeaderBytes + kInfoHeaderBytes + 4 * i;
        out[at] = out[at + 1] = out[at + 2] = static_cast<uint8_t>(i);
    }
    for (int i = 0; i < height; ++i) {
        const uint8_t* in = image + static_cast<std::size_t>(i) * width * channels;
        uint8_t* row = out.data() + pixelOffset + static_cast<std::size_t>(height - 1 - i) * stride;
        if (colour) {
            for (int x = 0; x < width; ++x) {
                row[3 * x] = in[3 * x + 2];
                row[3 * x + 1] = in[3 * x + 1];
                row[3 * x + 2] = in[3 * x];
            }
        } else {
            std::copy(in, in + width, row);
        }
    }
    return out;
}

int SaveBitmapFile(const uint8_t* image, int width, int height, int channels,
                   const std::string& path, int32_t horizontalResolution,
                   int32_t verticalResolution) {
    if (image == nullptr) {
        return kBitmapNullBuffer;
    }
    if (channels != 1 && channels != 3) {
        return kBitmapBadChannels;
    }
    const std::vector<uint8_t> bytes = EncodeBitmapFile(image, width, height, channels == 3,
                                                        horizontalResolution, verticalResolution);
    if (bytes.empty() || !WriteFileAtomically(path, bytes.data(), bytes.size())) {
        return kBitmapWriteFailed;
    }
    return kBitmapSaved;
}
