#include "live_command.h"

#include "cli/option_table.h"
#include "platform/one_line.h"
#include "remote/mqtt_address.h"

void AddLiveOptions(COptionTable& table, LiveOptions& options) {
    table.Text("--port", "a device name", options.port);
    table.Ranged<uint64_t>("--frames", 1, 1'000'000'000'000,
                           [&options](uint64_t frames) { options.frames = frames; });
    table.Ranged<double>("--duration", 0.001, 1e9,
                         [&options](double seconds) { options.seconds = seconds; });
    table.Flag("--voltage", options.voltage);
}

std::string LiveOptionsProblem(const LiveOptions& options) {
    if (options.port.empty()) {
        return "missing --port NAME";
    }
    if (options.frames && options.seconds) {
        return "--frames and --duration cannot be used together";
    }
    if (!IsMqttAddress(options.port)) {
        return {};
    }
    const Result<MqttModuleAddress> address = ParseMqttModuleAddress(options.port);
    if (!address) {
        return address.Message();
    }
    if (const Status plain = CheckNoTls((*address).broker); !plain) {
        return plain.Message();
    }
    if (options.voltage) {
        return "--voltage does not apply to a module on a broker: it streams what its publisher "
               "asked the module for";
    }
    return {};
}

RunLimits LimitsOf(const LiveOptions& options) {
    RunLimits limits;
    limits.frames = options.frames.value_or(0);
    if (options.seconds) {
        limits.duration = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
            std::chrono::duration<double>(*options.seconds));
    }
    return limits;
}

RunHooks LiveHooks(const char* command) {
    RunHooks hooks;
    hooks.stopRequests = [] { return CStopSignals::Count(); };
    hooks.notice = [command](const std::string& line) {
        std::fprintf(stderr, "thermal %s: %s\n", command, OneLine(line).c_str());
    };
    return hooks;
}

std::string ReceivedText(CFrameRun& run, const char* behind) {
    const RunCounts counts = run.Counts();
    std::string text = ", " + std::to_string(counts.received) + " frames received";
    if (counts.dropped > 0) {
        text += ", " + std::to_string(counts.dropped) + " of them lost: the " + behind +
                " fell behind the stream";
    }
    return text + run.Live()->LossText();
}

std::string RateText(uint64_t count, double seconds) {
    char text[64];
    std::snprintf(text, sizeof text, " in %.1f s (%.1f/s)", seconds,
                  seconds > 0 ? static_cast<double>(count) / seconds : 0.0);
    return text;
}

int LiveStatus(const char* command, CFrameRun& run, std::string failure, const char* what) {
    if (failure.empty() && run.Live()->FramesMissing() > 0) {
        failure = std::string(what) + " is incomplete: frames its publisher sent never arrived";
    }
    if (failure.empty()) {
        return 0;
    }
    std::fprintf(stderr, "thermal %s: %s\n", command, OneLine(failure).c_str());
    return 1;
}
