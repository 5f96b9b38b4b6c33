#pragma once
// Messages of the programs are one line each, whatever names they quote: a file name may
// hold a newline, a carriage return or a terminal escape, which would split the line or rewrite
// the terminal. Such bytes are shown as C escapes (\n, \r, \t, \xHH).
#include <string>
#include <string_view>

// `text` with every control character (below 0x20, and 0x7F) escaped.
std::string OneLine(std::string_view text);
