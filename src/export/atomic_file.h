#pragma once
// Writing a whole file so that readers see either the old file or the complete new one: the
// bytes go to a temporary file beside the target, which is renamed over it when complete.
// Any thread.
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
// truncated. Returns its descriptor, open for writing, and sets `temporary`; or -1 with errno
// set.
int CreateTemporaryFor(const std::string& path, std::string& temporary);
