#pragma once
// What the simulated module sees and sends: a room at about 22 C with a warm object drifting
// across the array and a little sensor noise, packed into 2112-byte frame blocks exactly as the
// real module lays them out. Pure apart from the random generator the caller passes in (seeded
// for repeatable runs). Used by CModuleSimulator on its own thread, and by tests and benchmarks.
#include <array>
#include <cstdint>
#include <random>

#include "frame/frame_block.h"

using SimFrameBlock = std::array<uint8_t, kFrameBlockSize>;

// Frame number `index` of a stream. Temperature frames carry tenths of a kelvin, voltage frames
// converter counts. The ambient reading in header words 2 and 3 changes slowly from frame to frame.
SimFrameBlock BuildSimulatedFrame(uint64_t index, bool isTemperature, std::mt19937& rng);
