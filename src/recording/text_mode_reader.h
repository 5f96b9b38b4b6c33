#pragma once
// CTextModeReader: reads the lines of a text stream recording the way the recorder's text-mode
// stream wrote them. On disk every line feed is stored as CR LF; reading turns each CR LF back
// into a line feed and drops it, so a recorded line (CR CR LF on disk) keeps one CR at its end,
// while a CR not followed by a line feed stays where it is. Reads go through a buffer of its
// own, so a 34-line frame costs a read() every few frames. Used by one thread at a time (the
// GUI thread while playing, the `thermal` tool's main thread).
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// How a line read by CTextModeReader ended on disk.
enum class TextLineEnd {
    kCrLf,       // CR LF, read as a line feed
    kLineFeed,   // a line feed without a CR before it
    kEndOfFile,  // the file ended before any line feed
};

// A line of a recording is a few hundred bytes. Longer lines are cut to this length (the rest
// is skipped up to the line feed), so a file without line feeds cannot fill memory.
inline constexpr std::size_t kMaxTextLineBytes = 8192;

class CTextModeReader {
  public:
    static constexpr std::size_t kDefaultBufferSize = 64 * 1024;

    explicit CTextModeReader(std::size_t bufferSize = kDefaultBufferSize);

    // Reads from `fd` (not owned, open for reading) from its start.
    void Attach(int fd);
    // Forgets the descriptor; the caller closes it.
    void Detach();
    // Back to the start of the file. Returns 1, or 0 if the file cannot seek.
    int Rewind();

    // Appends the next line, without its line feed, to `out`. Returns 1 when a line was read
    // (also a last line that ends without a line feed), 0 when the file ended before any byte
    // of a new line or a read failed (see ReadError). `end` receives how the line ended.
    int ReadLine(std::string& out, TextLineEnd* end = nullptr);

    // Byte offset in the file of the next byte ReadLine takes.
    uint64_t Position() const { return m_bufferOffset + m_next; }
    // errno of the read that failed, or 0.
    int ReadError() const { return m_readError; }

  private:
    bool Fill();

    int m_fd = -1;
    std::vector<char> m_buffer;
    std::size_t m_next = 0;       // next unread byte in m_buffer
    std::size_t m_filled = 0;     // bytes of m_buffer holding file data
    uint64_t m_bufferOffset = 0;  // file offset of m_buffer[0]
    int m_readError = 0;
};
