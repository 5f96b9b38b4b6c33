#pragma once
// The built `thermal` tool run from a test as a user runs it, through the shell, with its exit
// status, standard output and standard error collected.
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "support/file_bytes.h"

inline const std::filesystem::path kThermalTool =
    std::filesystem::path(THERMAL_BIN_DIR) / "thermal";

struct ToolResult {
    int status;  // -1: ended by a signal
    std::string out;
    std::string errors;
};

// Runs `command` through the shell with its output and errors collected in files beside `dir`,
// so that they never show up among the files a test finds in `dir`.
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

// `thermal ARGUMENTS` (words the shell splits).
inline ToolResult RunTool(const std::string& arguments, const std::filesystem::path& dir) {
    return RunShell(kThermalTool.string() + " " + arguments, dir);
}
