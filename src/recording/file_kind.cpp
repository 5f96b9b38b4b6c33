#include "recording/file_kind.h"

#include <cctype>

#include "recording/stream_recorder.h"

namespace {

struct FileKindEntry {
    FileKind kind;
    const char* extension;  // lower case, without the dot
    bool played;            // known to play-back by the last three characters
    int recordingType;      // what the recorder writes for it, or 0
};

constexpr FileKindEntry kFileKinds[] = {
    {FileKind::kBinaryStream, "bds", true, kRecordingBinary},
    {FileKind::kTextStream, "txt", true, kRecordingText},
    {FileKind::kRawFrames, "bin", true, 0},
    {FileKind::kCapture, "raw", false, 0},
    {FileKind::kVideo, "avi", true, kRecordingVideo},
    {FileKind::kCsv, "csv", false, 0},
    // Outputs of `thermal convert` only: neither played back nor recorded.
    {FileKind::kTiff, "tiff", false, 0},
    {FileKind::kTiff, "tif", false, 0},
    {FileKind::kNumpy, "npy", false, 0},
};

bool SameWithoutCase(std::string_view text, std::string_view lower) {
    if (text.size() != lower.size()) {
        return false;
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(text[i])) != lower[i]) {
            return false;
        }
    }
    return true;
}

}  // namespace

FileKind FileKindOf(std::string_view path) {
    const std::size_t dot = path.rfind('.');
    if (dot == std::string_view::npos || path.find('/', dot) != std::string_view::npos) {
        return FileKind::kUnknown;
    }
    for (const FileKindEntry& entry : kFileKinds) {
        if (SameWithoutCase(path.substr(dot + 1), entry.extension)) {
            return entry.kind;
        }
    }
    return FileKind::kUnknown;
}

FileKind PlayedFileKindOf(std::string_view path) {
    if (path.size() < 3) {
        return FileKind::kUnknown;
    }
    for (const FileKindEntry& entry : kFileKinds) {
        if (entry.played && SameWithoutCase(path.substr(path.size() - 3), entry.extension)) {
            return entry.kind;
        }
    }
    return FileKind::kUnknown;
}

const char* ExtensionOf(FileKind kind) {
    for (const FileKindEntry& entry : kFileKinds) {
        if (entry.kind == kind) {
            return entry.extension;
        }
    }
    return "";
}

int RecordingTypeOf(FileKind kind) {
    for (const FileKindEntry& entry : kFileKinds) {
        if (entry.kind == kind) {
            return entry.recordingType;
        }
    }
    return 0;
}

FileKind FileKindOfRecordingType(int type) {
    for (const FileKindEntry& entry : kFileKinds) {
        if (entry.recordingType != 0 && entry.recordingType == type) {
            return entry.kind;
        }
    }
    return FileKind::kUnknown;
}
