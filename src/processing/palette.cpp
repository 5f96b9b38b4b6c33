#include "processing/palette.h"

#include <array>
#include <cstddef>

namespace {

// What one colour channel does over a segment.
enum class Ramp : uint8_t { kZero, kFull, kRise, kFall };

struct Segment {
    int endBound;  // first entry after the segment
    float step;    // added to (rising) or taken from (falling) the accumulators per entry
    Ramp red, green, blue;
};

// Step of a part of `width` entries: computed in double, held as a float like the device software
// that defined these tables; the float rounding is visible in the colours of palette 8.
float StepFor(int width) {
    return static_cast<float>(255.0 / width);
}

int ChannelValue(Ramp ramp, float accumulator) {
    switch (ramp) {
        case Ramp::kZero:
            return 0;
        case Ramp::kFull:
            return 255;
        case Ramp::kRise:
        case Ramp::kFall:
            break;
    }
    const double rounded = static_cast<double>(accumulator) + 0.5;
    if (rounded <= 0.0) {
        return 0;
    }
    if (rounded >= 255.0) {
        return 255;
    }
    return static_cast<int>(rounded);
}

// Writes the segments one after the other. Each later segment starts on the last entry of the one
// before and writes it again with its own first colour, so the ramps join without a gap.
template <std::size_t N>
void WriteSegments(const std::array<Segment, N>& segments, uint32_t table[kPaletteSize]) {
    int start = 0;
    for (const Segment& segment : segments) {
        float rising = 0.0f;
        float falling = 255.0f;
        int entry = start;
        for (; entry < segment.endBound; ++entry) {
            rising = rising + segment.step;
            falling = falling - segment.step;
            auto value = [&](Ramp ramp) {
                return ChannelValue(ramp, ramp == Ramp::kFall ? falling : rising);
            };
            table[entry] =
                PaletteEntry(value(segment.red), value(segment.green), value(segment.blue));
        }
        start = entry - 1;
    }
}

using R = Ramp;

}  // namespace

bool BuildPalette(int number, uint32_t table[kPaletteSize]) {
    switch (number) {
        case 1: {  // black, blue, red, yellow, white
            const float s = StepFor(64);
            WriteSegments(std::array<Segment, 4>{{{63, s, R::kZero, R::kZero, R::kRise},
                                                  {127, s, R::kRise, R::kZero, R::kFall},
                                                  {191, s, R::kFull, R::kRise, R::kZero},
                                                  {255, s, R::kFull, R::kFull, R::kRise}}},
                          table);
            return true;
        }
        case 2: {  // black, blue, magenta, red, yellow, white; half-width first and last part
            const float half = StepFor(32);
            const float s = StepFor(64);
            WriteSegments(std::array<Segment, 5>{{{31, half, R::kZero, R::kZero, R::kRise},
                                                  {30 + 63, s, R::kRise, R::kZero, R::kFull},
                                                  {92 + 63, s, R::kFull, R::kZero, R::kFall},
                                                  {154 + 63, s, R::kFull, R::kRise, R::kZero},
                                                  {255, half, R::kFull, R::kFull, R::kRise}}},
                          table);
            return true;
        }
        case 3: {  // grey scale
            WriteSegments(
                std::array<Segment, 1>{{{255, StepFor(256), R::kRise, R::kRise, R::kRise}}}, table);
            return true;
        }
        case 4: {  // blue, red, yellow
            const float s = StepFor(128);
            WriteSegments(std::array<Segment, 2>{{{127, s, R::kRise, R::kZero, R::kFall},
                                                  {255, s, R::kFull, R::kRise, R::kZero}}},
                          table);
            return true;
        }
        case 5: {  // green, yellow, red, magenta, white
            const float s = StepFor(64);
            WriteSegments(std::array<Segment, 4>{{{63, s, R::kRise, R::kFull, R::kZero},
                                                  {127, s, R::kFull, R::kFall, R::kZero},
                                                  {191, s, R::kFull, R::kZero, R::kRise},
                                                  {255, s, R::kFull, R::kRise, R::kFull}}},
                          table);
            return true;
        }
        case 6: {  // magenta, blue, green, yellow, red
            const float s = StepFor(64);
            WriteSegments(std::array<Segment, 4>{{{63, s, R::kFall, R::kZero, R::kFull},
                                                  {127, s, R::kZero, R::kRise, R::kFall},
                                                  {191, s, R::kRise, R::kFull, R::kZero},
                                                  {255, s, R::kFull, R::kFall, R::kZero}}},
                          table);
            return true;
        }
        case 7: {  // magenta, blue, cyan, green, yellow, red; entry 254 is never written
            const float s = StepFor(51);
            WriteSegments(std::array<Segment, 5>{{{50, s, R::kFall, R::kZero, R::kFull},
                                                  {101, s, R::kZero, R::kRise, R::kFull},
                                                  {152, s, R::kZero, R::kFull, R::kFall},
                                                  {203, s, R::kRise, R::kFull, R::kZero},
                                                  {254, s, R::kFull, R::kFall, R::kZero}}},
                          table);
            return true;
        }
        case 8: {  // black, blue, cyan, green, yellow, red, magenta, white
            const float s = StepFor(36);
            WriteSegments(std::array<Segment, 7>{{{35, s, R::kZero, R::kZero, R::kRise},
                                                  {71, s, R::kZero, R::kRise, R::kFull},
                                                  {107, s, R::kZero, R::kFull, R::kFall},
                                                  {143, s, R::kRise, R::kFull, R::kZero},
                                                  {179, s, R::kFull, R::kFall, R::kZero},
                                                  {215, s, R::kFull, R::kZero, R::kRise},
                                                  {255, s, R::kFull, R::kRise, R::kFull}}},
                          table);
            return true;
        }
        default:
            return false;
    }
}
