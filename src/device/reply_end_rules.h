#pragma once
// End-of-reply rules for the module's text replies. The module never says how long a reply is;
// each command letter has its own closing words, looked for a fixed distance before the end of
// what has arrived so far. Pure functions; the serial monitor thread calls them per chunk.
#include <cstddef>
#include <cstdint>

// True for the letters whose reply is a stream of frame blocks (K, k, t, c, C).
bool IsFrameLetter(uint8_t letter);

// The per-letter rule for text replies (every letter but the frame letters and `w`). `length`
// counts the bytes collected so far; the closing CR LF itself is never examined.
bool IsTextReplyComplete(uint8_t letter, const uint8_t* data, size_t length);

// The `w` calibration table is complete when its last non-empty line starts with pixel number
// 991 and carries at least ten tab-separated columns, and that line has been received in full
// (the data ends in LF), so a table cut inside its last line is never taken for a whole one.
bool IsCalibrationTableComplete(const uint8_t* data, size_t length);
