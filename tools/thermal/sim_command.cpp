// `thermal sim`: runs the simulated module in the foreground on a pseudo-terminal, prints the
// device path to open, logs every byte it receives, and runs until interrupted (or --duration).
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "commands.h"
#include "device/module_simulator.h"
#include "platform/one_line.h"

namespace {

volatile std::sig_atomic_t g_isInterrupted = 0;
volatile std::sig_atomic_t g_isDisconnectAsked = 0;

void OnSignal(int) {
    g_isInterrupted = 1;
}

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

bool ParseDouble(const char* text, double low, double high, double* value) {
    char* end = nullptr;
    const double parsed = std::strtod(text, &end);
    if (end == text || *end != '\0' || !(parsed >= low && parsed <= high)) {
        return false;
    }
    *value = parsed;
    return true;
}

}  // namespace

int RunSim(int argc, char** argv) {
    SimulatorOptions options;
    double duration = 0;
    bool isQuiet = false;
    for (int i = 0; i < argc; ++i) {
        const std::string arg = argv[i];
        auto needValue = [&]() -> const char* {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "thermal sim: %s needs a value\n", OneLine(arg).c_str());
                return nullptr;
            }
            return argv[++i];
        };
        const char* value = nullptr;
        double number = 0;
        if (arg == "--help" || arg == "-h") {
            PrintSimUsage(stdout);
            return 0;
        } else if (arg == "--chunking") {
            options.chunking = true;
        } else if (arg == "--quiet") {
            isQuiet = true;
        } else if (arg == "--fps" || arg == "--seed" || arg == "--garbage-rate" ||
                   arg == "--drop-rate" || arg == "--disconnect-after" || arg == "--duration") {
            if ((value = needValue()) == nullptr) {
                return 2;
            }
            const double high = arg == "--fps"                          ? 100000.0
                                : arg == "--seed"                       ? 4294967295.0
                                : arg == "--duration"                   ? 1e7
                                : arg.find("rate") != std::string::npos ? 1.0
                                                                        : 1e12;
            const double low = arg == "--fps" ? 0.001 : 0.0;
            const bool wholeNumber = arg == "--seed" || arg == "--disconnect-after";
            if (!ParseDouble(value, low, high, &number) ||
                (wholeNumber && number != std::trunc(number))) {
                std::fprintf(stderr, "thermal sim: bad value '%s' for %s\n", OneLine(value).c_str(),
                             arg.c_str());
                return 2;
            }
            if (arg == "--fps") {
                options.fps = number;
            } else if (arg == "--seed") {
                options.seed = static_cast<uint32_t>(number);
            } else if (arg == "--garbage-rate") {
                options.garbageRate = number;
            } else if (arg == "--drop-rate") {
                options.dropRate = number;
            } else if (arg == "--disconnect-after") {
                options.disconnectAfter = static_cast<int64_t>(number);
            } else {
                duration = number;
            }
        } else if (arg == "--silent-on" || arg == "--link") {
            if ((value = needValue()) == nullptr) {
                return 2;
            }
            (arg == "--link" ? options.linkPath : options.silentOn) = value;
        } else {
            std::fprintf(stderr, "thermal sim: unknown option '%s' (see 'thermal sim --help')\n",
                         OneLine(arg).c_str());
            return 2;
        }
    }

    if (!options.linkPath.empty()) {
        if (const std::string refusal = CheckSimulatorLink(options.linkPath); !refusal.empty()) {
            std::fprintf(stderr, "thermal sim: %s\n", OneLine(refusal).c_str());
            return 2;
        }
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

    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    std::signal(SIGUSR1, OnDisconnectSignal);
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::duration<double>(duration);
    while (!g_isInterrupted && (duration <= 0 || std::chrono::steady_clock::now() < deadline)) {
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
