#include "processing/image_scaling.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <utility>
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

namespace {

constexpr int kSmallRowBytes = kFrameColumns * 3;
constexpr int kImageRowBytes = kImageWidth * 3;
// Every smoothed pixel is 5 display pixels wide and high, every small pixel 10.
constexpr int kBlockPixels = kImageWidth / kSmoothWidth;
constexpr int kBlockBytes = kBlockPixels * 3;
// Rows are assembled with 8-byte words; the last word of a row and the last pixel read reach up
// to this many bytes past their ends.
constexpr int kSlack = 8;
static_assert(std::endian::native == std::endian::little, "pixels are read as little-endian words");
static_assert(kBlockPixels * kSmoothWidth == kImageWidth &&
              kBlockPixels * kSmoothHeight == kImageHeight);

uint64_t Load64(const uint8_t* bytes) {
    uint64_t word;
    std::memcpy(&word, bytes, sizeof word);
    return word;
}

void Store64(uint8_t* bytes, uint64_t word) {
    std::memcpy(bytes, &word, sizeof word);
}

// Bytewise (a + b) >> 1 of eight bytes at once: the truncated mean of the bilinear step with a
// fraction of one half, without a carry crossing into the neighbouring byte.
uint64_t HalfSum(uint64_t a, uint64_t b) {
    return (a & b) + (((a ^ b) & 0xFEFEFEFEFEFEFEFEull) >> 1);
}

// Writes `times` runs of five copies of the pixel `rgb` (red in the low byte) and returns the
// end. Each run is 15 bytes written as two 8-byte words; the second word spills one byte into
// the next run, which overwrites it.
uint8_t* PutRuns(uint8_t* out, uint64_t rgb, int times) {
    const uint64_t first = rgb * 0x0001000001000001ull;  // r g b r g b r g
    const uint64_t shifted = first >> 16;                // b r g b r g
    const uint64_t second = shifted | (shifted << 48);   // b r g b r g b r
    for (int i = 0; i < times; ++i) {
        Store64(out, first);
        Store64(out + 8, second);
        out += kBlockBytes;
    }
    return out;
}

// One display row of a small-image row without smoothing: every pixel ten times.
void ExpandPlainRow(const uint8_t* row, uint8_t* out) {
    for (int c = 0; c < kFrameColumns; ++c) {
        out = PutRuns(out, Load64(row + 3 * c) & 0xFFFFFF, 2);
    }
}

// One display row of a small-image row smoothed along x: pixel c, then the truncated mean of
// pixels c and c + 1 (the last pixel is its own neighbour), each five times.
void ExpandSmoothedRow(const uint8_t* row, uint8_t* out) {
    for (int c = 0; c < kFrameColumns; ++c) {
        const uint64_t pixel = Load64(row + 3 * c);
        const uint64_t right = c + 1 < kFrameColumns ? pixel >> 24 : pixel;
        out = PutRuns(out, pixel & 0xFFFFFF, 1);
        out = PutRuns(out, HalfSum(pixel, right) & 0xFFFFFF, 1);
    }
}

// Sixteen bytes of a display row, held in one vector register while they are stored to every
// display row that repeats them.
using Chunk = uint64_t __attribute__((vector_size(16)));
static_assert(kImageRowBytes % sizeof(Chunk) == 0);

Chunk LoadChunk(const uint8_t* bytes) {
    Chunk chunk;
    std::memcpy(&chunk, bytes, sizeof chunk);
    return chunk;
}

void StoreChunk(uint8_t* bytes, Chunk chunk) {
    std::memcpy(bytes, &chunk, sizeof chunk);
}

// Hides where a chunk came from. Otherwise the compiler sees rows of plain copies and turns the
// stores back into one row copy after another (rep movs), which reads every byte it writes.
Chunk Opaque(Chunk chunk) {
#if defined(__GNUC__) && defined(__SSE2__)
    __asm__("" : "+x"(chunk));
#endif
    return chunk;
}

// Stores `chunk` at the same place of display rows 0, 1, ... from `out`, spelled out so that
// every optimisation level keeps one store per row without a loop around it.
template <int... kRows>
void StoreToRows(uint8_t* out, Chunk chunk, std::integer_sequence<int, kRows...>) {
    (StoreChunk(out + kRows * kImageRowBytes, chunk), ...);
}

// Writes `row` to the kCount display rows from `out` on. Each chunk is loaded once and stored
// kCount times: copying a finished row again and again reads as many bytes as it writes.
template <int kCount>
void SpreadRow(const uint8_t* row, uint8_t* out) {
    for (int i = 0; i < kImageRowBytes; i += static_cast<int>(sizeof(Chunk))) {
        StoreToRows(out + i, Opaque(LoadChunk(row + i)), std::make_integer_sequence<int, kCount>{});
    }
}

// Interpolation off: the ResampleNearest result for 32 x 31 -> 320 x 310.
void EnlargePlain(const uint8_t* small, uint8_t* image) {
    alignas(16) uint8_t source[kSmallRowBytes + kSlack] = {};
    alignas(16) uint8_t rows[2][kImageRowBytes + kSlack];
    std::memcpy(source, small, kSmallRowBytes);
    ExpandPlainRow(source, rows[0]);
    for (int r = 0; r < kFrameRows; ++r) {
        // The next row is assembled before this one is copied, so the copies read bytes whose
        // stores have long completed rather than stalling on them.
        if (r + 1 < kFrameRows) {
            std::memcpy(source, small + (r + 1) * kSmallRowBytes, kSmallRowBytes);
            ExpandPlainRow(source, rows[(r + 1) & 1]);
        }
        SpreadRow<2 * kBlockPixels>(rows[r & 1], image + 2 * kBlockPixels * r * kImageRowBytes);
    }
}

// Interpolation on. Smoothed row 2r is small row r smoothed along x; smoothed row 2r + 1 is the
// truncated mean of smoothed rows 2r and 2r + 2 (the last row is its own neighbour). Enlarging
// only repeats bytes, so that mean can be taken over the enlarged rows directly.
void EnlargeSmoothed(const uint8_t* small, uint8_t* image) {
    alignas(16) uint8_t source[kSmallRowBytes + kSlack] = {};
    // Rows are assembled two ahead of their use: the 16-byte loads below would stall on the
    // 8-byte stores of a row assembled just before.
    alignas(16) uint8_t rows[3][kImageRowBytes + kSlack];
    auto expand = [&source, &rows, small](int r) {
        std::memcpy(source, small + r * kSmallRowBytes, kSmallRowBytes);
        ExpandSmoothedRow(source, rows[r % 3]);
    };
    expand(0);
    expand(1);
    const Chunk halfMask = {0xFEFEFEFEFEFEFEFEull, 0xFEFEFEFEFEFEFEFEull};
    for (int r = 0; r < kFrameRows; ++r) {
        if (r + 2 < kFrameRows) {
            expand(r + 2);
        }
        const uint8_t* current = rows[r % 3];
        const uint8_t* next = r + 1 < kFrameRows ? rows[(r + 1) % 3] : current;
        // Five copies of the smoothed row, then five of its mean with the next one, taken in
        // registers chunk by chunk (HalfSum on two words at once).
        uint8_t* out = image + static_cast<std::size_t>(2 * kBlockPixels * r) * kImageRowBytes;
        for (int i = 0; i < kImageRowBytes; i += static_cast<int>(sizeof(Chunk))) {
            const Chunk a = Opaque(LoadChunk(current + i));
            const Chunk b = LoadChunk(next + i);
            const Chunk mean = (a & b) + (((a ^ b) & halfMask) >> 1);
            StoreToRows(out + i, a, std::make_integer_sequence<int, kBlockPixels>{});
            StoreToRows(out + kBlockPixels * kImageRowBytes + i, mean,
                        std::make_integer_sequence<int, kBlockPixels>{});
        }
    }
}

}  // namespace

void BuildDisplayImage(const uint8_t small[kSmallImageBytes], bool interpolate,
                       uint8_t image[kImageBytes]) {
    if (interpolate) {
        EnlargeSmoothed(small, image);
    } else {
        EnlargePlain(small, image);
    }
}

void DisplayImageToBgr(const uint8_t rgb[kImageBytes], uint8_t bgr[kImageBytes]) {
    for (int i = 0; i < kImageBytes; i += 3) {
        bgr[i] = rgb[i + 2];
        bgr[i + 1] = rgb[i + 1];
        bgr[i + 2] = rgb[i];
    }
}
