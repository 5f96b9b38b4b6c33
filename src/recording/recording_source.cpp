#include "recording/recording_source.h"

#include <unistd.h>

#include <cerrno>

#include "recording/binary_stream_source.h"
#include "recording/capture_source.h"
#include "recording/raw_frame_source.h"
#include "recording/read_only_file.h"
#include "recording/text_stream_source.h"

CRecordingSource::CRecordingSource(FileKind kind, int fd, const struct stat& status)
    : m_kind(kind), m_fd(fd), m_status(status) {}

CRecordingSource::~CRecordingSource() {
    ::close(m_fd);
}

RecordingOpening OpenRecordingSource(const std::string& path, FileKind kind,
                                     const RecordingSourceOptions& options) {
    if (kind != FileKind::kBinaryStream && kind != FileKind::kTextStream &&
        kind != FileKind::kRawFrames && kind != FileKind::kCapture) {
        return {nullptr, EINVAL};
    }
    const int fd = OpenRecordingForReading(path);
    if (fd < 0) {
        return {nullptr, errno};
    }
    struct stat status {};
    if (::fstat(fd, &status) != 0) {
        const int error = errno;
        ::close(fd);
        return {nullptr, error};
    }
    RecordingOpening opening;
    switch (kind) {
        case FileKind::kBinaryStream:
            opening.source =
                std::make_unique<CBinaryStreamSource>(fd, status, options.stopAtUnknownHeader);
            break;
        case FileKind::kTextStream:
            opening.source = std::make_unique<CTextStreamSource>(fd, status);
            break;
        case FileKind::kRawFrames:
            opening.source = std::make_unique<CRawFrameSource>(fd, status);
            break;
        default:
            opening.source = std::make_unique<CCaptureSource>(fd, status, options.captureLetter);
            break;
    }
    if (opening.source->ErrorNumber() != 0) {
        opening.errorNumber = opening.source->ErrorNumber();
        opening.source.reset();
    }
    return opening;
}
