// `thermal sim`: runs the simulated module in the foreground on a pseudo-terminal, prints the
// device path to open, logs every byte it receives, and runs until interrupted (or --duration).
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "cli/option_table.h"
#include "commands.h"
#include "device/module_simulator.h"
#include "platform/one_line.h"
#include "platform/stop_signals.h"

namespace {

volatile std::sig_atomic_t g_isDisconnectAsked = 0;

void OnDisconnectSignal(int) {
    g_isDisconnectAsked = 1;
}

void PrintSimUsage(FILE* out) {
    std::fprintf(out,
                 "Usage: thermal sim [OPTIONS]\n"
                 "Simulates the thermopile module on a pseudo-terminal and prints its path.\n\n"
                 "  --fps RATE              frames per second of a stream (default 5.4)\n"
                 "  --seed N                seed for scene, noise and faults (default 1)\n"
                 "  --link PATH             keep a symlink PATH pointing at the device (PATH\n"
                 "                          free, or a link into /dev/pts/ left by a simulator)\n"
                 "  --garbage-rate P        chance per frame of stray bytes before it (0..1)\n"
                 "  --drop-rate P           chance per frame of losing bytes inside it (0..1)\n"
                 "  --chunking              write in random sizes\n"
                 "  --disconnect-after N    drop the line after N frames, once\n"
                 "  --silent-on LETTERS     never answer these command letters\n"
                 "  --duration SECONDS      stop after this long (default: until interrupted)\n"
                 "  --quiet                 do not log received bytes\n\n"
                 "SIGUSR1 pulls the plug once more (the line comes back after 0.5 s). On exit it\n"
                 "prints what became of the frames: sent, damaged and broken (marker lost) on\n"
                 "purpose, preceded by garbage, cut by a disconnection (marker never read).\n");
}

}  // namespace

int RunSim(int argc, char** argv) {
    if (AsksForHelp(argc, argv)) {
        PrintSimUsage(stdout);
        return 0;
    }
    SimulatorOptions options;
    double duration = 0;
    bool isQuiet = false;
    COptionTable table;
    table.Ranged<double>("--fps", 0.001, 100000.0, [&](double fps) { options.fps = fps; });
    table.Ranged<uint32_t>("--seed", 0, UINT32_MAX, [&](uint32_t seed) { options.seed = seed; });
    table.Ranged<double>("--garbage-rate", 0.0, 1.0,
                         [&](double rate) { options.garbageRate = rate; });
    table.Ranged<double>("--drop-rate", 0.0, 1.0, [&](double rate) { options.dropRate = rate; });
    table.Ranged<int64_t>("--disconnect-after", 0, 1'000'000'000'000,
                          [&](int64_t frames) { options.disconnectAfter = frames; });
    table.Ranged<double>("--duration", 0.0, 1e7, [&](double seconds) { duration = seconds; });
    table.Text("--link", "a path", options.linkPath);
    table.Value("--silent-on", "command letters", [&](std::string_view letters) {
        options.silentOn = letters;
        return true;
    });
    table.Flag("--chunking", options.chunking);
    table.Flag("--quiet", isQuiet);
    std::vector<std::string> positional;
    if (const std::string error = table.Parse(argc, argv, positional); !error.empty()) {
        return CommandLineError("sim", error);
    }
    if (!positional.empty()) {
        return CommandLineError("sim", "unexpected argument '" + positional[0] + "'");
    }

    if (!options.linkPath.empty()) {
        if (const std::string refusal = CheckSimulatorLink(options.linkPath); !refusal.empty()) {
            std::fprintf(stderr, "thermal sim: %s\n", OneLine(refusal).c_str());
            return 2;
        }
    }

    const CStopSignals stopSignals;
    if (!stopSignals.Error().empty()) {
        std::fprintf(stderr, "thermal sim: cannot catch SIGINT and SIGTERM: %s\n",
                     stopSignals.Error().c_str());
        return 1;
    }
    CModuleSimulator simulator(options);
    if (!isQuiet) {
        simulator.SetByteLogger([](uint8_t byte) {
            if (byte >= 0x20 && byte < 0x7F) {
                std::printf("received 0x%02X '%c'\n", byte, byte);
            } else {
                std::printf("received 0x%02X\n", byte);
            }
            std::fflush(stdout);
        });
    }
    if (const std::string error = simulator.Start(); !error.empty()) {
        std::fprintf(stderr, "thermal sim: %s\n", OneLine(error).c_str());
        return 1;
    }
    // The path is what the user came for: if it cannot be written, nobody can use the line.
    std::printf("%s\n", simulator.SlavePath().c_str());
    if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
        const int error = errno;
        simulator.Stop();
        std::fprintf(stderr, "thermal sim: cannot write the device path to standard output: %s\n",
                     std::strerror(error));
        return 1;
    }

    std::signal(SIGUSR1, OnDisconnectSignal);
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::duration<double>(duration);
    while (CStopSignals::Count() == 0 &&
           (duration <= 0 || std::chrono::steady_clock::now() < deadline)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (g_isDisconnectAsked) {
            g_isDisconnectAsked = 0;
            simulator.Disconnect();
        }
    }
    simulator.Stop();
    const SimulatorCounts counts = simulator.Counts();
    const auto u = [](uint64_t n) { return static_cast<unsigned long long>(n); };
    std::fprintf(stderr, "thermal sim: %llu frames sent\n", u(counts.framesSent));
    std::fprintf(stderr,
                 "thermal sim: frames sent=%llu damaged=%llu broken=%llu garbled=%llu cut=%llu "
                 "disconnections=%llu\n",
                 u(counts.framesSent), u(counts.framesDamaged), u(counts.framesBroken),
                 u(counts.framesGarbled), u(counts.framesCut), u(counts.disconnections));
    return 0;
}
