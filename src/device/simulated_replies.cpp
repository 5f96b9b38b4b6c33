#include "device/simulated_replies.h"

#include <cstdio>

#include "frame/frame_block.h"

std::string SimulatedInfoReply(const SimulatedModuleState& state) {
    char text[160];
    std::snprintf(text, sizeof text,
                  "Thermopile array 32x31\r\nMCLK: %d kHz\r\nFirmware VDM1.3\r\n", state.mclkKHz);
    return text;
}

std::string SimulatedMclkStepReply(const SimulatedModuleState& state) {
    char text[160];
    std::snprintf(text, sizeof text, "MCLK changed, now %d\r\nClock divider set to 1\r\n",
                  state.mclkKHz);
    return text;
}

std::string SimulatedCalibrationTable() {
    std::string table =
        "PTAT1 2145 1.2034\r\n"
        "ASIC-Register 0x1F 0x3A 0x08\r\n"
        "Written 2026-01-15\r\n"
        "PTAT-gradient 0.0381 0.0005\r\n"
        "Ambient 1: 300 2: 301\r\n"
        "TObj1: 273.2 373.2\r\n"
        "TObjcal1: 295.0 330.0\r\n"
        "Arraytype 32x31 TA-3231\r\n"
        "Nr.\tRow\tCol\tPixC\tThGrad\tThOffs\tElOffs\tVddComp\tGain\tFlags\r\n";
    char line[128];
    for (int pixel = 0; pixel < kPixelCount; ++pixel) {
        std::snprintf(line, sizeof line, "%d\t%d\t%d\t%d\t%d\t%d\t%d\t%d\t%.4f\t0\r\n", pixel,
                      pixel / kFrameColumns, pixel % kFrameColumns, 120000 + (pixel * 37) % 5000,
                      (pixel * 13) % 200 - 100, (pixel * 7) % 60 - 30, 1200 + pixel % 32 * 4,
                      50 + pixel % 17, 1.0 + (pixel % 11) * 0.001);
        table += line;
    }
    return table;
}

std::string SimulatedTextReply(uint8_t letter, SimulatedModuleState& state) {
    switch (letter) {
        case 'b':
            return "VDD: 3300 mV\r\n";
        case 'f':
            return "Offset filter set\r\n";
        case 'J':
            state.isAmplHigh = !state.isAmplHigh;
            return state.isAmplHigh ? "Amplification high\r\n" : "Amplification low\r\n";
        case 'l':
            return "Level 1.25\r\n";
        case 'm':
            state.isBufferUsed = !state.isBufferUsed;
            return state.isBufferUsed ? "Buffer used.\r\n" : "Buffer not used.\r\n";
        case 'o':
        case 'O':
            return "Offset used\r\n";
        case 'V':
            return "Voltage mode enabled.\r\n";
        case 'X':
            return "STOP!\r\n";
        case 'y':
        case 'Y':
            return letter == 'y' ? "Heater off\r\n" : "Heater on\r\n";
        case 'x':
        case 'T':
            return "Module stopped, pause\r\n";
        default:
            return "Command not in use\r\n";
    }
}
