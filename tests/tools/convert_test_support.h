#pragma once
// Running the built `thermal` tool from the conversion tests, and what they read back.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>

inline const std::filesystem::path kThermalTool =
    std::filesystem::path(THERMAL_BIN_DIR) / "thermal";

struct ToolResult {
    int status;
    std::string out;
    std::string errors;
};

inline std::string ReadWhole(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Runs `command` through the shell with its output and errors collected in `dir`.
inline ToolResult RunShell(const std::string& command, const std::filesystem::path& dir) {
    const std::filesystem::path out = dir.parent_path() / (dir.filename().string() + ".out");
    const std::filesystem::path errors = dir.parent_path() / (dir.filename().string() + ".err");
    const std::string line = command + " > " + out.string() + " 2> " + errors.string();
    const int raw = std::system(line.c_str());
    ToolResult result{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ReadWhole(out), ReadWhole(errors)};
    std::filesystem::remove(out);
    std::filesystem::remove(errors);
    return result;
}

inline ToolResult RunTool(const std::string& arguments, const std::filesystem::path& dir) {
    return RunShell(kThermalTool.string() + " " + arguments, dir);
}

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
