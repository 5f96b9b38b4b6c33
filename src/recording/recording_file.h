#pragma once
// Creating the files a recording writes, without ever blocking and without destroying what the
// recording did not create. The first file of a recording the user chose (and confirmed over an
// existing one) replaces a regular file of that name; every later part, and a first file that
// must not replace anything, is created new or not at all, never through a symbolic link. A FIFO,
// a device or a directory under the name is refused before anything waits on it. Any thread.
#include <string>

enum class RecordingFileCreation {
    kReplaceRegularFile,  // a missing name, or a regular file (through a link) cut to 0 bytes
    kNewFileOnly,         // a missing name only: no link is followed, nothing is truncated
};

// Opens `path` with `flags` (and `mode` for O_CREAT) only if it is a regular file or comes into
// being as one, without waiting on a FIFO and without ever opening a device. Returns the
// descriptor (blocking) or -1 with errno set: EISDIR for a directory, EINVAL for anything else
// that is not a regular file.
int OpenRegularFileWithoutWaiting(const std::string& path, int flags, int mode = 0);

// Opens `path` for writing as `creation` allows. Returns the descriptor (blocking, close-on-exec)
// or -1 with errno set: EEXIST when a new file was asked for and the name is taken, EISDIR for a
// directory, EINVAL for anything else that is not a regular file.
int CreateRecordingFile(const std::string& path, RecordingFileCreation creation);

// Why CreateRecordingFile failed with `error`, in words ("it is not a regular file").
std::string RecordingCreateReason(int error);
// The line for a failed CreateRecordingFile: "cannot create 'PATH': REASON".
std::string RecordingCreateError(const std::string& path, int error);
