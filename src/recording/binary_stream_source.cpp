#include "recording/binary_stream_source.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "recording/read_only_file.h"

namespace {

// The first place from `from` on where a known record header may start, as far as the bytes
// before `size` tell; `size` when there is none.
std::size_t FindHeaderStart(const uint8_t* bytes, std::size_t size, std::size_t from) {
    for (std::size_t at = from; at < size; ++at) {
        const void* found = std::memchr(bytes + at, 'M', size - at);
        if (found == nullptr) {
            break;
        }
        at = static_cast<std::size_t>(static_cast<const uint8_t*>(found) - bytes);
        if (MayStartKnownRecordHeader(bytes + at, std::min<std::size_t>(size - at, 6))) {
            return at;
        }
    }
    return size;
}

}  // namespace

CBinaryStreamSource::CBinaryStreamSource(int fd, const struct stat& status, bool skipToNextHeader)
    : CRecordingSource(FileKind::kBinaryStream, fd, status), m_skipToNextHeader(skipToNextHeader) {
    uint8_t header[kBinaryRecordHeaderSize] = {};
    const ssize_t got = ::pread(fd, header, sizeof header, 0);
    if (got < 0) {
        m_errorNumber = errno;
    } else if (got == static_cast<ssize_t>(sizeof header)) {
        m_dataMode = DataModeOfRecordHeader(header);
        m_startsWithKnownHeader = IsKnownRecordHeader(header);
    }
}

SourceRead CBinaryStreamSource::Next(SourceFrame& frame) {
    uint64_t start = 0;
    const SourceRead read = ReadRecordBytes(m_record.data(), m_record.size(), start);
    if (read != SourceRead::kFrame) {
        return read;
    }
    const auto* chars = reinterpret_cast<const char*>(m_record.data());
    if (!IsKnownRecordHeader(m_record.data())) {
        if (m_skipToNextHeader) {
            const SourceRead found = SkipToNextHeader(start);
            if (found != SourceRead::kFrame) {
                return found;
            }
        } else {
            Report({SourceProblemKind::kUnknownHeader, start, m_frameCount + 1, 0,
                    std::string_view(chars, kBinaryRecordHeaderSize)});
        }
    }
    const uint64_t number = ++m_frameCount;
    frame = {};
    frame.kind = SourceFrameKind::kBlock;
    frame.number = number;
    frame.byteOffset = start;
    frame.modeLetter = ModeLetterOfRecord(m_record.data());
    frame.block = m_record.data() + kBinaryRecordHeaderSize;
    frame.header = std::string_view(chars, kBinaryRecordHeaderSize);
    frame.stored = std::string_view(chars, m_record.size());
    return SourceRead::kFrame;
}

SourceRead CBinaryStreamSource::SkipToNextHeader(uint64_t& start) {
    const uint64_t stretchStart = start;
    std::size_t held = m_record.size();  // bytes of m_record holding the file from `start` on
    std::size_t from = 1;
    for (;;) {
        const std::size_t at = FindHeaderStart(m_record.data(), held, from);
        std::memmove(m_record.data(), m_record.data() + at, held - at);
        held -= at;
        start += at;
        const ssize_t got = ReadFully(m_fd, m_record.data() + held, m_record.size() - held);
        if (got < 0) {
            m_errorNumber = errno;
            return SourceRead::kError;
        }
        m_position += static_cast<uint64_t>(got);
        held += static_cast<std::size_t>(got);
        if (held < m_record.size()) {
            m_isEnded = true;
            // A whole header followed by less than a record is a short last record; anything
            // less is part of the damage.
            const bool isShortRecord =
                held >= 6 && MayStartKnownRecordHeader(m_record.data(), held);
            const uint64_t skipped = start - stretchStart + (isShortRecord ? 0 : held);
            SkipStretch(stretchStart, skipped, skipped, kBinaryRecordSize);
            if (isShortRecord) {
                Report({SourceProblemKind::kShortEnd, start, m_frameCount + 1, held});
            }
            return SourceRead::kEnd;
        }
        if (IsKnownRecordHeader(m_record.data())) {
            SkipStretch(stretchStart, start - stretchStart, start - stretchStart,
                        kBinaryRecordSize);
            return SourceRead::kFrame;
        }
        from = 1;
    }
}
