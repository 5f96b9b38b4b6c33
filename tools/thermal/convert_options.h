#pragma once
// The command line of `thermal convert`: which input and outputs, by their extensions, the
// processing options, and which of those cannot apply to the chosen input and outputs.
#include <optional>
#include <string>
#include <vector>

#include "cli/processing_options.h"
#include "processing/frame_readout.h"
#include "recording/file_kind.h"

struct ConvertOptions {
    std::string input;
    FileKind inputKind = FileKind::kBinaryStream;
    std::string output;
    FileKind outputKind = FileKind::kUnknown;  // kUnknown: only --frames DIR
    std::string framesDir;                     // empty: no images
    bool png = false;                          // images as PNG rather than BMP
    std::optional<SensorRegion> region;        // a .csv output of this region's statistics
    char captureLetter = 'K';
    ProcessingOptions processing;
    // The processing options named on the command line, each once, in the order given.
    std::vector<std::string> processingGiven;
};

// Parses the arguments after `convert`. Returns the empty string, or why they are wrong (one
// line, without the program's prefix).
std::string ParseConvertOptions(int argc, char** argv, ConvertOptions& options);

// Lines saying which given processing options have no effect on this input and these outputs,
// e.g. "--stack does not apply to raw frames"; one per option.
std::vector<std::string> InapplicableOptions(const ConvertOptions& options);

// The text of `thermal convert --help`.
std::string ConvertHelpText();
