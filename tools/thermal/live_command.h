#pragma once
// The outer frame shared by the commands that drive a live module (`record`, `stream`,
// `publish`): SIGINT and SIGTERM end the run through its own stop sequence, the signals that
// would kill the process mid-write are ignored, and a run whose threads cannot be started says
// so. Main thread.
#include <csignal>
#include <cstdio>
#include <initializer_list>
#include <memory>
#include <system_error>

#include "platform/stop_signals.h"

// Makes a `Run` of `options` and returns its Run(), or 1 with one line on standard error.
template <typename Run, typename Options>
int RunLiveCommand(const char* command, const Options& options,
                   std::initializer_list<int> ignoredSignals) {
    const CStopSignals stopSignals;
    if (!stopSignals.Error().empty()) {
        std::fprintf(stderr, "thermal %s: cannot catch SIGINT and SIGTERM: %s\n", command,
                     stopSignals.Error().c_str());
        return 1;
    }
    for (const int signal : ignoredSignals) {
        std::signal(signal, SIG_IGN);
    }
    std::unique_ptr<Run> run;
    try {
        run = std::make_unique<Run>(options);
    } catch (const std::system_error& error) {
        // Its frame processing thread: out of memory or of threads, nothing to do with the port.
        std::fprintf(stderr, "thermal %s: cannot start the frame processing thread: %s\n", command,
                     error.code().message().c_str());
        return 1;
    }
    // The run ends before the signals are handed back.
    return run->Run();
}
