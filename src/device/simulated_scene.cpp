#include "device/simulated_scene.h"

#include <cmath>

namespace {
constexpr int kColumns = 32;
constexpr int kRows = 31;
constexpr double kAmbientDeciKelvin = 2952.0;    // 22 C
constexpr double kObjectRiseDeciKelvin = 150.0;  // the object is about 15 K warmer
constexpr double kObjectRadius = 3.5;

void PutWord(SimFrameBlock& block, int word, uint16_t value) {
    block[2 * word] = static_cast<uint8_t>(value & 0xFF);
    block[2 * word + 1] = static_cast<uint8_t>(value >> 8);
}

uint16_t Clamp16(double value) {
    if (value < 0.0) {
        return 0;
    }
    if (value > 65535.0) {
        return 65535;
    }
    return static_cast<uint16_t>(value + 0.5);
}
}  // namespace

SimFrameBlock BuildSimulatedFrame(uint64_t index, bool isTemperature, std::mt19937& rng) {
    SimFrameBlock block{};
    std::normal_distribution<double> noise(0.0, 2.0);
    // The object crosses the array in about 8 s at the module's own 5.4 frames per second and
    // bobs up and down a little on its way.
    const double travel = static_cast<double>(index % 44);
    const double objectX = travel - 6.0;
    const double objectY = 15.0 + 5.0 * std::sin(static_cast<double>(index) * 0.15);
    for (int row = 0; row < kRows; ++row) {
        for (int col = 0; col < kColumns; ++col) {
            const double dx = col - objectX;
            const double dy = row - objectY;
            const double warmth =
                kObjectRiseDeciKelvin *
                std::exp(-(dx * dx + dy * dy) / (2 * kObjectRadius * kObjectRadius));
            const double deciKelvin = kAmbientDeciKelvin + warmth + noise(rng);
            // Converter counts rise with the object's warmth above the room.
            const double value =
                isTemperature ? deciKelvin : 2000.0 + 4.0 * (deciKelvin - kAmbientDeciKelvin);
            PutWord(block, row * kColumns + col, Clamp16(value));
        }
    }
    std::uniform_int_distribution<int> offsetNoise(-3, 3);
    for (int i = 0; i < 32; ++i) {
        PutWord(block, 992 + i, static_cast<uint16_t>(1200 + 4 * i + offsetNoise(rng)));
    }
    for (int i = 0; i < 4; ++i) {
        block[kFrameMarkerOffset + i] = kFrameMarker[i];
    }
    // Ambient code: 12 low bits in header word 2, 4 high bits in header word 3.
    const uint16_t ambientCode = static_cast<uint16_t>(2950 + (index / 8) % 20);
    PutWord(block, 1026, ambientCode & 0x0FFF);
    PutWord(block, 1027, ambientCode >> 12);
    for (int i = 0; i < 8; ++i) {
        PutWord(block, 1040 + 2 * i, static_cast<uint16_t>(1500 + 25 * i + offsetNoise(rng)));
    }
    return block;
}
