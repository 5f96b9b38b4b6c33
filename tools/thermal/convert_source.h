#pragma once
// CConvertSource: the recording `thermal convert` reads, taken one record at a time the way
// play-back takes it, so memory stays the same whatever the file's size: binary stream records
// of 2128 bytes, raw frames of 1984 bytes, text records of 34 lines through the text-mode line
// reader. The tool's main thread only.
#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <vector>

#include "convert_options.h"
#include "recording/text_mode_reader.h"

class CConvertSource {
  public:
    enum class Read {
        kRecord,  // the next whole record is in the buffer
        kEnd,     // the file ended (a short last record is noted in EndNote)
        kError,   // a read failed; Error() says why
    };

    CConvertSource() = default;
    ~CConvertSource();
    CConvertSource(const CConvertSource&) = delete;
    CConvertSource& operator=(const CConvertSource&) = delete;

    // Opens `path` as `kind` and checks that it is what its extension says (a first record or
    // line naming a known mode). Returns an empty string, or why the file cannot be converted.
    // An empty file opens: it simply holds no frame.
    std::string Open(const std::string& path, ConvertInput kind);

    // Binary streams (2128 bytes), raw frames (1984 bytes) and captures (up to 64 KiB).
    Read NextBytes();
    const uint8_t* Bytes() const { return m_bytes.data(); }
    // Bytes read by the last NextBytes: a whole record, or what a capture read gave.
    std::size_t ByteCount() const { return m_count; }
    // Text streams: the 34 lines of the next record, each line keeping its CR as recorded.
    Read NextText();
    const std::string& Text() const { return m_text; }

    // The status of the open file (device and inode for telling the outputs from it).
    const struct stat& Status() const { return m_status; }
    // Bytes consumed so far, and the file's size when opened.
    uint64_t Position() const;
    uint64_t Size() const { return static_cast<uint64_t>(m_status.st_size); }
    // What the end of the file held that is not a record ("a short last record of 100 bytes"),
    // or empty.
    const std::string& EndNote() const { return m_endNote; }
    const std::string& Error() const { return m_error; }

  private:
    std::string m_path;
    ConvertInput m_kind = ConvertInput::kBinaryStream;
    int m_fd = -1;
    struct stat m_status {};
    uint64_t m_position = 0;  // binary reads only; text positions come from the reader
    std::vector<uint8_t> m_bytes;
    std::size_t m_count = 0;
    std::string m_text;
    CTextModeReader m_textReader;
    std::string m_endNote;
    std::string m_error;
};
