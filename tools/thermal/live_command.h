#pragma once
// What the commands that run the live module (`record`, `stream`, `publish`) share: the options
// of the module and of the run's limits, the outer frame (SIGINT and SIGTERM end the run through
// its own stop sequence, the signals that would kill the process mid-write are ignored, a run
// whose threads cannot be started says so), the run's hooks, and the words of its summary. Main
// thread.
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <system_error>

#include "platform/stop_signals.h"
#include "run/frame_run.h"

class COptionTable;

struct LiveOptions {
    std::string port;
    std::optional<uint64_t> frames;
    std::optional<double> seconds;
    bool voltage = false;
};

// --port, --frames, --duration and --voltage.
void AddLiveOptions(COptionTable& table, LiveOptions& options);
// Why the options name no module to run, or empty: no --port, both limits, a broker address that
// does not parse, or the voltage stream asked of a module on a broker.
std::string LiveOptionsProblem(const LiveOptions& options);
RunLimits LimitsOf(const LiveOptions& options);

// The hooks of a live run of `command`: the stop signals' count, the lines of the module and the
// outputs on standard error.
RunHooks LiveHooks(const char* command);
// ", N frames received[, M of them lost: the X fell behind the stream]" and what a module on a
// broker never delivered.
std::string ReceivedText(CFrameRun& run, const char* behind);
// " in 18.5 s (5.4/s)": how long `count` frames took.
std::string RateText(uint64_t count, double seconds);
// The exit status of a live run that failed for `failure` (empty: it did not), said in one line;
// a run that lacks frames its module's publisher numbered is `what` "is incomplete".
int LiveStatus(const char* command, CFrameRun& run, std::string failure, const char* what);

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
