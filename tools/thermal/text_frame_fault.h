#pragma once
// Why a text frame of a recording does not parse, in words for `thermal info` and `convert`.
#include <string>
#include <string_view>

// For the text of a frame as read (lines ending in CR): "it holds 34 lines instead of 33",
// "its line 33 holds 31 fields instead of 32", or "" when the lines and fields are right and a
// field itself is at fault.
std::string TextFrameFault(std::string_view text);
