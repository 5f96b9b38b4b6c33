#include "app/command_line.h"

CommandLine ParseCommandLine(const std::vector<std::string>& args) {
    CommandLine result;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            result.action = CommandLine::Action::Help;
            return result;
        }
        if (arg == "--version") {
            result.action = CommandLine::Action::Version;
            return result;
        }
        if (arg == "--startup-report") {
            result.options.startupReport = true;
            continue;
        }
        result.action = CommandLine::Action::Error;
        result.error = arg.starts_with("-") ? "unknown option '" + arg + "'"
                                            : "unexpected argument '" + arg + "'";
        return result;
    }
    return result;
}

std::string CommandLineUsage() {
    return "Usage: thermal-viewer [OPTIONS]\n"
           "\n"
           "Live view, recording and play-back for the 32x31 thermopile array module.\n"
           "\n"
           "Options:\n"
           "  -h, --help     show this help and exit\n"
           "      --version  show the version and exit\n"
           "      --startup-report\n"
           "                 print when the window was shown and the memory in use, then\n"
           "                 close (for start-up measurements)\n";
}
