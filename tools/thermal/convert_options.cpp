#include "convert_options.h"

#include <cctype>
#include <cstring>
#include <string_view>

#include "cli/option_table.h"

namespace {

constexpr char kHelpHead[] =
    "Usage: thermal convert INPUT OUTPUT [options]\n"
    "       thermal convert INPUT [OUTPUT] --frames DIR [--png] [options]\n"
    "       thermal convert CAPTURE.raw OUTPUT.bds [--letter K|k|t|c]\n"
    "\n"
    "Plays every frame of a recording through the viewer's own frame processing and writes what\n"
    "the viewer would have written. INPUT is a binary stream recording (.bds), a text stream\n"
    "recording (.txt), a raw frame file (.bin: 992 big-endian 16-bit values a frame) or a raw\n"
    "capture of the serial line (.raw). OUTPUT is chosen by its extension (any case):\n"
    "  .txt   text stream recording, as the viewer records it\n"
    "  .bds   binary stream recording rebuilt from a text stream (or cut from a capture)\n"
    "  .csv   31 rows x 32 columns per frame in sensor orientation, after a '#' line naming the\n"
    "         source, the frame and the mode; temperatures in the unit, voltages in volts, raw\n"
    "         frames as stored\n"
    "  .avi   each frame's display image as one frame of a 20 fps Xvid video\n"
    "  .tiff  (or .tif) one 32 x 31 page of 16-bit grey per frame in sensor orientation (mirrored\n"
    "         with --mirror), the values as the module counts them: tenths of a kelvin,\n"
    "         converter counts for voltages (signed once the offsets were subtracted), raw\n"
    "         frames as stored; each page's description is JSON with the frame, the mode and\n"
    "         the scale (value * scale + offset is the quantity in the unit):\n"
    "         {\"frame\":1,\"mode\":\"K\",\"unit\":\"K\",\"scale\":0.1,...}\n"
    "  .npy   one NumPy array of shape (frames, 31, 32), little-endian float32: the numbers of\n"
    "         the .csv output (temperatures in the unit, voltages in volts, raw frames as\n"
    "         stored); frames of another unit than the first are refused\n"
    "The output is written under a temporary name and appears only when complete.\n"
    "Damage in a recording is skipped up to the next record header (a binary record's\n"
    "Mode=T or Mode=V, a text stream's Mode= line), each stretch said on stderr; every other\n"
    "frame is written.\n"
    "Text streams follow each frame's own unit unless --unit is given. Raw frames are coloured\n"
    "with the palette only.\n"
    "Reading them in Python (numpy, tifffile, json):\n"
    "  frames = numpy.load('out.npy')                     # frames[n, row, column]\n"
    "  page = tifffile.TiffFile('out.tiff').pages[0]      # the first frame\n"
    "  kelvin = page.asarray() * json.loads(page.description)['scale']\n"
    "\n"
    "Options (defaults are the viewer's start-up settings):\n";

constexpr char kHelpTail[] =
    "  --frames DIR          also write each display image (320 x 310) as\n"
    "                        DIR/frame_000001.bmp, ... (created if needed; default: none)\n"
    "  --png                 write the images as PNG rather than BMP (default: BMP)\n"
    "  --region R1,C1,R2,C2  write into the .csv output one line per frame with the minimum,\n"
    "                        mean and maximum of rows R1 to R2, columns C1 to C2 (numbered\n"
    "                        from 1 as in the full CSV, corners in any order) and the unit\n"
    "                        (default: the full frames)\n"
    "  --letter K|k|t|c      frame letter a raw capture was taken with (default K)\n"
    "  -h, --help            show this help\n"
    "\n"
    "Exit status: 0 done, 1 failed while working (nothing written; also when no frame was\n"
    "found), 2 bad command line or input, 130/143 interrupted (nothing written).\n";

bool UsesImages(const ConvertOptions& options) {
    return !options.framesDir.empty() || options.outputKind == FileKind::kVideo;
}

// Outputs of the values in the unit.
bool UsesUnit(const ConvertOptions& options) {
    return options.outputKind == FileKind::kTextStream || options.outputKind == FileKind::kCsv ||
           options.outputKind == FileKind::kNumpy;
}

// Outputs of the processed values, in the unit or as stored.
bool UsesValues(const ConvertOptions& options) {
    return UsesUnit(options) || options.outputKind == FileKind::kTiff;
}

// Why `option` cannot apply to the input, or nothing.
const char* InputReason(const ConvertOptions& options, std::string_view option) {
    switch (options.inputKind) {
        case FileKind::kCapture:
            return "a raw capture";
        case FileKind::kRawFrames:
            return option == "--palette" ? nullptr : "raw frames";
        case FileKind::kTextStream:
            return option == "--stack" || option == "--offset-stack" ? "text streams" : nullptr;
        default:
            break;
    }
    return nullptr;
}

// Why `option` cannot apply to the outputs, or nothing.
const char* OutputReason(const ConvertOptions& options, std::string_view option) {
    const bool images = UsesImages(options);
    const bool values = UsesValues(options);
    bool used = false;
    if (option == "--unit") {
        used = UsesUnit(options);
    } else if (option == "--stack" || option == "--offset-stack" || option == "--no-el-offsets") {
        used = values || images;
    } else if (option == "--mirror") {
        // TIFF pages are laid out as the display shows the frame.
        used = images || options.outputKind == FileKind::kTiff;
    } else {  // palette, interpolation, colour scale
        used = images;
    }
    if (used) {
        return nullptr;
    }
    switch (options.outputKind) {
        case FileKind::kTextStream:
            return "a text stream output";
        case FileKind::kBinaryStream:
            return "a binary stream output";
        case FileKind::kCsv:
            return "a CSV output";
        case FileKind::kVideo:
            return "a video output";
        case FileKind::kTiff:
            return "a TIFF output";
        case FileKind::kNumpy:
            return "a NumPy output";
        default:
            break;
    }
    return "pictures";
}

}  // namespace

