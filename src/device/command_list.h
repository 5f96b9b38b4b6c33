#pragma once
// The command combo's entries and how one entry becomes the command byte. "CmdList.TXT" beside
// the program lists one entry per line: the first character is the letter sent, the rest a label
// for the user. Pure functions except LoadCommandListFile, which reads the file. Dialog thread.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Removes white space (blank, tab, CR, LF, VT, FF) at both ends.
std::string TrimWhiteSpace(std::string_view text);

// The entries of a command list file: every line trimmed, empty lines skipped, file order kept.
std::vector<std::string> ParseCommandList(std::string_view fileText);

// The four entries offered when there is no command list file.
std::vector<std::string> DefaultCommandList();

// Reads the command list at `path`: the defaults when the file does not exist, no entries when it
// exists but cannot be read or is no regular file (a FIFO is never waited on), else the parsed
// lines.
std::vector<std::string> LoadCommandListFile(const std::string& path);

// The byte a combo text sends: its first character after trimming (UTF-8 in, one byte out; a
// character outside Latin-1 has no byte of its own and goes out as '?'). Nothing for blank text.
std::optional<uint8_t> CommandByteFromText(std::string_view text);
