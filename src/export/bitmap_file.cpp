#include "export/bitmap_file.h"

#include <algorithm>

#include "export/atomic_file.h"

namespace {

constexpr uint32_t kFileHeaderBytes = 14;
constexpr uint32_t kInfoHeaderBytes = 40;
constexpr uint32_t kGreyPaletteEntries = 256;

void Put16(uint8_t* out, uint32_t value) {
    out[0] = static_cast<uint8_t>(value);
    out[1] = static_cast<uint8_t>(value >> 8);
}

void Put32(uint8_t* out, uint32_t value) {
    Put16(out, value & 0xFFFF);
    Put16(out + 2, value >> 16);
}

uint32_t RowStride(int width, uint32_t channels) {
    return ((static_cast<uint32_t>(width) * 8 * channels + 31) / 32) * 4;
}

std::size_t InfoBytes(bool colour) {
    return kInfoHeaderBytes + (colour ? 0 : 4 * kGreyPaletteEntries);
}

std::size_t RowBytes(int width, int height, bool colour) {
    return static_cast<std::size_t>(RowStride(width, colour ? 3 : 1)) * height;
}

// The file header for an info block and pixel rows of the given sizes, at `out`.
void PutFileHeader(uint8_t* out, std::size_t infoBytes, std::size_t rowBytes) {
    const auto pixelOffset = static_cast<uint32_t>(kFileHeaderBytes + infoBytes);
    std::fill(out, out + kFileHeaderBytes, 0);
    Put16(out, 0x4D42);  // "BM"
    Put32(out + 2, pixelOffset + static_cast<uint32_t>(rowBytes));
    Put32(out + 10, pixelOffset);
}

std::vector<uint8_t> EncodeFileHeader(std::size_t infoBytes, std::size_t rowBytes) {
    std::vector<uint8_t> header(kFileHeaderBytes);
    PutFileHeader(header.data(), infoBytes, rowBytes);
    return header;
}

// The info header (and palette) of InfoBytes(colour) bytes at `out`.
void PutInfo(uint8_t* out, int width, int height, bool colour, int32_t horizontalResolution,
             int32_t verticalResolution) {
    const uint32_t channels = colour ? 3 : 1;
    const uint32_t paletteEntries = colour ? 0 : kGreyPaletteEntries;
    Put32(out, kInfoHeaderBytes);
    Put32(out + 4, static_cast<uint32_t>(width));
    Put32(out + 8, static_cast<uint32_t>(height));  // positive: bottom row first
    Put16(out + 12, 1);
    Put16(out + 14, 8 * channels);
    Put32(out + 16, 0);
    Put32(out + 20, RowStride(width, channels) * static_cast<uint32_t>(height));
    Put32(out + 24, static_cast<uint32_t>(horizontalResolution));
    Put32(out + 28, static_cast<uint32_t>(verticalResolution));
    Put32(out + 32, paletteEntries);
    Put32(out + 36, 0);
    for (uint32_t i = 0; i < paletteEntries; ++i) {
        uint8_t* entry = out + kInfoHeaderBytes + 4 * i;
        entry[0] = entry[1] = entry[2] = static_cast<uint8_t>(i);
        entry[3] = 0;
    }
}

// Sanitizer runtimes start after the loader has picked the clones below (an ifunc resolver
// runs during relocation), so those builds keep the plain loop.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define THERMAL_BITMAP_PLAIN_LOOP 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define THERMAL_BITMAP_PLAIN_LOOP 1
#endif
#endif

// Every byte of every picture of `thermal convert --frames` passes through this swap, the
// largest part of the work that is not the file system's. With AVX2 the compiler's vectorised
// copy of the loop takes about half the time of the plain one; the processor picks at load time.
#if defined(__GNUC__) && defined(__x86_64__) && defined(__linux__) && \
    !defined(THERMAL_BITMAP_PLAIN_LOOP)
__attribute__((target_clones("default", "avx2")))
#endif
void PutColourRow(const uint8_t* in, int width, uint8_t* row) {
    for (int x = 0; x < width; ++x) {
        row[3 * x] = in[3 * x + 2];
        row[3 * x + 1] = in[3 * x + 1];
        row[3 * x + 2] = in[3 * x];
    }
}

// The RowBytes(width, height, colour) bytes of pixel rows at `out`, padding included.
void PutRows(const uint8_t* image, int width, int height, bool colour, uint8_t* out) {
    const uint32_t channels = colour ? 3 : 1;
    const uint32_t stride = RowStride(width, channels);
    const std::size_t used = static_cast<std::size_t>(width) * channels;
    for (int i = 0; i < height; ++i) {
        const uint8_t* in = image + static_cast<std::size_t>(i) * used;
        uint8_t* row = out + static_cast<std::size_t>(height - 1 - i) * stride;
        if (colour) {
            PutColourRow(in, width, row);
        } else {
            std::copy(in, in + width, row);
        }
        std::fill(row + used, row + stride, 0);
    }
}

}  // namespace

std::vector<uint8_t> EncodeBitmapInfo(int width, int height, bool colour,
                                      int32_t horizontalResolution, int32_t verticalResolution) {
    if (width <= 0 || height <= 0) {
        return {};
    }
    std::vector<uint8_t> info(InfoBytes(colour));
    PutInfo(info.data(), width, height, colour, horizontalResolution, verticalResolution);
    return info;
}

std::vector<uint8_t> EncodeBitmapRows(const uint8_t* image, int width, int height, bool colour) {
    if (image == nullptr || width <= 0 || height <= 0) {
        return {};
    }
    std::vector<uint8_t> rows(RowBytes(width, height, colour));
    PutRows(image, width, height, colour, rows.data());
    return rows;
}

std::vector<uint8_t> EncodeBitmapFile(const uint8_t* image, int width, int height, bool colour,
                                      int32_t horizontalResolution, int32_t verticalResolution) {
    std::vector<uint8_t> out;
    EncodeBitmapFileInto(image, width, height, colour, horizontalResolution, verticalResolution,
                         out);
    return out;
}

void EncodeBitmapFileInto(const uint8_t* image, int width, int height, bool colour,
                          int32_t horizontalResolution, int32_t verticalResolution,
                          std::vector<uint8_t>& out) {
    if (image == nullptr || width <= 0 || height <= 0) {
        out.clear();
        return;
    }
    const std::size_t infoBytes = InfoBytes(colour);
    const std::size_t rowBytes = RowBytes(width, height, colour);
    out.resize(kFileHeaderBytes + infoBytes + rowBytes);
    PutFileHeader(out.data(), infoBytes, rowBytes);
    PutInfo(out.data() + kFileHeaderBytes, width, height, colour, horizontalResolution,
            verticalResolution);
    PutRows(image, width, height, colour, out.data() + kFileHeaderBytes + infoBytes);
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
