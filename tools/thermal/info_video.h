#pragma once
// `thermal info` for video recordings (.avi): reads the file's structure with the core's AVI
// reader and says what the video holds and where the file disagrees with itself or stops being
// whole. Runs on the calling thread; reading blocks on the file.
#include <cstddef>
#include <string>

// Prints the report of one AVI file to stdout, after a blank line when `separate`; with
// `decode`, decodes every frame and lists those that do not decode. Returns 0 for a clean file,
// 1 when problems were found, 2 (after one line on stderr) when the file cannot be read as an
// AVI file at all.
int InspectVideo(const std::string& path, std::size_t maxProblems, bool decode, bool separate);
