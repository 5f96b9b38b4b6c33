// Writes a binary stream recording of the simulated module's frames, for the conversion
// benchmark: `make_recording OUTPUT.bds FRAMES [--voltage]`. The frames are the simulator's
// scene (a warm object drifting across a room), so the pictures and texts are realistic.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "device/simulated_scene.h"
#include "frame/binary_record.h"

int main(int argc, char** argv) {
    if (argc < 3 || argc > 4 || (argc == 4 && std::strcmp(argv[3], "--voltage") != 0)) {
        std::fprintf(stderr, "Usage: make_recording OUTPUT.bds FRAMES [--voltage]\n");
        return 2;
    }
    const long long frames = std::atoll(argv[2]);
    const bool voltage = argc == 4;
    std::FILE* out = std::fopen(argv[1], "wb");
    if (out == nullptr || frames <= 0) {
        std::fprintf(stderr, "make_recording: cannot write %s frames to '%s'\n", argv[2], argv[1]);
        return 1;
    }
    std::mt19937 rng(1);
    for (long long i = 0; i < frames; ++i) {
        const SimFrameBlock block = BuildSimulatedFrame(static_cast<uint64_t>(i), !voltage, rng);
        const BinaryRecord record = EncodeBinaryRecord(voltage ? 't' : 'K', block.data());
        if (std::fwrite(record.data(), 1, record.size(), out) != record.size()) {
            std::fclose(out);
            return 1;
        }
    }
    return std::fclose(out) == 0 ? 0 : 1;
}
