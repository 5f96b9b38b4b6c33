#pragma once
// The one table from an output file's kind (its extension, file_kind.h) to the output that writes
// it, for `thermal convert`, `thermal record` and the viewer's "Save to...": a new output is one
// class (file_sinks.h) and one row here. Pure; any thread.
#include <memory>
#include <span>

#include "outputs/file_sinks.h"
#include "recording/file_kind.h"

struct OutputRow {
    FileKind kind;
    const char* extensions;  // ".csv", ".tiff, .tif"
    // Makes the output; FileSinkOptions::place says whether its file appears when complete (a
    // conversion) or grows as frames come (a live recording).
    std::unique_ptr<IFrameSink> (*make)(FileKind kind, const FileSinkOptions& options);
};

// Every row, in the order the outputs are offered.
std::span<const OutputRow> OutputRows();
// The output of `kind`, or null when no row writes that kind.
std::unique_ptr<IFrameSink> MakeFileSink(FileKind kind, const FileSinkOptions& options);
