// Parsing of the processing options shared by the `thermal` subcommands.
#include "processing_options.h"

#include <charconv>
#include <cmath>
#include <optional>
#include <string_view>

#include "processing/frame_pipeline.h"

namespace {

// Manual bounds beyond this are no scale at all: frames hold at most 65,535 counts or 6,553.5 K,
// and larger bounds (times ten for kelvin, their difference, a pixel's distance to them) would
// leave the range of the 32-bit floats the colour mapping computes in.
constexpr float kManualBoundLimit = 1.0e6f;

std::optional<int> ParseInt(std::string_view text, int low, int high) {
    int value = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (result.ec != std::errc() || result.ptr != text.data() + text.size() || value < low ||
        value > high) {
        return std::nullopt;
    }
    return value;
}

std::optional<float> ParseFloat(std::string_view text) {
    float value = 0.0f;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || result.ec != std::errc() || result.ptr != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

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

OptionParse ParseProcessingOption(int argc, char** argv, int& i, ProcessingOptions& options,
                                  std::string& error) {
    const std::string arg = argv[i];
    std::string text;
    auto value = [&]() {
        if (i + 1 >= argc) {
            return false;
        }
        text = argv[++i];
        return true;
    };
    auto bad = [&](const std::string& why) {
        error = why;
        return OptionParse::kBadValue;
    };
    if (arg == "--unit") {
        if (!value() || (text != "K" && text != "C" && text != "F")) {
            return bad("--unit takes K, C or F");
        }
        options.unit = text == "K" ? kUnitKelvin : text == "C" ? kUnitCelsius : kUnitFahrenheit;
    } else if (arg == "--palette") {
        const auto number = value() ? ParseInt(text, 1, 8) : std::nullopt;
        if (!number) {
            return bad("--palette takes a number from 1 to 8");
        }
        options.palette = *number;
    } else if (arg == "--mirror") {
        constexpr std::string_view kModes[] = {"none", "x", "y", "both"};
        int mode = -1;
        if (value()) {
            for (int m = 0; m < 4; ++m) {
                if (text == kModes[m]) {
                    mode = m;
                }
            }
        }
        if (mode < 0) {
            return bad("--mirror takes none, x, y or both");
        }
        options.mirror = mode;
    } else if (arg == "--no-interpolate") {
        options.interpolate = false;
    } else if (arg == "--stack" || arg == "--offset-stack") {
        const auto size = value() ? ParseInt(text, 1, 300) : std::nullopt;
        if (!size) {
            return bad(arg + " takes a number from 1 to 300");
        }
        (arg == "--stack" ? options.frameStack : options.offsetStack) = *size;
    } else if (arg == "--no-el-offsets") {
        options.subtractElOffsets = false;
    } else if (arg == "--manual") {
        const std::size_t colon = value() ? text.find(':') : std::string::npos;
        const auto low = colon == std::string::npos
                             ? std::nullopt
                             : ParseFloat(std::string_view(text).substr(0, colon));
        const auto high = colon == std::string::npos
                              ? std::nullopt
                              : ParseFloat(std::string_view(text).substr(colon + 1));
        if (!low || !high) {
            return bad("--manual takes LOW:HIGH, two numbers");
        }
        for (const float bound : {*low, *high}) {
            if (!std::isfinite(bound) || std::fabs(bound) > kManualBoundLimit) {
                return bad("--manual takes LOW:HIGH, two numbers from -1000000 to 1000000");
            }
        }
        options.manual = true;
        options.low = *low;
        options.high = *high;
    } else {
        return OptionParse::kNotMine;
    }
    return OptionParse::kParsed;
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
