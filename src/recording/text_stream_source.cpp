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

CTextStreamSource::CTextStreamSource(int fd, const struct stat& status, bool skipToNextHeader)
    : CRecordingSource(FileKind::kTextStream, fd, status), m_skipToNextHeader(skipToNextHeader) {
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
    uint64_t start = 0;
    std::size_t headerLength = 0;
    int lines = 0;
    // Damage being skipped: where it starts and the lines in it.
    uint64_t skipStart = 0;
    uint64_t skippedLines = 0;
    while (lines < kTextRecordLineCount) {
        const std::size_t before = m_record.size();
        uint64_t lineByte = 0;
        TextLineEnd end = TextLineEnd::kEndOfFile;
        if (!TakeLine(lineByte, end)) {
            break;
        }
        const std::string_view line = std::string_view(m_record).substr(before);
        // Skipping damage, a record starts at a header line and holds no other.
        if (m_skipToNextHeader && IsRecordedTextHeader(line) != (lines == 0)) {
            if (skippedLines == 0) {
                skipStart = lines == 0 ? lineByte : start;
            }
            skippedLines += lines == 0 ? 1 : static_cast<uint64_t>(lines);
            if (lines > 0) {
                PutBack(line, lineByte, end);
                lines = 0;
            }
            m_record.clear();
            continue;
        }
        if (lines == 0) {
            start = lineByte;
            if (skippedLines != 0) {
                SkipStretch(skipStart, start - skipStart, skippedLines, kTextRecordLineCount);
                skippedLines = 0;
            }
        }
        if (lines == 0) {
            headerLength = m_record.size();
        }
        if (LostItsCr(line, end)) {
            Report({end == TextLineEnd::kCrLf ? SourceProblemKind::kSingleCrLf
                                              : SourceProblemKind::kBareLineFeed,
                    lineByte, m_frameCount + 1});
        }
        ++lines;
    }
    if (m_reader.ReadError() != 0) {
        m_errorNumber = m_reader.ReadError();
        return SourceRead::kError;
    }
    if (lines < kTextRecordLineCount) {
        m_isEnded = true;
        if (skippedLines != 0) {
            const uint64_t skipped = Position() - skipStart;
            SkipStretch(skipStart, skipped, skippedLines, kTextRecordLineCount);
        }
        if (lines > 0) {
            Report({SourceProblemKind::kShortEnd, start, m_frameCount + 1,
                    static_cast<uint64_t>(lines)});
        }
        return SourceRead::kEnd;
    }
    const uint64_t number = ++m_frameCount;
    std::string_view header(m_record.data(), headerLength);
    if (!header.empty() && header.back() == '\r') {
        header.remove_suffix(1);
    }
    if (!NamesRecordedTextMode(header)) {
        Report({SourceProblemKind::kUnknownHeader, start, number, 0, header});
    } else if (!IsWellFormedTextHeader(header)) {
        Report({SourceProblemKind::kMalformedHeader, start, number, 0, header});
    }
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

bool CTextStreamSource::TakeLine(uint64_t& lineByte, TextLineEnd& end) {
    if (m_hasPutBack) {
        m_hasPutBack = false;
        m_record += m_putBackLine;
        lineByte = m_putBackByte;
        end = m_putBackEnd;
        return true;
    }
    lineByte = m_reader.Position();
    if (m_reader.ReadLine(m_record, &end) == 0) {
        return false;
    }
    m_lineFeedCount += end != TextLineEnd::kEndOfFile ? 1 : 0;
    return true;
}

void CTextStreamSource::PutBack(std::string_view line, uint64_t lineByte, TextLineEnd end) {
    m_hasPutBack = true;
    m_putBackLine.assign(line);
    m_putBackByte = lineByte;
    m_putBackEnd = end;
}

bool CTextStreamSource::Rewind() {
    if (m_reader.Rewind() == 0) {
        m_errorNumber = errno != 0 ? errno : EIO;
        return false;
    }
    m_frameCount = 0;
    m_lineFeedCount = 0;
    m_isEnded = false;
    m_hasPutBack = false;
    return true;
}
