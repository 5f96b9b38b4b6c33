#include "recording/text_stream_source.h"

#include <cerrno>

#include "recording/playback_rules.h"

namespace {

// A recorded line keeps the CR it was written with; one that lost it was saved again by a
// program that reads lines differently.
bool LostItsCr(std::string_view line, TextLineEnd end) {
    return end != TextLineEnd::kEndOfFile && (line.empty() || line.back() != '\r');
}

}  // namespace

CTextStreamSource::CTextStreamSource(int fd, const struct stat& status)
    : CRecordingSource(FileKind::kTextStream, fd, status) {
    m_reader.Attach(fd);
    std::string line;
    TextLineEnd end = TextLineEnd::kEndOfFile;
    if (m_reader.ReadLine(line, &end) == 0) {
        m_errorNumber = m_reader.ReadError();
        return;
    }
    m_dataMode = DataModeOfTextHeader(line);
    m_startsWithKnownHeader = line.compare(0, 5, "Mode=") == 0 && m_dataMode != kDataModeUnknown;
    if (LostItsCr(line, end)) {
        m_firstLineEndLost = end;
    }
    if (m_reader.Rewind() == 0) {
        m_errorNumber = errno != 0 ? errno : EIO;
    }
}

CTextStreamSource::~CTextStreamSource() {
    m_reader.Detach();
}

SourceRead CTextStreamSource::Next(SourceFrame& frame) {
    if (m_isEnded) {
        return SourceRead::kEnd;
    }
    m_record.clear();
    const uint64_t start = m_reader.Position();
    const uint64_t number = m_frameCount + 1;
    std::size_t headerLength = 0;
    int lines = 0;
    for (; lines < kTextRecordLineCount; ++lines) {
        const uint64_t lineByte = m_reader.Position();
        const std::size_t before = m_record.size();
        TextLineEnd end = TextLineEnd::kEndOfFile;
        if (m_reader.ReadLine(m_record, &end) == 0) {
            break;
        }
        if (lines == 0) {
            headerLength = m_record.size();
        }
        m_lineFeedCount += end != TextLineEnd::kEndOfFile ? 1 : 0;
        if (LostItsCr(std::string_view(m_record).substr(before), end)) {
            Report({end == TextLineEnd::kCrLf ? SourceProblemKind::kSingleCrLf
                                              : SourceProblemKind::kBareLineFeed,
                    lineByte, number});
        }
    }
    if (m_reader.ReadError() != 0) {
        m_errorNumber = m_reader.ReadError();
        return SourceRead::kError;
    }
    if (lines < kTextRecordLineCount) {
        m_isEnded = true;
        if (lines > 0) {
            Report({SourceProblemKind::kShortEnd, start, number, static_cast<uint64_t>(lines)});
        }
        return SourceRead::kEnd;
    }
    std::string_view header(m_record.data(), headerLength);
    if (!header.empty() && header.back() == '\r') {
        header.remove_suffix(1);
    }
    if (!NamesRecordedTextMode(header)) {
        Report({SourceProblemKind::kUnknownHeader, start, number, 0, header});
    } else if (!IsWellFormedTextHeader(header)) {
        Report({SourceProblemKind::kMalformedHeader, start, number, 0, header});
    }
    m_frameCount = number;
    const TextRecordParts parts = SplitTextRecord(m_record);
    frame = {};
    frame.kind = SourceFrameKind::kText;
    frame.number = number;
    frame.byteOffset = start;
    frame.textMode = TextPlayModeOf(parts.header);
    frame.modeLetter = frame.textMode.modeChar;
    frame.header = parts.header;
    frame.frameText = parts.frameText;
    frame.stored = m_record;
    return SourceRead::kFrame;
}

bool CTextStreamSource::Rewind() {
    if (m_reader.Rewind() == 0) {
        m_errorNumber = errno != 0 ? errno : EIO;
        return false;
    }
    m_frameCount = 0;
    m_lineFeedCount = 0;
    m_isEnded = false;
    return true;
}
