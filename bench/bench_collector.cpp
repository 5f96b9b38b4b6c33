// Frame collector throughput against a plain memcpy of the same bytes (the ratio is printed at
// the end), a text collector's throughput at its 4 MiB limit against one keeping little, and the
// whole receive path fed by the simulated module over a pseudo-terminal.
//
//   build-dev/bin/bench_collector
#include <pthread.h>
#include <time.h>

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <map>
#include <thread>
#include <vector>

#include "device/command_reply.h"
#include "device/module_simulator.h"
#include "device/reply_list.h"
#include "device/serial_port.h"

namespace {

constexpr int kFrames = 64;
constexpr int kChunk = 1024;

std::vector<uint8_t> FrameStream(int strayBytesPerFrame) {
    std::vector<uint8_t> stream;
    for (int i = 0; i < kFrames; ++i) {
        std::vector<uint8_t> frame(kFrameBlockSize, static_cast<uint8_t>(i));
        std::memcpy(frame.data() + kFrameMarkerOffset, kFrameMarker, 4);
        stream.insert(stream.end(), frame.begin(), frame.end());
        stream.insert(stream.end(), strayBytesPerFrame, 0x55);
    }
    return stream;
}

void CountFrame(void* context, CCommandReply*, const std::string&, const uint8_t*, int) {
    ++*static_cast<int64_t*>(context);
}

void BM_Memcpy(benchmark::State& state) {
    const auto stream = FrameStream(0);
    std::vector<uint8_t> target(kFrameBlockSize + 1);
    for (auto _ : state) {
        // The same chunking as the collector sees, copied into one frame-sized buffer.
        for (size_t pos = 0; pos < stream.size(); pos += kChunk) {
            const size_t n = std::min<size_t>(kChunk, stream.size() - pos);
            std::memcpy(target.data() + (pos % kFrameBlockSize) / 2, stream.data() + pos, n);
        }
        benchmark::DoNotOptimize(target.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(stream.size()));
}

void RunCollector(benchmark::State& state, int strayBytesPerFrame) {
    const auto stream = FrameStream(strayBytesPerFrame);
    int64_t frames = 0;
    CCommandReply reply("K", 'K', CountFrame, &frames);
    for (auto _ : state) {
        for (size_t pos = 0; pos < stream.size(); pos += kChunk) {
            const size_t n = std::min<size_t>(kChunk, stream.size() - pos);
            reply.Collect(static_cast<int>(n), stream.data() + pos);
        }
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(stream.size()));
    state.counters["frames_per_pass"] =
        static_cast<double>(frames) / static_cast<double>(state.iterations());
}

void BM_CollectorInStep(benchmark::State& state) {
    RunCollector(state, 0);
}
// One stray byte after every frame: the collector never stays in step and searches its window
// after every block.
void BM_CollectorResynchronising(benchmark::State& state) {
    RunCollector(state, 1);
}

// A text reply that never ends, fed 1 MiB per pass in 64-byte chunks. A fresh collector keeps
// little; one that already keeps the 4 MiB limit drops its oldest bytes as it goes. Their
// throughputs should match: a chunk must not cost more because much is kept.
constexpr size_t kTextPassBytes = 1u << 20;
constexpr int kTextChunk = 64;

void FeedTextPass(CCommandReply& reply, const std::vector<uint8_t>& filler) {
    for (size_t pos = 0; pos < kTextPassBytes; pos += kTextChunk) {
        reply.Collect(kTextChunk, filler.data());
    }
}

void BM_TextCollectorKeepingLittle(benchmark::State& state) {
    const std::vector<uint8_t> filler(kTextChunk, 'Z');
    for (auto _ : state) {
        CCommandReply reply("x", 'x', CountFrame, nullptr);
        FeedTextPass(reply, filler);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(kTextPassBytes));
}

void BM_TextCollectorAtTheLimit(benchmark::State& state) {
    const std::vector<uint8_t> filler(kTextChunk, 'Z');
    CCommandReply reply("x", 'x', CountFrame, nullptr);
    for (size_t fed = 0; fed < CCommandReply::kMaxTextReplyBytes; fed += kTextPassBytes) {
        FeedTextPass(reply, filler);
    }
    for (auto _ : state) {
        FeedTextPass(reply, filler);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(kTextPassBytes));
}

// Simulated module at 2000 frames/s over a pseudo-terminal into port, chunking and collector,
// for 10 s: frames the collector reported against frames sent, and the monitor thread's CPU.
void BM_PtyIngest2000fps(benchmark::State& state) {
    for (auto _ : state) {
        SimulatorOptions options;
        options.fps = 2000;
        CModuleSimulator sim(options);
        if (!sim.Start().empty()) {
            state.SkipWithError("no pseudo-terminal");
            return;
        }
        struct Sink {
            CReplyList* list;
            std::atomic<int64_t> frames{0};
            std::atomic<bool> hasClock{false};
            clockid_t monitorClock{};
        } sink;
        CReplyList list(&sink);
        sink.list = &list;
        list.SetCallback(
            [](void* context, CCommandReply*, const std::string&, const uint8_t*, int count) {
                if (count == kFrameBlockSize) {
                    static_cast<Sink*>(context)->frames++;
                }
            });
        CSerialPort port;
        port.SetCallbackContext(&sink);
        port.m_receiveCallback = [](void* context, uint32_t count, uint32_t, const uint8_t* data) {
            auto* s = static_cast<Sink*>(context);
            if (!s->hasClock.load()) {
                pthread_getcpuclockid(pthread_self(), &s->monitorClock);
                s->hasClock.store(true);
            }
            for (uint32_t pos = 0; pos < count; pos += kChunk) {
                s->list->Feed(static_cast<int>(std::min<uint32_t>(kChunk, count - pos)),
                              data + pos);
            }
        };
        if (port.Open(sim.SlavePath()) != 0) {
            state.SkipWithError("cannot open the simulator's terminal");
            return;
        }
        list.AddCommand("K", 'K');
        const uint8_t k = 'K';
        uint32_t written = 0;
        port.Write(1, &k, &written);
        const auto start = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(std::chrono::seconds(10));
        const uint8_t x = 'x';
        port.Write(1, &x, &written);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));  // let the tail arrive
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        timespec cpu{};
        if (sink.hasClock.load()) {
            clock_gettime(sink.monitorClock, &cpu);
        }
        const double cpuSeconds = cpu.tv_sec + cpu.tv_nsec / 1e9;
        const double received = static_cast<double>(sink.frames.load());
        const double sent = static_cast<double>(sim.FramesSent());
        port.Close();
        sim.Stop();
        state.counters["frames_sent"] = sent;
        state.counters["frames_collected"] = received;
        state.counters["frames_lost"] = sent - received;
        state.counters["collected_per_s"] = received / seconds;
        state.counters["monitor_cpu_pct"] = 100.0 * cpuSeconds / seconds;
    }
}

BENCHMARK(BM_Memcpy);
BENCHMARK(BM_CollectorInStep);
BENCHMARK(BM_CollectorResynchronising);
BENCHMARK(BM_TextCollectorKeepingLittle);
BENCHMARK(BM_TextCollectorAtTheLimit);
BENCHMARK(BM_PtyIngest2000fps)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

// Prints the usual table, then the collector's throughput as a share of memcpy's.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            const auto it = run.counters.find("bytes_per_second");
            if (it != run.counters.end()) {
                m_rates[run.benchmark_name()] = it->second.value;
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        const double base = m_rates["BM_Memcpy"];
        if (base <= 0) {
            return;
        }
        for (const char* name : {"BM_CollectorInStep", "BM_CollectorResynchronising"}) {
            if (m_rates.count(name)) {
                std::printf("%s / memcpy throughput: %.2f\n", name, m_rates[name] / base);
            }
        }
        const double little = m_rates["BM_TextCollectorKeepingLittle"];
        if (little > 0) {
            std::printf("text collector at the 4 MiB limit / keeping little, throughput: %.2f\n",
                        m_rates["BM_TextCollectorAtTheLimit"] / little);
        }
    }

  private:
    std::map<std::string, double> m_rates;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
