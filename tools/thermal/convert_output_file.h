#pragma once
// The files `thermal convert` writes appear only when complete: each is written under a
// temporary name beside its final one and renamed over it at the end, only over a regular file
// or a missing name and never over the input. A failure, SIGINT or SIGTERM removes the
// temporary, so an existing output is left untouched. The tool's main thread only.
#include <sys/stat.h>

#include <string>

// Installs the SIGINT and SIGTERM handlers that make the conversion stop between two frames,
// and ignores SIGXFSZ so that a file size limit is an ordinary write error. A second signal
// removes the temporaries at once and ends the process.
void InstallConvertSignalHandlers();
// The signal that asked the conversion to stop, or 0.
int PendingStopSignal();

// Checks where `path` may be written, given the input's status: a missing name, a regular file
// that is not the input, or a symbolic link to one (its target is written). Returns the path
// to write (the link's target for a link), or an empty string with `error` set.
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

    // Creates the empty temporary file under a name of its own (never one that is taken), for
    // the caller to open and fill (directly or through a writer). Returns false with `error`
    // set.
    bool CreateTemporary(std::string& error);
    const std::string& TemporaryPath() const { return m_temporaryPath; }
    const std::string& FinalPath() const { return m_finalPath; }

    // Renames the complete temporary file over the final path after checking again that the
    // name is free or a regular file other than the input. Returns false with `error` set
    // (the temporary is then removed).
    bool Commit(std::string& error);
    // Removes the temporary file, if any.
    void Discard();

    // `text` with the temporary path replaced by the final one, for messages of the writers.
    std::string InFinalTerms(std::string text) const;

  private:
    std::string m_finalPath;
    std::string m_temporaryPath;
    dev_t m_inputDevice;
    ino_t m_inputInode;
    int m_slot = -1;  // where the signal handler finds the temporary path, or -1
    bool m_isDone = false;
};
