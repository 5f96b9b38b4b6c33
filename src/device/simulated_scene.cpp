#include "device/simulated_scene.h"

#include <cmath>

namespace {
constexpr double kAmbientDeciKelvin = 2952.0;    // 22 C
constexpr double kObjectRiseDeciKelvin = 150.0;  // the object is about 15 K warmer
constexpr double kObjectRadius = 3.5;

uint16_t Clamp16(double value) {
    if (value < 0.0) {
        return 0;
    }
    if (value > 65535.0) {
        return 65535;
    }
    return static_cast<uint16_t>(value + 0.5);
}

// The column whose offset the module sends as the `word`-th offset word: the two halves of the
// row interleaved, even words columns 0 to 15, odd words 16 to 31.
int OffsetColumnOfWord(int word) {
    return word % 2 == 0 ? word / 2 : kOffsetCount / 2 + word / 2;
}
}  // namespace

SimFrameBlock BuildSimulatedFrame(uint64_t index, bool isTemperature, std::mt19937& rng) {
    FrameData frame{};
    std::normal_distribution<double> noise(0.0, 2.0);
    // The object crosses the array in about 8 s at the module's own 5.4 frames per second and
    // bobs up and down a little on its way.
    const double travel = static_cast<double>(index % 44);
    const double objectX = travel - 6.0;
    const double objectY = 15.0 + 5.0 * std::sin(static_cast<double>(index) * 0.15);
    for (int row = 0; row < kFrameRows; ++row) {
        for (int col = 0; col < kFrameColumns; ++col) {
            const double dx = col - objectX;
            const double dy = row - objectY;
            const double warmth =
                kObjectRiseDeciKelvin *
                std::exp(-(dx * dx + dy * dy) / (2 * kObjectRadius * kObjectRadius));
            const double deciKelvin = kAmbientDeciKelvin + warmth + noise(rng);
            // Converter counts rise with the object's warmth above the room.
            const double value =
                isTemperature ? deciKelvin : 2000.0 + 4.0 * (deciKelvin - kAmbientDeciKelvin);
            frame.values[row * kFrameColumns + col] = Clamp16(value);
        }
    }
    // Offsets rise word by word in the order they are sent.
    std::uniform_int_distribution<int> offsetNoise(-3, 3);
    for (int word = 0; word < kOffsetCount; ++word) {
        frame.offsets[OffsetColumnOfWord(word)] =
            static_cast<uint16_t>(1200 + 4 * word + offsetNoise(rng));
    }
    // Ambient code: 12 low bits in header word 2, 4 high bits in header word 3.
    const uint16_t ambientCode = static_cast<uint16_t>(2950 + (index / 8) % 20);
    frame.header[2] = ambientCode & 0x0FFF;
    frame.header[3] = ambientCode >> 12;
    for (int i = 0; i < 8; ++i) {
        frame.header[4 + i] = static_cast<uint16_t>(1500 + 25 * i + offsetNoise(rng));
    }
    SimFrameBlock block;
    EncodeFrameBlock(frame, block.data());
    PutFrameMarker(block.data());
    return block;
}