std::string ConvertHelpText() {
    return std::string(kHelpHead) + kProcessingOptionsHelp + kHelpTail;
}

std::string ParseConvertOptions(int argc, char** argv, ConvertOptions& options) {
    std::vector<std::string> positional;
    bool letterGiven = false;
    std::string regionText;
    COptionTable table;
    AddProcessingOptions(table, options.processing, &options.processingGiven);
    table.Text("--frames", "a directory", options.framesDir);
    table.Flag("--png", options.png);
    table.Text("--region", "R1,C1,R2,C2", regionText);
    table.Choice("--letter", {"K", "k", "t", "c"}, [&](std::size_t index) {
        options.captureLetter = "Kktc"[index];
        letterGiven = true;
    });
    if (std::string error = table.Parse(argc, argv, positional); !error.empty()) {
        return error;
    }
    if (!regionText.empty()) {
        std::string error;
        options.region = ParseSensorRegion(regionText, error);
        if (!options.region) {
            return "--region: " + error;
        }
    }
    if (positional.empty()) {
        return "missing INPUT";
    }
    if (positional.size() > 2) {
        return "too many arguments: one INPUT and at most one OUTPUT";
    }
    options.input = positional[0];
    options.inputKind = FileKindOf(options.input);
    if (options.inputKind != FileKind::kBinaryStream &&
        options.inputKind != FileKind::kTextStream && options.inputKind != FileKind::kRawFrames &&
        options.inputKind != FileKind::kCapture) {
        return "cannot read '" + options.input + "': INPUT must end in .bds, .txt, .bin or .raw";
    }

    if (positional.size() == 2) {
        options.output = positional[1];
        options.outputKind = FileKindOf(options.output);
        if (options.outputKind == FileKind::kUnknown ||
            options.outputKind == FileKind::kRawFrames ||
            options.outputKind == FileKind::kCapture) {
            return "cannot write '" + options.output +
                   "': OUTPUT must end in .txt, .bds, .csv, .avi, .tiff, .tif or .npy";
        }
    } else if (options.framesDir.empty()) {
        return "missing OUTPUT or --frames DIR";
    }
    if (options.png && options.framesDir.empty()) {
        return "--png needs --frames DIR";
    }
    if (options.region && options.outputKind != FileKind::kCsv) {
        return "--region applies only to a .csv output";
    }

    if (options.inputKind == FileKind::kCapture) {
        if (options.outputKind != FileKind::kBinaryStream || !options.framesDir.empty()) {
            return "a raw capture converts into OUTPUT.bds only";
        }
    } else if (letterGiven) {
        return "--letter applies to raw captures (.raw) only";
    }
    if (options.outputKind == FileKind::kBinaryStream &&
        options.inputKind == FileKind::kBinaryStream) {
        return "'" + options.input + "' is a binary stream recording already";
    }
    if (options.inputKind == FileKind::kRawFrames &&
        (options.outputKind == FileKind::kTextStream ||
         options.outputKind == FileKind::kBinaryStream)) {
        return "raw frames have no mode, offsets or header to write into '" + options.output +
               "'; write .csv, .tiff, .npy, .avi or --frames DIR";
    }
    return {};
}

std::vector<std::string> InapplicableOptions(const ConvertOptions& options) {
    std::vector<std::string> lines;
    for (const std::string& option : options.processingGiven) {
        const char* reason = InputReason(options, option);
        if (reason == nullptr) {
            reason = OutputReason(options, option);
        }
        if (reason != nullptr) {
            lines.push_back(option + " does not apply to " + reason);
        }
    }
    return lines;
}
