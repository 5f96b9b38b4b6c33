#pragma once
// FramePresentation: what the GUI thread needs to show one processed frame, prepared on the
// processing thread and handed over whole.
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "processing/chart_data.h"
#include "processing/frame_readout.h"
#include "processing/image_scaling.h"

struct FramePresentation {
    std::unique_ptr<uint8_t[]> image = std::make_unique<uint8_t[]>(kImageBytes);
    std::unique_ptr<CChartData> chart;
    bool isTemperature = true;  // 'k' or 'K': the chart shows temperatures
    bool isVoltage = false;     // 't' or 'c': the readouts say V
    // The processed values and how to read them, for the readouts of the status bar.
    ReadoutFrame readout;
    std::string selectedText;
    std::string minText;
    std::string maxText;
    uint16_t vddCode = 0;
    uint16_t ambientCode = 0;
    // When the frame's last byte arrived, for --stats.
    std::optional<std::chrono::steady_clock::time_point> arrival;
};
