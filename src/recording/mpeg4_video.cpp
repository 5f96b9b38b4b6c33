#include "recording/mpeg4_video.h"

#include <algorithm>
#include <cctype>

#include "recording/avi_format.h"

namespace {

constexpr uint8_t kPictureStartCode = 0xB6;
constexpr int kShapeRectangular = 0;
constexpr int kAspectRatioExtended = 15;

// Bits of a byte string from the most significant bit of its first byte on; zeros past its end.
class BitReader {
  public:
    BitReader(const uint8_t* bytes, std::size_t count, std::size_t bitPosition)
        : m_bytes(bytes), m_count(count), m_position(bitPosition) {}
    uint32_t Get(int bits) {
        uint32_t value = 0;
        for (int i = 0; i < bits; ++i, ++m_position) {
            const std::size_t byte = m_position / 8;
            const uint32_t bit = byte < m_count ? (m_bytes[byte] >> (7 - m_position % 8)) & 1u : 0u;
            value = value << 1 | bit;
        }
        return value;
    }

  private:
    const uint8_t* m_bytes;
    std::size_t m_count;
    std::size_t m_position;
};

// The number of bits of `value` (0 for 0).
int BitLength(uint32_t value) {
    int bits = 0;
    for (; value != 0; value >>= 1) {
        ++bits;
    }
    return bits;
}

// The fields of a video object layer header up to its size, after the start code at `at`
// (ISO/IEC 14496-2 6.2.3), as xvidcore's BitstreamReadHeaders reads them. Nullopt for a shape
// that is not rectangular, which states no size.
std::optional<Mpeg4LayerSize> LayerSizeAt(const uint8_t* bytes, std::size_t count, std::size_t at) {
    BitReader bits(bytes, count, (at + 4) * 8);
    bits.Get(1);             // random_accessible_vol
    bits.Get(8);             // video_object_type_indication
    if (bits.Get(1) != 0) {  // is_object_layer_identifier
        bits.Get(4 + 3);     // verid, priority
    }
    if (bits.Get(4) == kAspectRatioExtended) {
        bits.Get(8 + 8);  // par_width, par_height
    }
    if (bits.Get(1) != 0) {      // vol_control_parameters
        bits.Get(2 + 1);         // chroma_format, low_delay
        if (bits.Get(1) != 0) {  // vbv_parameters
            bits.Get(15 + 1 + 15 + 1 + 15 + 1 + 3 + 11 + 1 + 15 + 1);
        }
    }
    if (static_cast<int>(bits.Get(2)) != kShapeRectangular) {
        return std::nullopt;
    }
    bits.Get(1);  // marker
    const uint32_t resolution = bits.Get(16);
    const int incrementBits = resolution > 0 ? std::max(BitLength(resolution - 1), 1) : 1;
    bits.Get(1);             // marker
    if (bits.Get(1) != 0) {  // fixed_vop_rate
        bits.Get(incrementBits);
    }
    bits.Get(1);  // marker
    Mpeg4LayerSize size;
    size.width = static_cast<int>(bits.Get(13));
    bits.Get(1);  // marker
    size.height = static_cast<int>(bits.Get(13));
    return size;
}

uint32_t Upper(uint32_t fourCc) {
    uint32_t out = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        const auto c = static_cast<unsigned char>(fourCc >> shift);
        out |= static_cast<uint32_t>(std::toupper(c)) << shift;
    }
    return out;
}

}  // namespace

bool IsMpeg4Part2FourCc(uint32_t fourCc) {
    const uint32_t upper = Upper(fourCc);
    for (uint32_t known : {MakeFourCc('X', 'V', 'I', 'D'), MakeFourCc('D', 'I', 'V', 'X'),
                           MakeFourCc('D', 'X', '5', '0'), MakeFourCc('F', 'M', 'P', '4'),
                           MakeFourCc('M', 'P', '4', 'V'), MakeFourCc('M', '4', 'S', '2'),
                           MakeFourCc('M', 'P', '4', 'S')}) {
        if (upper == known) {
            return true;
        }
    }
    return false;
}

std::optional<Mpeg4LayerSize> FirstOtherLayerSize(const uint8_t* bytes, std::size_t count,
                                                  int width, int height) {
    for (std::size_t i = 0; i + 4 <= count; ++i) {
        if (bytes[i] == 0 && bytes[i + 1] == 0 && bytes[i + 2] == 1 &&
            (bytes[i + 3] & 0xF0) == 0x20) {
            const std::optional<Mpeg4LayerSize> size = LayerSizeAt(bytes, count, i);
            if (size && (size->width != width || size->height != height)) {
                return size;
            }
        }
    }
    return std::nullopt;
}

std::optional<Mpeg4PictureType> FirstPictureType(const uint8_t* bytes, std::size_t count) {
    // The two bits after the start code are the coding type.
    for (std::size_t i = 0; i + 4 < count; ++i) {
        if (bytes[i] == 0 && bytes[i + 1] == 0 && bytes[i + 2] == 1 &&
            bytes[i + 3] == kPictureStartCode) {
            return static_cast<Mpeg4PictureType>(bytes[i + 4] >> 6);
        }
    }
    return std::nullopt;
}
