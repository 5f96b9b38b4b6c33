#pragma once
// The outputs of `thermal convert`. Each processed frame goes to every sink; a sink writes its
// file under a temporary name and makes it appear in Finish, or leaves nothing when destroyed
// unfinished. The tool's main thread only.
#include <sys/stat.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "convert_options.h"
#include "processing/frame_readout.h"

// One frame as the frame pipeline finished it, with what the outputs need besides.
struct ConvertedFrame {
    uint64_t sourceNumber;   // 1-based position of the record in the input
    char modeLetter;         // `K`, `k` temperature, `t`, `c` voltage, 0 for a raw frame
    std::string_view text;   // the text frame (lines ending CR LF); empty for raw frames
    const uint8_t* block;    // the frame block to record into a binary stream, or null
    const uint8_t* image;    // 320 x 310 display image, red, green, blue
    const uint16_t* values;  // 992 values as shown: stacked, offsets subtracted when asked
    int unit;                // unit of the text and of temperature values
    bool subtractingOffsets;
};

// How the numbers of a converted frame read: raw frames as stored, voltages in volts (signed
// differences once the offsets were subtracted), temperatures in the frame's unit.
inline ReadoutScale ReadoutScaleOf(const ConvertedFrame& frame) {
    return frame.modeLetter == 0
               ? ReadoutScale{ReadoutKind::kRaw, frame.unit}
               : ReadoutScale::OfModeLetter(frame.modeLetter, frame.unit, frame.subtractingOffsets);
}

class IConvertSink {
  public:
    virtual ~IConvertSink() = default;
    // Returns false with `error` set when the frame could not be written; the conversion
    // then stops.
    virtual bool Write(const ConvertedFrame& frame, std::string& error) = 0;
    // Completes the output and gives it its final name. False with `error` set.
    virtual bool Finish(std::string& error) = 0;
};

// .txt, .bds and .avi outputs, written by the viewer's own stream recorder. `path` as
// ResolveOutputPath returned it. Null with `error` set when the file cannot be created.
std::unique_ptr<IConvertSink> CreateRecordingSink(FileKind kind, const std::string& path,
                                                  const struct stat& input, std::string& error);

// .csv output. `sourceName` is named in each frame's comment line.
std::unique_ptr<IConvertSink> CreateCsvSink(const std::string& path, const struct stat& input,
                                            const std::string& sourceName, std::string& error);

// .csv output of --region: one line per frame with the minimum, mean and maximum of `region`.
std::unique_ptr<IConvertSink> CreateRegionCsvSink(const std::string& path, const struct stat& input,
                                                  const std::string& sourceName,
                                                  const SensorRegion& region, std::string& error);

// .tiff output: one 16-bit page per frame, the values as stored, in sensor orientation mirrored by
// `mirrorMode` as the display is, with a JSON description of the scale on each page.
std::unique_ptr<IConvertSink> CreateTiffSink(const std::string& path, const struct stat& input,
                                             int mirrorMode, std::string& error);

// .npy output: one float32 array of shape (frames, 31, 32), the numbers of the CSV.
std::unique_ptr<IConvertSink> CreateNumpySink(const std::string& path, const struct stat& input,
                                              std::string& error);

// One image file per frame in `directory` (created if needed): frame_000001.bmp or .png, ...
// A sink destroyed before its first picture removes the directories it created.
std::unique_ptr<IConvertSink> CreateImageFilesSink(const std::string& directory, bool png,
                                                   std::string& error);
