#pragma once
// IFrameSource: anything that yields frames in order: a recording being read (binary stream,
// text stream, raw frame file, a capture of the serial line), the live module, or frames that
// arrive from another program. Players, converters and inspectors take frames with Next() and
// learn what is wrong with the source through problem reports, each with the byte offset and
// frame number where it was found, so each reader words them for its own user. A source is used
// by one thread at a time; frames handed out stay valid until the next call of Next.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "frame/record_header.h"

enum class SourceFrameKind {
    kBlock,      // a frame block as the module sends it, with the letter it is processed with
    kText,       // a text stream record: its header line and the 33 lines of the frame
    kRawValues,  // a raw frame: 992 values, no offsets, no header words
};

struct SourceFrame {
    SourceFrameKind kind = SourceFrameKind::kBlock;
    uint64_t number = 0;      // 1 for the first frame the source yields
    uint64_t byteOffset = 0;  // where the frame's record starts in the source's bytes
    // kBlock: the mode letter (`K`, `t`, ...). kText: the file mode of the header as play-back
    // reads it (`V`, `K`, `C` or `F`, as in textMode).
    char modeLetter = 0;
    const uint8_t* block = nullptr;    // kBlock: kFrameBlockSize bytes
    const uint16_t* values = nullptr;  // kRawValues: kPixelCount values in host order
    TextPlayMode textMode{};           // kText
    // kText: the header line with its CR. kBlock from a binary stream: the 16 header bytes.
    std::string_view header;
    std::string_view frameText;  // kText: the frame's lines, as the pipeline parses them
    // The record as the source holds it: a binary stream record, a raw frame's 1984 bytes, a
    // text record's 34 lines as read (each without its line feed). Empty for live frames.
    std::string_view stored;
};

enum class SourceProblemKind {
    kUnknownHeader,    // a record or header line names no known mode
    kMalformedHeader,  // a text header line names a known mode but is not "Mode=%c ElOff=%c"
    kShortEnd,         // the source ends inside a record: `count` bytes or lines of it
    kSingleCrLf,       // a text line ends in a single CR LF: it lost the CR the recorder writes
    kBareLineFeed,     // a text line ends in a line feed without a CR
    kSkipped,          // `count` bytes skipped up to the next record header (or the end)
};

struct SourceProblem {
    SourceProblemKind kind;
    uint64_t byteOffset;  // where the record, header or line starts
    // The frame it belongs to: for kShortEnd the one cut short, for kSkipped the number the first
    // frame in the bytes skipped would have had.
    uint64_t frameNumber;
    // kShortEnd: bytes (binary records, raw frames) or lines (text); kSkipped: bytes.
    uint64_t count = 0;
    std::string_view header{};  // kUnknownHeader, kMalformedHeader: the header as found
};

enum class SourceRead {
    kFrame,     // the next frame is in the SourceFrame
    kEnd,       // the source has ended
    kError,     // reading failed; ErrorNumber and Position say why and where
    kTimedOut,  // a live source had no frame within the wait asked for; ask again
};

class IFrameSource {
  public:
    using ProblemListener = std::function<void(const SourceProblem&)>;

    virtual ~IFrameSource() = default;

    // The next frame. Files wait for nothing but the disk; a live source waits until a frame
    // comes or the source ends.
    virtual SourceRead Next(SourceFrame& frame) = 0;
    // The bytes taken from the source so far.
    virtual uint64_t Position() const = 0;
    // errno of the read that failed, or 0.
    virtual int ErrorNumber() const = 0;

    // Receives every problem found while reading, on the reading thread, during Next.
    void SetProblemListener(ProblemListener listener) { m_problemListener = std::move(listener); }

  protected:
    void Report(const SourceProblem& problem) const {
        if (m_problemListener) {
            m_problemListener(problem);
        }
    }

  private:
    ProblemListener m_problemListener;
};
