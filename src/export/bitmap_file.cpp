#include "export/bitmap_file.h"

#include <algorithm>

#include "export/atomic_file.h"

namespace {

constexpr uint32_t kFileHeaderBytes = 14;
constexpr uint32_t kInfoHeaderBytes = 40;
constexpr uint32_t kGreyPaletteEntries = 256;

void Put16(std::vector<uint8_t>& out, std::size_t at, uint32_t value) {
    out[at] = static_cast<uint8_t>(value);
    out[at + 1] = static_cast<uint8_t>(value >> 8);
}

void Put32(std::vector<uint8_t>& out, std::size_t at, uint32_t value) {
    Put16(out, at, value & 0xFFFF);
    Put16(out, at + 2, value >> 16);
}

uint32_t RowStride(int width, uint32_t channels) {
    return ((static_cast<uint32_t>(width) * 8 * channels + 31) / 32) * 4;
}

// The file header for an info block and pixel rows of the given sizes.
std::vector<uint8_t> EncodeFileHeader(std::size_t infoBytes, std::size_t rowBytes) {
    const auto pixelOffset = static_cast<uint32_t>(kFileHeaderBytes + infoBytes);
    std::vector<uint8_t> header(kFileHeaderBytes, 0);
    Put16(header, 0, 0x4D42);  // "BM"
    Put32(header, 2, pixelOffset + static_cast<uint32_t>(rowBytes));
    Put32(header, 10, pixelOffset);
    return header;
}

}  // namespace

std::vector<uint8_t> EncodeBitmapInfo(int width, int height, bool colour,
                                      int32_t horizontalResolution, int32_t verticalResolution) {
    if (width <= 0 || height <= 0) {
        return {};
    }
    const uint32_t channels = colour ? 3 : 1;
    const uint32_t paletteEntries = colour ? 0 : kGreyPaletteEntries;
    std::vector<uint8_t> info(kInfoHeaderBytes + 4 * paletteEntries, 0);
    Put32(info, 0, kInfoHeaderBytes);
    Put32(info, 4, static_cast<uint32_t>(width));
    Put32(info, 8, static_cast<uint32_t>(height));  // positive: bottom row first
    Put16(info, 12, 1);
    Put16(info, 14, 8 * channels);
    Put32(info, 16, 0);
    Put32(info, 20, RowStride(width, channels) * static_cast<uint32_t>(height));
    Put32(info, 24, static_cast<uint32_t>(horizontalResolution));
    Put32(info, 28, static_cast<uint32_t>(verticalResolution));
    Put32(info, 32, paletteEntries);
    Put32(info, 36, 0);
    for (uint32_t i = 0; i < paletteEntries; ++i) {
        const std::size_t at = kInfoHeaderBytes + 4 * i;
        info[at] = info[at + 1] = info[at + 2] = static_cast<uint8_t>(i);
    }
    return info;
}

std::vector<uint8_t> EncodeBitmapRows(const uint8_t* image, int width, int height, bool colour) {
    if (image == nullptr || width <= 0 || height <= 0) {
        return {};
    }
    const uint32_t channels = colour ? 3 : 1;
    const uint32_t stride = RowStride(width, channels);
    std::vector<uint8_t> rows(static_cast<std::size_t>(stride) * height, 0);
    for (int i = 0; i < height; ++i) {
        const uint8_t* in = image + static_cast<std::size_t>(i) * width * channels;
        uint8_t* row = rows.data() + static_cast<std::size_t>(height - 1 - i) * stride;
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
    return rows;
}

std::vector<uint8_t> EncodeBitmapFile(const uint8_t* image, int width, int height, bool colour,
                                      int32_t horizontalResolution, int32_t verticalResolution) {
    std::vector<uint8_t> rows = EncodeBitmapRows(image, width, height, colour);
    if (rows.empty()) {
        return {};
    }
    const std::vector<uint8_t> info =
        EncodeBitmapInfo(width, height, colour, horizontalResolution, verticalResolution);
    std::vector<uint8_t> out = EncodeFileHeader(info.size(), rows.size());
    out.reserve(out.size() + info.size() + rows.size());
    out.insert(out.end(), info.begin(), info.end());
    out.insert(out.end(), rows.begin(), rows.end());
    return out;
}

bool WriteBitmapFile(const std::string& path, const std::vector<uint8_t>& info,
                     const std::vector<uint8_t>& rows, std::string* error) {
    std::vector<uint8_t> bytes = EncodeFileHeader(info.size(), rows.size());
    bytes.reserve(bytes.size() + info.size() + rows.size());
    bytes.insert(bytes.end(), info.begin(), info.end());
    bytes.insert(bytes.end(), rows.begin(), rows.end());
    return WriteFileAtomically(path, bytes.data(), bytes.size(), error);
}

int SaveBitmapFile(const uint8_t* image, int width, int height, int channels,
                   const std::string& path, int32_t horizontalResolution,
                   int32_t verticalResolution, std::string* error) {
    if (image == nullptr) {
        return kBitmapNullBuffer;
    }
    if (channels != 1 && channels != 3) {
        return kBitmapBadChannels;
    }
    const bool colour = channels == 3;
    const std::vector<uint8_t> rows = EncodeBitmapRows(image, width, height, colour);
    if (rows.empty()) {
        if (error != nullptr) {
            *error = "cannot write '" + path + "': the picture has no pixels";
        }
        return kBitmapWriteFailed;
    }
    const std::vector<uint8_t> info =
        EncodeBitmapInfo(width, height, colour, horizontalResolution, verticalResolution);
    return WriteBitmapFile(path, info, rows, error) ? kBitmapSaved : kBitmapWriteFailed;
}
