#pragma once
// A CSV file written a frame at a time, and the way a source name is written into its '#' comment
// lines. A file that appears when complete collects a megabyte at a time before it writes; a
// growing one writes each frame's lines at once, whole or not at all (a write the disk cut short
// is taken back), so that it holds every frame recorded. Where and how the file is written is
// COutputFile's. One thread at a time.
#include <cstdint>
#include <string>
#include <string_view>

#include "outputs/output_file.h"
#include "run/frame_sink.h"

class CCsvFile {
  public:
    // Nothing is created until Open.
    explicit CCsvFile(OutputPlace place);
    ~CCsvFile();
    CCsvFile(const CCsvFile&) = delete;
    CCsvFile& operator=(const CCsvFile&) = delete;

    Status Open();
    // Appends `bytes`, the lines of one frame (or the file's head).
    Status Append(std::string_view bytes);
    // Writes out the rest and completes the file (COutputFile::Commit).
    Status Finish();

  private:
    Status WriteOut();

    COutputFile m_file;
    int m_fd = -1;          // closed before m_file removes an unfinished temporary
    std::string m_pending;  // appended, not written yet
    uint64_t m_written = 0;
};

// What the table outputs share: the file, its name, and each frame's lines appended and counted.
class CCsvTableSink : public IFrameSink {
  public:
    explicit CCsvTableSink(const OutputPlace& place) : m_file(place), m_path(place.path) {}

    std::string Name() const override { return "'" + m_path + "'"; }
    unsigned Needs() const override { return kNeedsValues; }
    Status Begin() override { return m_file.Open(); }
    Status Finish() override { return m_file.Finish(); }
    std::vector<std::string> Files() const override { return {m_path}; }

  protected:
    Status AppendFrame(std::string_view lines) {
        Status appended = m_file.Append(lines);
        if (appended) {
            CountWritten();
        }
        return appended;
    }

    CCsvFile m_file;

  private:
    const std::string m_path;
};

// The name as it can stand in a comment line: control characters (a line feed in a file name
// would end the comment) and bytes that are not UTF-8 become '?'.
std::string CommentSafe(const std::string& name);
