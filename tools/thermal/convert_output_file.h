#pragma once
// The files `thermal convert` writes appear only when complete: each is written as a file
// without a name in the final one's directory (O_TMPFILE; where the file system has none, under
// a temporary name) and given the final name at the end, only over a regular file or a missing
// name and never over the input. A failure, SIGINT or SIGTERM discards it and a kill leaves
// nothing, so an existing output is left untouched. A replaced output keeps its permission bits
// (and its owner and group where the process may set them). The tool's main thread only.
#include <sys/stat.h>

#include <string>

#include "export/atomic_file.h"

// The conversion stops between two frames on the first SIGINT or SIGTERM (CStopSignals); this,
// its repeat hook, removes the named temporaries and ends the process at once on the second.
void DiscardTemporariesAndExit(int signalNumber);
// The signal that asked the conversion to stop, or 0.
int PendingStopSignal();

// Checks where `path` may be written, given the input's status: a missing name, a regular file
// that is not the input and that the user may write, or a symbolic link to one (its target is
// written); in each case in a directory the user may create files in. The existing output is opened
// for writing (never truncated) so that the kernel's own rules decide: permissions, read-only file
// systems and protected links (fs.protected_symlinks); a link's target is the file that open
// reached. Returns the path to write (the link's target for a link), or an empty string with
// `error` set.
std::string ResolveOutputPath(const std::string& path, const struct stat& input,
                              std::string& error);

class CConvertOutputFile {
  public:
    // `finalPath` as ResolveOutputPath returned it. Nothing is created yet.
    CConvertOutputFile(std::string finalPath, const struct stat& input);
    // Removes the temporary unless Commit succeeded.
    ~CConvertOutputFile();
    CConvertOutputFile(const CConvertOutputFile&) = delete;
    CConvertOutputFile& operator=(const CConvertOutputFile&) = delete;

    // Creates the empty temporary file, without a name or under a name of its own (never one
    // that is taken), for the caller to open by TemporaryPath() and fill (directly or through
    // a writer): "/proc/self/fd/N" for an unnamed file. Returns false with `error` set.
    bool CreateTemporary(std::string& error);
    const std::string& TemporaryPath() const { return m_temporaryPath; }
    const std::string& FinalPath() const { return m_finalPath; }

    // Gives the complete temporary file the final name after checking again that the name is
    // free or a regular file other than the input; a file it replaces passes on its mode (and
    // owner and group where the process may), a new file gets 0666 less the umask. The
    // writers must have closed it. Returns false with `error` set (the temporary is then
    // removed).
    bool Commit(std::string& error);
    // Removes the temporary file, if any.
    void Discard();

    // `text` with the temporary path replaced by the final one, for messages of the writers.
    std::string InFinalTerms(std::string text) const;

  private:
    std::string m_finalPath;
    std::string m_temporaryPath;
    CPendingFile m_pending;
    dev_t m_inputDevice;
    ino_t m_inputInode;
    int m_slot = -1;  // where the signal handler finds a named temporary's path, or -1
    bool m_isDone = false;
};
