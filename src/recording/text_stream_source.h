#pragma once
// CTextStreamSource: a text stream recording (.txt) as a frame source: records of 34 lines (the
// header line "Mode=%c ElOff=%c" and the 33 lines of the frame), read as a text-mode stream
// reads them, each handed out with what its header asks of play-back. Headers that name no known
// mode or are not well formed, and lines that lost the CR the recorder leaves at their end, are
// reported with the byte where they start; a short last record is reported and ends the source.
// A reader that asked to skip damage gets records that start at a recorded header line only (see
// RecordingSourceOptions).
#include <string>

#include "recording/recording_source.h"
#include "recording/text_mode_reader.h"

class CTextStreamSource final : public CRecordingSource {
  public:
    // Takes `fd` (open for reading, at its start) and reads the first line.
    CTextStreamSource(int fd, const struct stat& status, bool skipToNextHeader);
    ~CTextStreamSource() override;

    SourceRead Next(SourceFrame& frame) override;
    bool Rewind() override;
    uint64_t Position() const override { return m_reader.Position(); }

  private:
    // Appends the next line to m_record: the one put back, or the file's next. False at the end
    // of the file or when a read failed.
    bool TakeLine(uint64_t& lineByte, TextLineEnd& end);
    // Keeps `line`, which starts at `lineByte`, for the next TakeLine.
    void PutBack(std::string_view line, uint64_t lineByte, TextLineEnd end);

    const bool m_skipToNextHeader;
    CTextModeReader m_reader;
    std::string m_record;  // the record handed out last
    // A header line found among a record's lines when skipping damage: the next record's first.
    bool m_hasPutBack = false;
    std::string m_putBackLine;
    uint64_t m_putBackByte = 0;
    TextLineEnd m_putBackEnd = TextLineEnd::kEndOfFile;
};
