#pragma once
// Writing a whole file so that readers see either the old file or the complete new one: the
// bytes go to a file without a name (or, where the file system has no such files, under a
// temporary name) beside the target, which gets the target's name when complete. Any thread.
#include <sys/types.h>

#include <cstddef>
#include <string>

// Writes `size` bytes to `path`. On failure nothing is left at `path` that was not there before
// and the temporary file is removed. Returns false if the file could not be created, written,
// flushed or renamed; then `error`, when given, receives one line naming the file and the cause
// ("cannot write '/x/y.xls': No space left on device").
bool WriteFileAtomically(const std::string& path, const void* data, std::size_t size,
                         std::string* error = nullptr);

// Creates the empty temporary file `path` is written under, beside it: `path` + ".part" + the
// process ID, or with "." and a counter after that while the name is taken, so that no file
// that is already there (a part left by another program, or a file of that name) is ever
// truncated. `mode` as for open(2). Returns its descriptor, open for writing, and sets
// `temporary`; or -1 with errno set.
int CreateTemporaryFor(const std::string& path, std::string& temporary, mode_t mode = 0666);

// The directory a new file named `path` goes into ("." for a bare name).
std::string DirectoryOf(const std::string& path);

// A file being written for `finalPath` that has that name only once it is complete. On Linux
// it has no name at all while it is written (O_TMPFILE in the target's directory), so a process
// killed at any moment leaves nothing behind; where the file system has no unnamed files, it is
// written under a name of CreateTemporaryFor's. Not thread-safe; the descriptor is the
// object's.
class CPendingFile {
  public:
    CPendingFile() = default;
    ~CPendingFile() { Discard(); }
    CPendingFile(const CPendingFile&) = delete;
    CPendingFile& operator=(const CPendingFile&) = delete;

    // Creates the empty file beside `finalPath`. Returns false with errno set.
    bool Create(const std::string& finalPath, mode_t mode = 0666);
    // Open for writing while the file is pending, else -1.
    int Descriptor() const { return m_fd; }
    // A path that opens the pending file: "/proc/self/fd/N" for an unnamed one (opening it
    // reopens the file), or its temporary name. Empty when there is none.
    const std::string& Path() const { return m_path; }
    bool IsUnnamed() const { return m_isUnnamed; }

    // Gives the complete file the name `finalPath`: linked to it when the name is free, else
    // linked under a temporary name and renamed over what is there (rename(2) rules). Closes
    // the file. Returns false with errno set; the file is then discarded.
    bool Publish(const std::string& finalPath);
    // Closes the file and removes its temporary name, if any.
    void Discard();

  private:
    int m_fd = -1;
    std::string m_path;
    bool m_isUnnamed = false;
};
