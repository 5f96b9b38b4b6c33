#pragma once
// The viewer's command line. Plain C++ so it is testable without a display.
#include <string>
#include <vector>

#include "app/mfc_velk_dlg.h"

struct CommandLine {
    enum class Action { Run, Help, Version, Error };
    Action action = Action::Run;
    ViewerOptions options;
    std::string error;  // for Action::Error: one line saying what is wrong
};

CommandLine ParseCommandLine(const std::vector<std::string>& args);

// The --help text.
std::string CommandLineUsage();
