// thermal-viewer: live view, recording and play-back for the thermopile array module.
#include <QApplication>
#include <csignal>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/mfc_velk_app.h"

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
            std::printf("thermal-viewer %s\n", THERMAL_VERSION);
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

// Whatever escapes the dialog (memory running out, a library that throws) ends the program with
// one line and status 2 rather than an abort; recordings are appended in whole records, so the
// files written so far stay readable.
int main(int argc, char** argv) {
    try {
        return RunViewer(argc, argv);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "thermal-viewer: stopped by an unexpected error: %s\n", error.what());
    } catch (...) {
        std::fprintf(stderr, "thermal-viewer: stopped by an unexpected error\n");
    }
    return 2;
}
