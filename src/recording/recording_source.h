#pragma once
// CRecordingSource: a recording file read as a frame source, one record at a time, so memory
// stays the same whatever the file's size. OpenRecordingSource opens any kind that holds frames
// (binary stream, text stream, raw frames, capture of the line) and tells what its first record
// says, so that play-back, `thermal convert` and `thermal info` read every kind through the same
// code and differ only in what they do with the frames and the problems found. One thread at a
// time; nothing but the disk is waited for (a FIFO under a recording's name is refused).
#include <sys/stat.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "frame/frame_source.h"
#include "platform/result.h"
#include "recording/file_kind.h"
#include "recording/text_mode_reader.h"

class CRecordingSource : public IFrameSource {
  public:
    ~CRecordingSource() override;
    CRecordingSource(const CRecordingSource&) = delete;
    CRecordingSource& operator=(const CRecordingSource&) = delete;

    FileKind Kind() const { return m_kind; }
    // The file's status when opened (device and inode tell outputs from the input).
    const struct stat& Status() const { return m_status; }
    uint64_t Size() const { return static_cast<uint64_t>(m_status.st_size); }
    // The data mode the first record names (kDataMode* of record_header.h): binary and text
    // streams as play-back probes them, raw frames always voltage, captures by their letter.
    // kDataModeUnknown also for an empty stream.
    int DataMode() const { return m_dataMode; }
    // True when the file starts with a whole header naming a known mode ("Mode=T" or "Mode=V";
    // "Mode=" and V, K, C or F in any case), as a reader that must not guess requires. Raw frames
    // and captures have no header and always pass.
    bool StartsWithKnownHeader() const { return m_startsWithKnownHeader; }
    // Text streams: how the first line ended when it lost the CR every recorded line keeps, as
    // after an editor saved the file again. No frame of such a file parses.
    std::optional<TextLineEnd> FirstLineEndLost() const { return m_firstLineEndLost; }

    // Text streams: the lines read so far that ended in a line feed, the count against which
    // lines reported for ending otherwise than as recorded are weighed. 0 for other kinds.
    uint64_t LineFeedCount() const { return m_lineFeedCount; }

    int ErrorNumber() const override { return m_errorNumber; }

    // Back to the first frame. Returns false (ErrorNumber says why) if the file cannot seek.
    virtual bool Rewind() = 0;

  protected:
    CRecordingSource(FileKind kind, int fd, const struct stat& status);

    // Files of fixed-size records (binary streams, raw frames): reads the next `size` bytes into
    // `buffer`; `start` receives where they begin. kFrame when all arrived; at the end kEnd,
    // after reporting a short last record; kError with the errno kept.
    SourceRead ReadRecordBytes(uint8_t* buffer, std::size_t size, uint64_t& start);
    // Files of fixed-size records: back to their first record.
    bool SeekToStart();
    // Reports `bytes` skipped from `start` (units of them, `unitsPerRecord` to a record: bytes or
    // lines) and counts the records they stood for: the nearest whole number, so that frames
    // after a record damaged in place keep the numbers play-back gives them, and frames after
    // bytes lost or added come as close as the bytes tell.
    void SkipStretch(uint64_t start, uint64_t bytes, uint64_t units, uint64_t unitsPerRecord);

    const FileKind m_kind;
    const int m_fd;  // owned, closed with the source
    const struct stat m_status;
    int m_dataMode = kDataModeUnknown;
    bool m_startsWithKnownHeader = false;
    std::optional<TextLineEnd> m_firstLineEndLost;
    int m_errorNumber = 0;
    uint64_t m_frameCount = 0;  // frames handed out so far
    uint64_t m_lineFeedCount = 0;
    uint64_t m_position = 0;  // bytes read, for files of fixed-size records
    bool m_isEnded = false;   // the end or a record that ends the source was found
};

struct RecordingSourceOptions {
    // Skip damage up to the next record header, as a converter must: it cannot tell a record
    // whose header names no known mode from bytes out of step. In a binary stream such a record
    // starts a stretch that ends where the next "Mode=T" or "Mode=V" header is found, byte by
    // byte. In a text stream a record starts only at a header line naming a recorded mode: lines
    // before one are skipped, and a header line among a record's lines ends that record as
    // damaged and starts the next. Each stretch is reported once (kSkipped), and the frames after
    // it are numbered as if it had held whole records. Play-back and inspection read record after
    // record as play-back does: an unknown binary header as a voltage frame, an unknown text
    // header as kelvin.
    bool skipToNextHeader = false;
    // The frames a capture is cut for: a frame letter (K, k, t, c, C).
    char captureLetter = 'K';
};

// Opens `path` as `kind` (kBinaryStream, kTextStream, kRawFrames or kCapture). A failure names
// the call and carries its errno as Code(): EISDIR for a directory, EINVAL for any other file
// that is not a regular one (nothing that could wait for a writer is opened).
Result<std::unique_ptr<CRecordingSource>> OpenRecordingSource(
    const std::string& path, FileKind kind, const RecordingSourceOptions& options = {});
