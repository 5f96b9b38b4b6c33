#include "convert_source.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "frame/binary_record_reader.h"
#include "recording/playback_rules.h"
#include "recording/read_only_file.h"

namespace {

constexpr std::size_t kCaptureReadBytes = 64 * 1024;

std::size_t RecordBytesOf(ConvertInput kind) {
    switch (kind) {
        case ConvertInput::kBinaryStream:
            return kBinaryRecordSize;
        case ConvertInput::kRawFrames:
            return kRawFrameSize;
        case ConvertInput::kCapture:
            return kCaptureReadBytes;
        case ConvertInput::kTextStream:
            break;
    }
    return 0;
}

}  // namespace

CConvertSource::~CConvertSource() {
    m_textReader.Detach();
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

std::string CConvertSource::Open(const std::string& path, ConvertInput kind) {
    m_path = path;
    m_kind = kind;
    m_fd = OpenRecordingForReading(path);
    if (m_fd < 0) {
        const int error = errno;
        if (error == EINVAL) {
            return "cannot read '" + path + "': it is not a regular file";
        }
        return "cannot open '" + path + "': " + std::strerror(error);
    }
    if (::fstat(m_fd, &m_status) != 0) {
        return "fstat() failed on '" + path + "': " + std::strerror(errno);
    }
    m_bytes.resize(RecordBytesOf(kind));
    if (m_status.st_size == 0) {
        return {};
    }
    // Play-back refuses a stream whose first record names no known mode; so does this.
    if (kind == ConvertInput::kBinaryStream) {
        uint8_t header[kBinaryRecordHeaderSize] = {};
        const ssize_t got = ::pread(m_fd, header, sizeof header, 0);
        if (got < 0) {
            return "cannot read '" + path + "': " + std::strerror(errno);
        }
        if (got != static_cast<ssize_t>(sizeof header) || !IsKnownRecordHeader(header)) {
            return "'" + path + "' is not a binary stream recording (no Mode=T or Mode=V header)";
        }
    } else if (kind == ConvertInput::kTextStream) {
        m_textReader.Attach(m_fd);
        std::string line;
        if (m_textReader.ReadLine(line) == 0) {
            const int error = m_textReader.ReadError();
            return "cannot read '" + path + "': " + std::strerror(error != 0 ? error : EIO);
        }
        const char mode = line.size() > 5 ? line[5] : '\0';
        if (line.compare(0, 5, "Mode=") != 0 || std::strchr("VvKkCcFf", mode) == nullptr ||
            mode == '\0') {
            return "'" + path +
                   "' is not a text stream recording (its first line is not Mode=V, K, C or F)";
        }
        if (m_textReader.Rewind() == 0) {
            return "cannot read '" + path + "' from its start again";
        }
    }
    return {};
}

CConvertSource::Read CConvertSource::NextBytes() {
    const ssize_t got = ReadFully(m_fd, m_bytes.data(), m_bytes.size());
    if (got < 0) {
        m_error = "cannot read '" + m_path + "': " + std::strerror(errno);
        return Read::kError;
    }
    m_position += static_cast<uint64_t>(got);
    m_count = static_cast<std::size_t>(got);
    if (m_kind == ConvertInput::kCapture) {
        return got > 0 ? Read::kRecord : Read::kEnd;
    }
    const uint64_t start = m_position - m_count;
    if (m_count == m_bytes.size()) {
        // A record without its header is not a frame, whatever play-back would make of it: the
        // file is out of step or damaged from here on (zeros where a crash left a hole).
        if (m_kind == ConvertInput::kBinaryStream && !IsKnownRecordHeader(m_bytes.data())) {
            m_endNote = "everything from byte " + std::to_string(start) + " on, where record " +
                        std::to_string(start / m_bytes.size() + 1) +
                        " has no Mode=T or Mode=V header and the file stops being whole";
            return Read::kEnd;
        }
        return Read::kRecord;
    }
    if (got > 0) {
        m_endNote = "a short last record of " + std::to_string(got) + " bytes at byte " +
                    std::to_string(start) + ", where the file stops being whole";
    }
    return Read::kEnd;
}

CConvertSource::Read CConvertSource::NextText() {
    m_text.clear();
    const uint64_t start = m_textReader.Position();
    for (int line = 0; line < kTextRecordLineCount; ++line) {
        if (m_textReader.ReadLine(m_text) == 0) {
            const int error = m_textReader.ReadError();
            if (error != 0) {
                m_error = "cannot read '" + m_path + "': " + std::strerror(error);
                return Read::kError;
            }
            if (line > 0) {
                m_endNote = "a short last frame of " + std::to_string(line) + " of " +
                            std::to_string(kTextRecordLineCount) + " lines at byte " +
                            std::to_string(start) + ", where the file stops being whole";
            }
            return Read::kEnd;
        }
    }
    return Read::kRecord;
}

uint64_t CConvertSource::Position() const {
    return m_kind == ConvertInput::kTextStream ? m_textReader.Position() : m_position;
}
