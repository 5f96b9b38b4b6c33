// Frames through a broker: what publishing a frame costs against the frame path, and how long a
// frame takes from the module to a subscriber.
//
// 1. Cost: a frame's payload made and handed to a connected client (QoS 0, a local Mosquitto),
//    in the process's CPU time with its network thread, against the live frame path (the
//    pipeline's ProcessFrameNow of bench_processing) timed the same way in the same run.
// 2. Latency: a simulated module at 5.4 and at 100 frames a second, `thermal publish` on its
//    line, and a subscriber here: from the moment the module has written a frame's last byte to
//    the moment the subscriber has its payload, p50 and p99, and frames published against
//    received.
//
//   build/bin/bench_publish_latency [SECONDS_PER_RATE]   (default 20)
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "device/module_simulator.h"
#include "frame/frame_block.h"
#include "processing/frame_pipeline.h"
#include "remote/frame_payload.h"
#include "remote/mqtt_client.h"
#include "support/mosquitto_broker.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

double ProcessCpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

size_t BlockKey(const uint8_t* block) {
    return std::hash<std::string_view>{}(
        std::string_view(reinterpret_cast<const char*>(block), kFrameBlockSize));
}

std::vector<uint8_t> Block(int n) {
    FrameData frame{};
    for (int i = 0; i < kPixelCount; ++i) {
        frame.values[i] = static_cast<uint16_t>(2900 + (i * 7 + n * 13) % 300);
    }
    std::vector<uint8_t> block(kFrameBlockSize);
    EncodeFrameBlock(frame, block.data());
    PutFrameMarker(block.data());
    return block;
}

MqttClientOptions OptionsFor(const MosquittoBroker& broker) {
    MqttClientOptions options;
    options.broker = ParseMqttBroker(broker.Url()).Value();
    return options;
}

