#include "recording/mpeg4_video.h"

#include <cctype>

#include "recording/avi_format.h"

namespace {

constexpr uint8_t kPictureStartCode = 0xB6;

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
