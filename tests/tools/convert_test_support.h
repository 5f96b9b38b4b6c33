#pragma once
// What the conversion tests look for around a run of the `thermal` tool: the files of a
// directory, the lines of an output, the files a running process holds open.
#include <unistd.h>

#include <filesystem>
#include <map>
#include <set>
#include <string>

#include "support/file_bytes.h"
#include "support/thermal_tool.h"

// Every file under `dir` with its bytes: a directory before and after a run that must change
// nothing.
inline std::map<std::string, std::string> Snapshot(const std::filesystem::path& dir) {
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir)) {
        const std::string name = entry.path().lexically_relative(dir).string();
        // A link is not followed: the kernel may refuse that (protected links), even to root.
        files[name] = !entry.is_symlink() && entry.is_regular_file() ? ReadWhole(entry.path())
                                                                     : std::string("<not a file>");
    }
    return files;
}

inline int LineCount(const std::string& text) {
    int lines = 0;
    for (const char c : text) {
        lines += c == '\n' ? 1 : 0;
    }
    return lines;
}

// Whether process `pid` holds a file in `dir` open, other than `except`: an output being
// written, under a temporary name or none ("/dir/#123 (deleted)" for an unnamed file).
inline bool HoldsFileIn(pid_t pid, const std::filesystem::path& dir,
                        const std::filesystem::path& except) {
    std::error_code ec;
    const std::string prefix = dir.string() + "/";
    for (const auto& entry :
         std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec)) {
        const std::string target = std::filesystem::read_symlink(entry.path(), ec).string();
        if (!ec && target.rfind(prefix, 0) == 0 && target != except.string()) {
            return true;
        }
    }
    return false;
}

// The names directly in `dir`.
inline std::set<std::string> Names(const std::filesystem::path& dir) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}
