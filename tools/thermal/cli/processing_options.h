#pragma once
// The processing options shared by the `thermal` subcommands that push frames through the
// viewer's frame pipeline (convert, record): unit, palette, mirroring, interpolation, stacks,
// offset subtraction and the colour scale. Defaults are the viewer's start-up settings.
#include <string>
#include <vector>

#include "frame/conversion.h"

class CFramePipeline;
class COptionTable;

struct ProcessingOptions {
    int unit = kUnitCelsius;
    int palette = 4;
    int mirror = 0;  // 0 none, 1 X-axis, 2 Y-axis, 3 both
    bool interpolate = true;
    int frameStack = 1;
    int offsetStack = 1;
    bool subtractElOffsets = true;
    bool manual = false;
    float low = 0.0f;
    float high = 0.0f;
};

// Adds the processing options to `table`, to be read into `options`. Each one given is noted
// once in `given`, in the order given, when `given` is not null.
void AddProcessingOptions(COptionTable& table, ProcessingOptions& options,
                          std::vector<std::string>* given = nullptr);

// The options' lines for a --help text, each with its default.
extern const char kProcessingOptionsHelp[];

// Puts the settings into a pipeline, as the viewer's controls would.
void ApplyProcessingOptions(const ProcessingOptions& options, CFramePipeline& pipeline);
