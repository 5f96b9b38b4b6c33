#include "outputs/output_table.h"

namespace {

// The recorder writes the recordings: as one file of a conversion, or as the viewer's "Rec"
// writes the live module's.
std::unique_ptr<IFrameSink> MakeRecording(FileKind kind, const FileSinkOptions& options) {
    return options.place.mode == OutputFileMode::kGrowing ? MakeRecordingSink(kind, options)
                                                          : MakeRecordingFileSink(kind, options);
}

std::unique_ptr<IFrameSink> MakeTable(FileKind, const FileSinkOptions& options) {
    return options.region ? MakeRegionCsvSink(options) : MakeCsvSink(options);
}

std::unique_ptr<IFrameSink> MakeTiff(FileKind, const FileSinkOptions& options) {
    return MakeTiffSink(options);
}

std::unique_ptr<IFrameSink> MakeNumpy(FileKind, const FileSinkOptions& options) {
    return MakeNumpySink(options);
}

constexpr OutputRow kRows[] = {
    {FileKind::kBinaryStream, ".bds", MakeRecording},
    {FileKind::kTextStream, ".txt", MakeRecording},
    {FileKind::kVideo, ".avi", MakeRecording},
    {FileKind::kCsv, ".csv", MakeTable},
    {FileKind::kTiff, ".tiff, .tif", MakeTiff},
    {FileKind::kNumpy, ".npy", MakeNumpy},
};

}  // namespace

std::span<const OutputRow> OutputRows() {
    return kRows;
}

std::unique_ptr<IFrameSink> MakeFileSink(FileKind kind, const FileSinkOptions& options) {
    for (const OutputRow& row : kRows) {
        if (row.kind == kind) {
            return row.make(kind, options);
        }
    }
    return nullptr;
}
