#pragma once
// An output of `thermal convert` whose writer goes back into what it wrote: a TIFF file links
// each page to the next one, and a NumPy file gets its frame count in its header at the end.
// Bytes written at the end collect in memory and reach the file in large writes; reads and
// writes further back reach the bytes wherever they are. The file is written under a temporary
// name and takes its final name in Finish (CConvertOutputFile). The tool's main thread only.
#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "convert_output_file.h"

class CConvertSeekableFile {
  public:
    // `path` as ResolveOutputPath returned it. Nothing is created until Open.
    CConvertSeekableFile(const std::string& path, const struct stat& input);
    ~CConvertSeekableFile();
    CConvertSeekableFile(const CConvertSeekableFile&) = delete;
    CConvertSeekableFile& operator=(const CConvertSeekableFile&) = delete;

    // Creates the temporary file. False with `error` set.
    bool Open(std::string& error);

    // Writes `size` bytes at `offset` (past the end: the gap reads as zeros). False on a failed
    // write; Error() then says why.
    bool WriteAt(uint64_t offset, const void* data, std::size_t size);
    bool Append(const void* data, std::size_t size) { return WriteAt(Size(), data, size); }
    // Reads up to `size` bytes at `offset`; the count read (short at the end), or -1 on failure.
    long long ReadAt(uint64_t offset, void* data, std::size_t size);
    // Everything written so far, in memory or on disk.
    uint64_t Size() const { return m_pendingStart + m_pending.size(); }

    // Writes out the rest and gives the file its final name. False with `error` set.
    bool Finish(std::string& error);

    // Why the first failed write or read failed ("cannot write 'out.tiff': No space left on
    // device"), or "".
    const std::string& Error() const { return m_error; }
    const std::string& FinalPath() const { return m_file.FinalPath(); }

  private:
    bool Flush();
    bool Fail(const char* verb);

    CConvertOutputFile m_file;
    int m_fd = -1;                   // the temporary, closed before m_file removes it
    std::vector<uint8_t> m_pending;  // the bytes from m_pendingStart on, not in the file yet
    uint64_t m_pendingStart = 0;     // the size of the file on disk
    std::string m_error;
};
