#pragma once
// The part of a frame's data text that the user selected with "Startpixel" and "Pixelcount":
// what the log shows for every frame, what "Copy Data" copies and what snapshots save. Pure.
#include <string>
#include <string_view>

#include "frame/text_frame.h"

struct PixelRange {
    int start = 1;  // first field, counted from 1
    int count = kTextFieldCount;
};

// True for 1 <= start <= kTextFieldCount, count >= 1 and start + count - 1 <= kTextFieldCount.
bool IsValidPixelRange(const PixelRange& range);

// Cuts fields start to start + count - 1, each with its tab, out of text. requested is what the
// edits say; lastValid is the last valid range, updated here: an invalid request falls back to
// it, and if that is invalid too both become (1, kTextFieldCount). The whole text comes back for
// the full range, and when the text has fewer tabs than the range needs.
std::string SelectPixels(std::string_view text, const PixelRange& requested, PixelRange& lastValid);
