#pragma once
// Messages of the programs are one line each, whatever names and texts they quote: a file name, a
// port or a text from a module or a broker may hold a newline, a carriage return or a terminal
// escape, which would split the line or rewrite the terminal, or a character that turns the text
// around it without being seen (U+202E puts what follows right to left, so "gpj.exe" shows as
// "exe.jpg"). Such characters are shown as C escapes: \n, \r, \t, \xHH for control characters and
// for bytes that are not UTF-8, \uHHHH and \UHHHHHHHH for the others.
#include <string>
#include <string_view>

// `text` with every character escaped that is not plainly visible text: control characters (C0,
// DEL and the C1 range U+0080 to U+009F), format characters (bidirectional overrides and
// isolates, zero-width characters, the byte order mark, tags), the line and paragraph separators,
// and bytes that are not UTF-8.
std::string OneLine(std::string_view text);

// The same for a text of several lines (a module's reply in the log box): line ends and tabs stay.
std::string PrintableLines(std::string_view text);
