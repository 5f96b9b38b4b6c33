#pragma once
// Where and how an output file is written, in one of two ways:
// - appearing when complete (a conversion): written as a file without a name in the final one's
//   directory (O_TMPFILE; where the file system has none, under a temporary name) and given the
//   final name at the end, only over a regular file or a missing name and never over the input.
//   A failure, SIGINT or SIGTERM discards it and a kill leaves nothing, so an existing output is
//   left untouched. A replaced output keeps its permission bits (and its owner and group where
//   the process may set them).
// - growing (a recording of the live module): created at its name at once, as a recording's file
//   is (a new file only, or a regular file replaced when the user said so; never a FIFO or a
//   device), and written as frames come, so that what was recorded stays when the recording
//   fails or the process is killed.
// One thread at a time.
#include <sys/stat.h>

#include <string>

#include "export/atomic_file.h"
#include "platform/result.h"
#include "recording/recording_file.h"

enum class OutputFileMode {
    kAppearsWhenComplete,  // a temporary that takes the name at the end
    kGrowing,              // the file itself from the start
};

struct OutputPlace {
    // kAppearsWhenComplete: as ResolveOutputPath returned it. kGrowing: as the user named it.
    std::string path;
    OutputFileMode mode = OutputFileMode::kAppearsWhenComplete;
    struct stat input {};  // kAppearsWhenComplete: the input, which is never written over
    RecordingFileCreation creation = RecordingFileCreation::kNewFileOnly;  // kGrowing
};

// The conversion stops between two frames on the first SIGINT or SIGTERM (CStopSignals); this,
// its repeat hook, removes the named temporaries and ends the process at once on the second.
void DiscardTemporariesAndExit(int signalNumber);

// Checks where `path` may be written, given the input's status: a missing name, a regular file
// that is not the input and that the user may write, or a symbolic link to one (its target is
// written); in each case in a directory the user may create files in. The existing output is
// opened for writing (never truncated) so that the kernel's own rules decide: permissions,
// read-only file systems and protected links (fs.protected_symlinks); a link's target is the
// file that open reached. Returns the path to write (the link's target for a link).
Result<std::string> ResolveOutputPath(const std::string& path, const struct stat& input);

class COutputFile {
  public:
    // Nothing is created yet.
    explicit COutputFile(OutputPlace place);
    // An unfinished temporary is removed; a growing file stays as written.
    ~COutputFile();
    COutputFile(const COutputFile&) = delete;
    COutputFile& operator=(const COutputFile&) = delete;

    // Creates the empty file, for the caller to open by OpenPath() and fill (directly or through
    // a writer): a temporary without a name or under a name of its own (never one that is
    // taken), or the growing file itself.
    Status Create();
    // A path that opens the file being written ("/proc/self/fd/N" where it has no name).
    const std::string& OpenPath() const { return m_openPath; }
    const std::string& FinalPath() const { return m_place.path; }
    bool IsGrowing() const { return m_place.mode == OutputFileMode::kGrowing; }

    // Gives the complete temporary the final name after checking again that the name is free or
    // a regular file other than the input; a file it replaces passes on its mode (and owner and
    // group where the process may), a new file gets 0666 less the umask. The writers must have
    // closed it. On failure the temporary is removed. A growing file is complete as it is.
    Status Commit();
    // Removes the temporary, if any.
    void Discard();

    // `text` with the temporary path replaced by the final one, for messages of the writers.
    std::string InFinalTerms(std::string text) const;

  private:
    OutputPlace m_place;
    std::string m_openPath;
    CPendingFile m_pending;
    int m_growingFd = -1;  // kGrowing: the file, kept open so that OpenPath reaches it
    int m_slot = -1;       // where the signal handler finds a named temporary's path, or -1
    bool m_isDone = false;
};
