#pragma once
// The text answers of the simulated module, one per command letter, each shaped so that the
// viewer's end rule for that letter recognises it. Pure functions; the simulator's thread keeps
// the state they report (clock, toggles).
#include <cstdint>
#include <string>

struct SimulatedModuleState {
    int mclkKHz = 8000;
    bool isAmplHigh = false;
    bool isBufferUsed = true;
};

// The module clock moves by this much per `a` (up) or `A` (down).
constexpr int kSimulatedMclkStepKHz = 125;

// The module information (`M`): names the clock as "<n> kHz".
std::string SimulatedInfoReply(const SimulatedModuleState& state);
// The answer to `a`/`A`: two lines, the new clock at the end of the first.
std::string SimulatedMclkStepReply(const SimulatedModuleState& state);
// The calibration constants table (`w`): header lines, the "Nr." column header and the rows of
// pixels 0 to 991, each with ten tab-separated columns.
std::string SimulatedCalibrationTable();
// Any other text command (also unknown letters). Toggling letters change `state`.
std::string SimulatedTextReply(uint8_t letter, SimulatedModuleState& state);
