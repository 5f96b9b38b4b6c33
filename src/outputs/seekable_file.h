#pragma once
// An output file whose writer goes back into what it wrote: a TIFF file links each page to the
// next one, and a NumPy file gets its frame count in its header at the end. Bytes written at the
// end collect in memory and reach the file in large writes (or at once, Flush, for a growing
// file that must hold every frame as it comes); reads and writes further back reach the bytes
// wherever they are. Where and how the file is written is COutputFile's. One thread at a time.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "outputs/output_file.h"

class CSeekableFile {
  public:
    // Nothing is created until Open.
    explicit CSeekableFile(OutputPlace place);
    ~CSeekableFile();
    CSeekableFile(const CSeekableFile&) = delete;
    CSeekableFile& operator=(const CSeekableFile&) = delete;

    Status Open();

    // Writes `size` bytes at `offset` (past the end: the gap reads as zeros).
    Status WriteAt(uint64_t offset, const void* data, std::size_t size);
    Status Append(const void* data, std::size_t size) { return WriteAt(Size(), data, size); }
    // Reads up to `size` bytes at `offset`: the count read, short at the end.
    Result<std::size_t> ReadAt(uint64_t offset, void* data, std::size_t size);
    // Everything written so far, in memory or on disk, and what of it is on disk.
    uint64_t Size() const { return m_pendingStart + m_pending.size(); }
    uint64_t FlushedSize() const { return m_pendingStart; }
    // Writes what is in memory out now.
    Status Flush();

    // The first write or read that failed ("cannot write 'out.tiff': No space left on device"):
    // every later one fails with it.
    const Status& FirstFailure() const { return m_failure; }

    // Writes out the rest and completes the file (COutputFile::Commit).
    Status Finish();
    const std::string& FinalPath() const { return m_file.FinalPath(); }
    bool IsGrowing() const { return m_file.IsGrowing(); }

  private:
    Status Fail(const char* verb);

    COutputFile m_file;
    int m_fd = -1;                   // the file, closed before m_file removes a temporary
    std::vector<uint8_t> m_pending;  // the bytes from m_pendingStart on, not in the file yet
    uint64_t m_pendingStart = 0;     // the size of the file on disk
    Status m_failure;
};
