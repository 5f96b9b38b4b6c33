// Parsing of the processing options shared by the `thermal` subcommands.
#include "cli/processing_options.h"

#include <algorithm>
#include <string_view>

#include "cli/option_table.h"
#include "processing/frame_pipeline.h"

namespace {

// Manual bounds beyond this are no scale at all: frames hold at most 65,535 counts or 6,553.5 K,
// and larger bounds (times ten for kelvin, their difference, a pixel's distance to them) would
// leave the range of the 32-bit floats the colour mapping computes in.
constexpr float kManualBoundLimit = 1.0e6f;

}  // namespace

const char kProcessingOptionsHelp[] =
    "  --unit K|C|F          unit of temperature texts (default C)\n"
    "  --palette 1..8        colour palette (default 4)\n"
    "  --mirror none|x|y|both  mirror the image (default none)\n"
    "  --no-interpolate      enlarge without bilinear smoothing (default: smoothed)\n"
    "  --stack N             frame stack size, 1..300 (default 1)\n"
    "  --offset-stack M      electrical offset stack size, 1..300 (default 1)\n"
    "  --no-el-offsets       do not subtract electrical offsets from voltage frames\n"
    "                        (default: subtracted)\n"
    "  --manual LOW:HIGH     fixed colour scale: kelvin for temperature frames, counts for\n"
    "                        voltage frames (default: each frame's minimum to maximum)\n";

void AddProcessingOptions(COptionTable& table, ProcessingOptions& options,
                          std::vector<std::string>* given) {
    const auto noted = [given](const char* name, auto apply) {
        return [given, name, apply](auto... value) {
            if (given != nullptr && std::find(given->begin(), given->end(), name) == given->end()) {
                given->push_back(name);
            }
            return apply(value...);
        };
    };
    table.Choice("--unit", {"K", "C", "F"}, noted("--unit", [&options](std::size_t index) {
                     constexpr int kUnits[] = {kUnitKelvin, kUnitCelsius, kUnitFahrenheit};
                     options.unit = kUnits[index];
                 }));
    table.Ranged<int>("--palette", 1, 8,
                      noted("--palette", [&options](int palette) { options.palette = palette; }));
    table.Choice("--mirror", {"none", "x", "y", "both"},
                 noted("--mirror",
                       [&options](std::size_t mode) { options.mirror = static_cast<int>(mode); }));
    table.Flag("--no-interpolate",
               noted("--no-interpolate", [&options] { options.interpolate = false; }));
    table.Ranged<int>("--stack", 1, 300,
                      noted("--stack", [&options](int size) { options.frameStack = size; }));
    table.Ranged<int>("--offset-stack", 1, 300, noted("--offset-stack", [&options](int size) {
                          options.offsetStack = size;
                      }));
    table.Flag("--no-el-offsets",
               noted("--no-el-offsets", [&options] { options.subtractElOffsets = false; }));
    table.Value("--manual",
                "LOW:HIGH, two numbers from " + BoundText(-kManualBoundLimit) + " to " +
                    BoundText(kManualBoundLimit),
                noted("--manual", [&options](std::string_view text) {
                    const std::size_t colon = text.find(':');
                    if (colon == std::string_view::npos) {
                        return false;
                    }
                    const auto low = ParseRangedNumber(text.substr(0, colon), -kManualBoundLimit,
                                                       kManualBoundLimit);
                    const auto high = ParseRangedNumber(text.substr(colon + 1), -kManualBoundLimit,
                                                        kManualBoundLimit);
                    if (!low || !high) {
                        return false;
                    }
                    options.manual = true;
                    options.low = *low;
                    options.high = *high;
                    return true;
                }));
}

void ApplyProcessingOptions(const ProcessingOptions& options, CFramePipeline& pipeline) {
    pipeline.SetUnit(options.unit);
    pipeline.SelectPalette(options.palette);
    pipeline.SetMirrorMode(options.mirror);
    pipeline.SetInterpolation(options.interpolate ? 1 : 0);
    pipeline.SetStackSizes(options.frameStack, options.offsetStack, 1);
    pipeline.SetElOffsetSubtraction(options.subtractElOffsets ? 1 : 0);
    if (options.manual) {
        pipeline.SetManualScaling(options.high, options.low, (options.high + options.low) / 2.0f);
    }
}
