#pragma once
// The password a program logs in to a broker with comes from a file, never from the command line,
// where any user of the machine could read it. The file is held to what a private key is held to:
// a regular file that neither its group nor others may read or write, its first line (at most
// kMaxPasswordBytes, without the line end) the password. Nothing beyond that line is read, so a
// device or a huge file named by mistake costs nothing, and a FIFO never blocks. Any thread.
#include <cstddef>
#include <string>

#include "platform/result.h"

inline constexpr std::size_t kMaxPasswordBytes = 1024;

// The password in `path`, or why it cannot be used, in one line naming the file.
Result<std::string> ReadPasswordFile(const std::string& path);