bool WaitUntil(const std::function<bool()>& done, std::chrono::seconds limit) {
    const auto end = Clock::now() + limit;
    while (!done()) {
        if (Clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// CPU seconds per frame of the live frame path.
double FramePathCost(int frames) {
    CFramePipeline pipeline;
    pipeline.SetInterpolation(1);
    pipeline.SetCallback([](void*, const char*, const std::string&, const uint8_t*, const uint8_t*,
                            const uint16_t*) {},
                         nullptr);
    std::vector<std::vector<uint8_t>> blocks;
    for (int n = 0; n < 16; ++n) {
        blocks.push_back(Block(n));
    }
    const double start = ProcessCpuSeconds();
    for (int n = 0; n < frames; ++n) {
        pipeline.ProcessFrameNow('K', kFrameBlockSize, blocks[static_cast<size_t>(n) % 16].data());
    }
    return (ProcessCpuSeconds() - start) / frames;
}

// CPU seconds per frame of making the payload and publishing it, the network thread's writing
// included.
double PublishCost(const MosquittoBroker& broker, int frames) {
    CMqttClient client(OptionsFor(broker), {});
    if (!client.Start() ||
        !WaitUntil([&] { return client.IsConnected(); }, std::chrono::seconds(5))) {
        std::fprintf(stderr, "cannot connect to the broker\n");
        std::exit(1);
    }
    std::vector<std::vector<uint8_t>> blocks;
    for (int n = 0; n < 16; ++n) {
        blocks.push_back(Block(n));
    }
    uint8_t payload[kBinaryRecordSize];
    const double start = ProcessCpuSeconds();
    int published = 0;
    for (int n = 0; n < frames; ++n) {
        MakeFramePayload('K', blocks[static_cast<size_t>(n) % 16].data(), payload);
        // Paced like a fast stream, so the library's queue never fills.
        while (!client.Publish("bench/cost/frame", payload, sizeof payload, 0, false)) {
            std::this_thread::yield();
        }
        ++published;
    }
    client.Stop();
    return (ProcessCpuSeconds() - start) / published;
}

struct LatencyRun {
    uint64_t sent = 0;
    uint64_t received = 0;
    std::vector<double> latenciesMs;
};

LatencyRun MeasureLatency(const MosquittoBroker& broker, const std::string& thermal, double fps,
                          int seconds) {
    std::mutex lock;  // guards sentAt and run
    std::map<size_t, Clock::time_point> sentAt;
    std::vector<std::pair<size_t, Clock::time_point>> receivedAt;
    LatencyRun run;
    SimulatorOptions options;
    options.fps = fps;
    CModuleSimulator sim(options);
    sim.SetFrameWrittenListener([&](const uint8_t* block) {
        const auto now = Clock::now();
        std::lock_guard guard(lock);
        sentAt[BlockKey(block)] = now;
    });
    if (const std::string error = sim.Start(); !error.empty()) {
        std::fprintf(stderr, "simulated module: %s\n", error.c_str());
        std::exit(1);
    }
    CMqttClient subscriber(
        OptionsFor(broker),
        {.connected = {}, .disconnected = {}, .message = [&](const MqttMessage& message) {
             const auto now = Clock::now();
             FramePayload frame;
             if (DecodeFramePayload(message.payload, message.size, frame) != PayloadFault::kNone) {
                 return;
             }
             // Matched with the send times at the end: the module's thread may note a frame's
             // time only after the frame has come through.
             std::lock_guard guard(lock);
             receivedAt.emplace_back(BlockKey(frame.block), now);
         }});
    if (!subscriber.Start() ||
        !WaitUntil([&] { return subscriber.IsConnected(); }, std::chrono::seconds(5)) ||
        !subscriber.Subscribe("bench/latency/frame", 0)) {
        std::fprintf(stderr, "cannot subscribe\n");
        std::exit(1);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const std::string port = sim.SlavePath();
    const std::string duration = std::to_string(seconds);
    const std::string url = broker.Url();
    std::vector<const char*> argv = {thermal.c_str(), "publish",        "--port",  port.c_str(),
                                     "--broker",      url.c_str(),      "--topic", "bench/latency",
                                     "--duration",    duration.c_str(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    if (posix_spawn(&pid, thermal.c_str(), &actions, nullptr, const_cast<char**>(argv.data()),
                    environ) != 0) {
        std::fprintf(stderr, "cannot start %s\n", thermal.c_str());
        std::exit(1);
    }
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    ::waitpid(pid, &status, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    subscriber.Stop();
    sim.Stop();
    std::lock_guard guard(lock);
    run.sent = sentAt.size();
    run.received = receivedAt.size();
    for (const auto& [key, time] : receivedAt) {
        if (const auto it = sentAt.find(key); it != sentAt.end()) {
            run.latenciesMs.push_back(
                std::chrono::duration<double, std::milli>(time - it->second).count());
        }
    }
    std::sort(run.latenciesMs.begin(), run.latenciesMs.end());
    return run;
}

double Percentile(const std::vector<double>& sorted, double fraction) {
    if (sorted.empty()) {
        return 0.0;
    }
    return sorted[std::min(sorted.size() - 1, static_cast<size_t>(fraction * sorted.size()))];
}

}  // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::max(2, std::atoi(argv[1])) : 20;
    std::string here = argv[0];
    here = here.substr(0, here.rfind('/') + 1);
    const std::string thermal = here + "thermal";
    MosquittoBroker broker;

    const int costFrames = 20000;
    const double framePath = FramePathCost(costFrames);
    const double publish = PublishCost(broker, costFrames);
    std::printf("frame path (live, interpolated)  %8.2f us per frame (baseline)\n",
                framePath * 1e6);
    std::printf("publish (payload + QoS 0 send)   %8.2f us per frame  ratio %.3f\n", publish * 1e6,
                publish / framePath);

    for (const double fps : {5.4, 100.0}) {
        const LatencyRun run = MeasureLatency(broker, thermal, fps, seconds);
        std::printf(
            "latency at %5.1f fps: p50 %6.2f ms  p99 %6.2f ms  frames sent %llu, received %llu "
            "(%zu matched)\n",
            fps, Percentile(run.latenciesMs, 0.5), Percentile(run.latenciesMs, 0.99),
            static_cast<unsigned long long>(run.sent),
            static_cast<unsigned long long>(run.received), run.latenciesMs.size());
    }
    return 0;
}
