#pragma once
// The program directory and the optional files users put beside the program ("Title.txt",
// "AppIcon.ico", "CmdList.TXT", the logos) or, for an installed program whose directory is not
// theirs, in their configuration folder. Plain C++, no Qt.
#include <optional>
#include <string>

// Directory of the running executable, ending in '/'; "./" if it cannot be found.
std::string ProgramDirectory();

// The path of the regular file (or link to one) in dir whose name equals name without regard to
// case, preferring an exact match; nullopt if there is none. A directory, FIFO or device of that
// name counts as none: whoever opens the path (the picture loader too) would wait for a FIFO's
// writer for ever. dir ends in '/'.
std::optional<std::string> FindFileNoCase(const std::string& dir, const std::string& name);

// The user's folder for the optional files: $XDG_CONFIG_HOME/thermal-viewer/, or
// $HOME/.config/thermal-viewer/ when XDG_CONFIG_HOME is unset or not an absolute path (such a
// value is to be ignored); empty when neither is known. Ends in '/'.
std::string UserConfigDirectory();

// An optional file of the program, looked up as FindFileNoCase does beside the program first,
// then in UserConfigDirectory(): a copy beside the program wins, as it always has, and users of
// an installed program, who cannot write to /usr/bin, still provide theirs. programDir ends in
// '/'.
std::optional<std::string> FindProgramFile(const std::string& programDir, const std::string& name);

// The program's own small files (the title, the command list) are a few hundred bytes; a
// larger file under their name is not one of them and is not read into memory.
inline constexpr std::size_t kMaxProgramFileBytes = 1024 * 1024;

// The whole file, or nullopt if it cannot be read, is not a regular file (a directory, a FIFO,
// a device) or is larger than kMaxProgramFileBytes.
std::optional<std::string> ReadWholeFile(const std::string& path);

// The caption text of a "Title.txt": UTF-16 little-endian after a two-byte byte-order mark, up
// to the first zero character. A file of two bytes or fewer gives the empty text; a file
// without a mark loses its first two bytes all the same, as the file is always read that way.
std::u16string DecodeTitleFile(const std::string& bytes);
