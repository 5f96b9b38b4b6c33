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

SourceRead CRecordingSource::ReadRecordBytes(uint8_t* buffer, std::size_t size, uint64_t& start) {
    if (m_isEnded) {
        return SourceRead::kEnd;
    }
    start = m_position;
    const ssize_t got = ReadFully(m_fd, buffer, size);
    if (got < 0) {
        m_errorNumber = errno;
        return SourceRead::kError;
    }
    m_position += static_cast<uint64_t>(got);
    if (got != static_cast<ssize_t>(size)) {
        m_isEnded = true;
        if (got > 0) {
            Report({SourceProblemKind::kShortEnd, start, m_frameCount + 1,
                    static_cast<uint64_t>(got)});
        }
        return SourceRead::kEnd;
    }
    return SourceRead::kFrame;
}

bool CRecordingSource::SeekToStart() {
    if (::lseek(m_fd, 0, SEEK_SET) != 0) {
        m_errorNumber = errno;
        return false;
    }
    m_position = 0;
    m_frameCount = 0;
    m_isEnded = false;
    return true;
}

void CRecordingSource::SkipStretch(uint64_t start, uint64_t bytes, uint64_t units,
                                   uint64_t unitsPerRecord) {
    Report({SourceProblemKind::kSkipped, start, m_frameCount + 1, bytes});
    m_frameCount += (units + unitsPerRecord / 2) / unitsPerRecord;
}

Result<std::unique_ptr<CRecordingSource>> OpenRecordingSource(
    const std::string& path, FileKind kind, const RecordingSourceOptions& options) {
    if (kind != FileKind::kBinaryStream && kind != FileKind::kTextStream &&
        kind != FileKind::kRawFrames && kind != FileKind::kCapture) {
        return Status::Failure("no recording of frames", EINVAL);
    }
    const int fd = OpenRecordingForReading(path);
    if (fd < 0) {
        return Status::CallFailed("open()", errno);
    }
    struct stat status {};
    if (::fstat(fd, &status) != 0) {
        const int error = errno;
        ::close(fd);
        return Status::CallFailed("fstat()", error);
    }
    std::unique_ptr<CRecordingSource> source;
    switch (kind) {
        case FileKind::kBinaryStream:
            source = std::make_unique<CBinaryStreamSource>(fd, status, options.skipToNextHeader);
            break;
        case FileKind::kTextStream:
            source = std::make_unique<CTextStreamSource>(fd, status, options.skipToNextHeader);
            break;
        case FileKind::kRawFrames:
            source = std::make_unique<CRawFrameSource>(fd, status);
            break;
        default:
            source = std::make_unique<CCaptureSource>(fd, status, options.captureLetter);
            break;
    }
    if (source->ErrorNumber() != 0) {
        return Status::CallFailed("read()", source->ErrorNumber());
    }
    return source;
}
