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
        if (arg == "--stats") {
            result.options.stats = true;
            continue;
        }
        if (arg == "--demo") {
            result.options.demo = true;
            continue;
        }
        if (arg == "--start") {
            result.options.start = true;
            continue;
        }
        if (arg == "--port") {
            if (i + 1 >= args.size() || args[i + 1].empty()) {
                result.action = CommandLine::Action::Error;
                result.error = "--port needs a device name";
                return result;
            }
            result.options.port = args[++i];
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
           "      --port NAME\n"
           "                 add the serial device NAME (e.g. /dev/ttyUSB0) to the port\n"
           "                 list and select it\n"
           "      --demo     run a simulated module and select its port\n"
           "      --start    press START once the window is up\n"
           "      --stats    print each frame's latency from its last byte to its image on\n"
           "                 the screen and the duration of each play-back tick, and a\n"
           "                 summary of both when the window closes\n"
           "      --startup-report\n"
           "                 print when the window was shown and the memory in use, then\n"
           "                 close (for start-up measurements)\n";
}
