#pragma once
// Running the built `thermal` tool from the conversion tests, and what they read back.
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
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
        const std::string name = std::filesystem::relative(entry.path(), dir).string();
        files[name] = entry.is_regular_file() && !entry.is_symlink() ? ReadWhole(entry.path())
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
