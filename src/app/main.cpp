// thermal-viewer: live view, recording and play-back for the thermopile array module.
#include <QApplication>
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/mfc_velk_app.h"
#include "platform/guarded_main.h"
#include "platform/program_version.h"

namespace {

int RunViewer(int argc, char** argv) {
    // The command line is read before Qt starts, so --help works without a display.
    const CommandLine commandLine =
        ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    switch (commandLine.action) {
        case CommandLine::Action::Help:
            std::fputs(CommandLineUsage().c_str(), stdout);
            return 0;
        case CommandLine::Action::Version:
            std::printf("thermal-viewer %s\n", ProgramVersion());
            return 0;
        case CommandLine::Action::Error:
            std::fprintf(stderr, "thermal-viewer: %s (see 'thermal-viewer --help')\n",
                         commandLine.error.c_str());
            return 2;
        case CommandLine::Action::Run:
            break;
    }
    // A recording that reaches a file size limit must see a failed write it can cut back and
    // report, not a signal that ends the program.
    std::signal(SIGXFSZ, SIG_IGN);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("thermal-viewer"));
    CmfcVELKApp thermalApp(commandLine.options);
    thermalApp.InitInstance();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    return RunGuarded("thermal-viewer", [&] { return RunViewer(argc, argv); });
}
