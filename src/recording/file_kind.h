#pragma once
// Which kind of file a path names, by its extension: the one table the viewer's "Save to..." and
// "Play", `thermal record`, `thermal convert` and `thermal info` all read. Pure; any thread.
#include <string_view>

enum class FileKind {
    kUnknown,
    kBinaryStream,  // .bds: frame blocks as the module sent them, each after a 16-byte header
    kTextStream,    // .txt: 34 lines a frame, the processed values
    kRawFrames,     // .bin: 992 big-endian values a frame, no header
    kCapture,       // .raw: bytes as they came over the serial line
    kVideo,         // .avi: the display images as MPEG-4 video
    kCsv,           // .csv: one line of values a frame, for spreadsheets
    kTiff,          // .tiff or .tif: one 16-bit page a frame, for image analysis programs
    kNumpy,         // .npy: one array of every frame's values, for NumPy
};

// The kind named by the extension after the last dot of the file name (not of a directory),
// compared without regard to case.
FileKind FileKindOf(std::string_view path);

// Play-back names a file's kind by the last three characters of its path alone, so "rec.BDS"
// and even "recbds" play as binary streams. Only the kinds play-back knows are found this way:
// binary and text streams, raw frames and video.
FileKind PlayedFileKindOf(std::string_view path);

// The extension of a kind in lower case without its dot ("bds", "tiff" for both TIFF names); ""
// for kUnknown.
const char* ExtensionOf(FileKind kind);

// The recorder's type (kRecordingBinary, kRecordingText or kRecordingVideo of
// stream_recorder.h) for a kind it records, else 0; and back.
int RecordingTypeOf(FileKind kind);
FileKind FileKindOfRecordingType(int type);
