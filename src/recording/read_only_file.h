#pragma once
// Opening and reading recordings for play-back and inspection with plain POSIX calls: no stream
// exceptions, and nothing that could wait for a writer (a FIFO that happens to carry a
// recording's name is refused instead of blocking the GUI thread). Any thread.
#include <sys/types.h>

#include <cstddef>
#include <string>

// Opens `path` read-only if it is a regular file. Returns the descriptor, or -1 with errno set
// (EISDIR for a directory, EINVAL for any other kind of file that is not a regular one).
int OpenRecordingForReading(const std::string& path);

// Reads until `count` bytes have arrived or the file ends, retrying after signals and short
// reads. Returns the number of bytes read, or -1 with errno set when a read failed.
ssize_t ReadFully(int fd, void* buffer, std::size_t count);
