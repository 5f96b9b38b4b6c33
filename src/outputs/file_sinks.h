#pragma once
// The outputs that write files, each an IFrameSink of a run: CSV tables (full frames or a
// region's statistics), TIFF stacks, NumPy arrays, pictures, and the recordings (text and binary
// streams, videos). Each creates its file in Begin, where and how FileSinkOptions::place says: a
// conversion's file appears only when complete (destroyed unfinished, it leaves nothing), a live
// recording's grows as frames come. output_table.h picks the one an extension names. The run's
// thread only.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "outputs/output_file.h"
#include "processing/frame_readout.h"
#include "recording/file_kind.h"
#include "run/frame_sink.h"

struct FileSinkOptions {
    OutputPlace place;
    std::string sourceName;              // named in a CSV file's comment lines
    std::optional<SensorRegion> region;  // .csv: one line of the region's statistics a frame
    bool isBigTiff = false;  // .tiff: a BigTIFF, for inputs that may make one past 4 GiB
    // Recordings of the live module (a growing place): every N-th frame into a stream, and the
    // records or video frames after which the recording ends (0: none).
    int everyN = 1;
    uint64_t frameLimit = 0;
    // Whether the first stop of such a recording (a failed write, a low disk) ends it, as for
    // `thermal record`; the viewer instead writes the frames that still come while the file
    // takes them (RecordingRunRules::endsAtFirstStop).
    bool endsAtFirstStop = true;
};

// .csv: per frame a comment line naming the source, the frame and the mode, then 31 lines of 32
// values in sensor orientation, with the digits of the text frame.
std::unique_ptr<IFrameSink> MakeCsvSink(const FileSinkOptions& options);
// .csv with a region: one line per frame with the region's minimum, mean and maximum.
std::unique_ptr<IFrameSink> MakeRegionCsvSink(const FileSinkOptions& options);
// .tiff: one 16-bit page per frame, the values as stored, in sensor orientation mirrored as the
// display is, with a JSON description of the scale on each page.
std::unique_ptr<IFrameSink> MakeTiffSink(const FileSinkOptions& options);
// .npy: one float32 array of shape (frames, 31, 32), the numbers of the CSV.
std::unique_ptr<IFrameSink> MakeNumpySink(const FileSinkOptions& options);
// .txt, .bds and .avi of a conversion: one file, written by the viewer's own stream recorder
// (every frame's picture a video frame), appearing when complete.
std::unique_ptr<IFrameSink> MakeRecordingFileSink(FileKind kind, const FileSinkOptions& options);
// .txt, .bds and .avi of the live module, as the viewer's "Rec" writes them: split into parts,
// stopped on a low disk, the display sampled 20 times a second for a video.
std::unique_ptr<IFrameSink> MakeRecordingSink(FileKind kind, const FileSinkOptions& options);
// One picture file per frame in `directory` (created if needed): frame_000001.bmp or .png, ...
// A sink destroyed before its first picture removes the directories it created.
std::unique_ptr<IFrameSink> MakePictureSink(const std::string& directory, bool png);
