// `thermal`: command-line companion of the viewer. Dispatches to one subcommand per file.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "commands.h"
#include "platform/guarded_main.h"
#include "platform/one_line.h"
#include "platform/program_version.h"

namespace {

struct Subcommand {
    const char* name;
    int (*run)(int, char**);
    const char* summary;
};

constexpr Subcommand kSubcommands[] = {
    {"convert", RunConvert, "convert a recording or capture into other formats"},
    {"info", RunInfo, "show what recordings hold and the problems found in them"},
    {"publish", RunPublish, "publish the module's frames on an MQTT broker, for viewers elsewhere"},
    {"record", RunRecord, "record the module's stream from a serial port, as the viewer's Rec"},
    {"sim", RunSim, "simulate the sensor module on a pseudo-terminal"},
    {"stream", RunStream, "write the module's frames to standard output as they arrive"},
};

void PrintUsage(FILE* out) {
    std::fprintf(out, "Usage: thermal COMMAND [ARGS...]\n\nCommands:\n");
    for (const Subcommand& sub : kSubcommands) {
        std::fprintf(out, "  %-10s %s\n", sub.name, sub.summary);
    }
    std::fprintf(out, "\nRun 'thermal COMMAND --help' for the options of one command.\n");
}

int RunThermal(int argc, char** argv) {
    if (argc < 2) {
        PrintUsage(stderr);
        return 2;
    }
    const std::string_view command = argv[1];
    if (command == "--help" || command == "-h" || command == "help") {
        PrintUsage(stdout);
        // Every option of every command, with its default, in one place.
        for (const Subcommand& sub : kSubcommands) {
            char help[] = "--help";
            char* arguments[] = {help, nullptr};
            std::printf("\n");
            std::fflush(stdout);
            sub.run(1, arguments);
        }
        return 0;
    }
    if (command == "--version") {
        std::printf("thermal %s\n", ProgramVersion());
        return 0;
    }
    for (const Subcommand& sub : kSubcommands) {
        if (command == sub.name) {
            return sub.run(argc - 2, argv + 2);
        }
    }
    std::fprintf(stderr, "thermal: unknown command '%s' (see 'thermal --help')\n",
                 OneLine(argv[1]).c_str());
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    return RunGuarded("thermal", [&] {
        const int status = RunThermal(argc, argv);
        // Reports, summaries and paths go to standard output: a run whose output was lost (a
        // full disk, /dev/full) has not done its work.
        if ((std::fflush(stdout) != 0 || std::ferror(stdout) != 0) && status == 0) {
            std::fprintf(stderr, "thermal: cannot write to standard output: %s\n",
                         std::strerror(errno));
            return 1;
        }
        return status;
    });
}
