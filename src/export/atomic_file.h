#pragma once
// Writing a whole file so that readers see either the old file or the complete new one: the
// bytes go to a temporary file beside the target, which is renamed over it when complete.
// Any thread.
#include <cstddef>
#include <string>

// Writes `size` bytes to `path`. On failure nothing is left at `path` that was not there before
// and the temporary file is removed. Returns false if the file could not be created, written,
// flushed or renamed.
bool WriteFileAtomically(const std::string& path, const void* data, std::size_t size);

// The temporary name used while `path` is written.
std::string TemporaryPathFor(const std::string& path);
