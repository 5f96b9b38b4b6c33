// Per-frame cost of recording, measured in one run: the binary and text record writes (the
// recording step of a processed frame) and a bare write() of their bytes against a memcpy of the
// same bytes, and the frame path with a binary or a text recording on against the same path with
// none. The frame path records through the recording run, which writes on a thread of its own;
// the "Inline" rows write on the frame path itself, as the recorder alone does, and the
// "AllThreads" rows count the writer thread's time too. The files lie in the temporary directory
// and are reopened every 1024 writes, outside the timing, so they stay small.
// Run: build/bin/bench_recording
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "frame/binary_record.h"
#include "frame/conversion.h"
#include "frame/text_frame.h"
#include "median_ratio_reporter.h"
#include "processing/frame_pipeline.h"
#include "recording/recording_run.h"

namespace {

std::vector<uint8_t> MakeBlock(uint32_t seed) {
    std::mt19937 random(seed);
    std::vector<uint8_t> block(kFrameBlockSize, 0);
    for (int i = 0; i < kPixelCount + kOffsetCount; ++i) {
        const uint16_t value = static_cast<uint16_t>(2900 + random() % 300);
        block[2 * i] = static_cast<uint8_t>(value);
        block[2 * i + 1] = static_cast<uint8_t>(value >> 8);
    }
    return block;
}

std::string RecordingPath(const char* extension) {
    return (std::filesystem::temp_directory_path() /
            ("bench_recording_" + std::to_string(::getpid()) + extension))
        .string();
}

// The recorder of one benchmark: opens its file of `type` (none for 0) and reopens it outside the
// timing every 1024 frames, and removes it at the end. The timing pauses alike without a file.
class BenchRecording {
  public:
    BenchRecording(int type, const char* extension)
        : m_type(type), m_path(RecordingPath(extension)) {
        if (type != 0) {
            m_recorder.OpenFile(type, m_path);
        }
    }
    ~BenchRecording() {
        m_recorder.CloseFile();
        std::filesystem::remove(m_path);
    }
    void Reopen(benchmark::State& state) {
        if (++m_writes % CWriteCounters::kWritesPerCheck == 0) {
            state.PauseTiming();
            if (m_type != 0) {
                m_recorder.OpenFile(m_type, m_path);
            }
            state.ResumeTiming();
        }
    }
    CStreamRecorder m_recorder;

  private:
    int m_type;
    std::string m_path;
    long m_writes = 0;
};

std::string RenderedText() {
    FrameData frame{};
    DecodeFrameBlock(MakeBlock(1).data(), frame);
    return RenderTemperatureText(frame, kUnitCelsius).text;
}

void Memcpy(benchmark::State& state, std::size_t size) {
    std::vector<uint8_t> from(size, 1);
    std::vector<uint8_t> to(size);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), size);
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
}

void BM_Baseline_MemcpyBinaryRecord(benchmark::State& state) {
    Memcpy(state, kBinaryRecordSize);
}

void BM_Baseline_MemcpyTextRecord(benchmark::State& state) {
    Memcpy(state, MakeTextStreamRecord('C', 'F', RenderedText()).size());
}

void BM_WriteBinaryRecord(benchmark::State& state) {
    BenchRecording recording(kRecordingBinary, ".bds");
    const std::vector<uint8_t> block = MakeBlock(1);
    const ProcessedFrame frame{.modeLetter = 'K',
                               .text = {},
                               .block = block.data(),
                               .unit = kUnitCelsius,
                               .subtractingOffsets = true};
    for (auto _ : state) {
        if (recording.m_recorder.RecordFrame(frame, 1) != RecordOutcome::kWritten) {
            state.SkipWithError("the write failed");
            break;
        }
        recording.Reopen(state);
    }
}

void BM_WriteTextRecord(benchmark::State& state) {
    BenchRecording recording(kRecordingText, ".txt");
    const std::string text = RenderedText();
    const ProcessedFrame frame{.modeLetter = 'K',
                               .text = text,
                               .block = nullptr,
                               .unit = kUnitCelsius,
                               .subtractingOffsets = true};
    for (auto _ : state) {
        if (recording.m_recorder.RecordFrame(frame, 1) != RecordOutcome::kWritten) {
            state.SkipWithError("the write failed");
            break;
        }
        recording.Reopen(state);
    }
}

// The bare write() of the same bytes to a file reopened alike: what the kernel alone costs.
void BareWrite(benchmark::State& state, const std::string& bytes, const char* extension) {
    const std::string path = RecordingPath(extension);
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    long writes = 0;
    for (auto _ : state) {
        if (::write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
            state.SkipWithError("the write failed");
            break;
        }
        if (++writes % CWriteCounters::kWritesPerCheck == 0) {
            state.PauseTiming();
            ::close(fd);
            fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
            state.ResumeTiming();
        }
    }
    ::close(fd);
    std::filesystem::remove(path);
}

void BM_BareWriteBinaryRecord(benchmark::State& state) {
    const BinaryRecord record = EncodeBinaryRecord('K', MakeBlock(1).data());
    BareWrite(state, std::string(record.begin(), record.end()), ".raw.bds");
}

void BM_BareWriteTextRecord(benchmark::State& state) {
    BareWrite(state, MakeTextStreamRecord('C', 'F', RenderedText()), ".raw.txt");
}

std::vector<std::vector<uint8_t>> FrameBlocks() {
    std::vector<std::vector<uint8_t>> blocks;
    for (uint32_t seed = 0; seed < 8; ++seed) {
        blocks.push_back(MakeBlock(seed));
    }
    return blocks;
}

// The viewer's default display: temperatures in Celsius, interpolated.
void ConfigureLikeTheViewer(CFramePipeline& pipeline) {
    pipeline.SetUnit(kUnitCelsius);
    pipeline.SetInterpolation(1);
}

// The processing thread's work for one frame, including the recording step of the frame-ready
// callback, written there and then into `recording` (none: a recorder with no file open).
void FramePathInline(benchmark::State& state, int type, const char* extension) {
    BenchRecording recording(type, extension);
    CFramePipeline pipeline;
    ConfigureLikeTheViewer(pipeline);
    pipeline.SetCallback(
        [](void* owner, const char* letter, const std::string& text, const uint8_t* raw,
           const uint8_t*, const uint16_t*) {
            auto* recorder = static_cast<CStreamRecorder*>(owner);
            benchmark::DoNotOptimize(recorder->RecordFrame({.modeLetter = *letter,
                                                            .text = text,
                                                            .block = raw,
                                                            .unit = kUnitCelsius,
                                                            .subtractingOffsets = true},
                                                           1));
        },
        &recording.m_recorder);
    const std::vector<std::vector<uint8_t>> blocks = FrameBlocks();
    std::size_t n = 0;
    for (auto _ : state) {
        pipeline.ProcessFrameNow('K', kFrameBlockSize, blocks[n++ % blocks.size()].data());
        recording.Reopen(state);
    }
    pipeline.StopThread();
}

// The same through a recording run, as the viewer and `thermal record` record (type 0: a run
// that takes no frames). The file is reopened alike, once the run's writer has caught up.
void FramePath(benchmark::State& state, int type, const char* extension) {
    const std::string path = RecordingPath(extension);
    CRecordingRun run;
    if (type != 0) {
        run.OpenFile(type, path);
        run.Begin({});
    }
    CFramePipeline pipeline;
    ConfigureLikeTheViewer(pipeline);
    pipeline.SetCallback(
        [](void* owner, const char* letter, const std::string& text, const uint8_t* raw,
           const uint8_t*, const uint16_t*) {
            static_cast<CRecordingRun*>(owner)->TakeFrame({.modeLetter = *letter,
                                                           .text = text,
                                                           .block = raw,
                                                           .unit = kUnitCelsius,
                                                           .subtractingOffsets = true});
        },
        &run);
    const std::vector<std::vector<uint8_t>> blocks = FrameBlocks();
    std::size_t n = 0;
    for (auto _ : state) {
        pipeline.ProcessFrameNow('K', kFrameBlockSize, blocks[n++ % blocks.size()].data());
        if (n % CWriteCounters::kWritesPerCheck == 0) {
            state.PauseTiming();
            if (type != 0) {
                run.OpenFile(type, path);
            }
            state.ResumeTiming();
        }
    }
    pipeline.StopThread();
    if (type != 0 && !run.FailureReason().empty()) {
        state.SkipWithError(run.FailureReason().c_str());
    }
    run.Stop();
    std::filesystem::remove(path);
}

void BM_Baseline_FramePathNotRecording(benchmark::State& state) {
    FramePath(state, 0, ".none");
}
void BM_FramePath_BinaryRecording(benchmark::State& state) {
    FramePath(state, kRecordingBinary, ".bds");
}
void BM_FramePath_TextRecording(benchmark::State& state) {
    FramePath(state, kRecordingText, ".txt");
}
void BM_FramePath_BinaryRecordingInline(benchmark::State& state) {
    FramePathInline(state, kRecordingBinary, ".inline.bds");
}
void BM_FramePath_TextRecordingInline(benchmark::State& state) {
    FramePathInline(state, kRecordingText, ".inline.txt");
}

}  // namespace

BENCHMARK(BM_Baseline_MemcpyBinaryRecord)->Repetitions(9)->ReportAggregatesOnly(true);
BENCHMARK(BM_WriteBinaryRecord)->Repetitions(9)->ReportAggregatesOnly(true);
BENCHMARK(BM_BareWriteBinaryRecord)->Repetitions(9)->ReportAggregatesOnly(true);
BENCHMARK(BM_Baseline_MemcpyTextRecord)->Repetitions(9)->ReportAggregatesOnly(true);
BENCHMARK(BM_WriteTextRecord)->Repetitions(9)->ReportAggregatesOnly(true);
BENCHMARK(BM_BareWriteTextRecord)->Repetitions(9)->ReportAggregatesOnly(true);
BENCHMARK(BM_Baseline_FramePathNotRecording)->Repetitions(9)->ReportAggregatesOnly(true);
BENCHMARK(BM_FramePath_BinaryRecording)->Repetitions(9)->ReportAggregatesOnly(true);
BENCHMARK(BM_FramePath_TextRecording)->Repetitions(9)->ReportAggregatesOnly(true);
BENCHMARK(BM_FramePath_BinaryRecordingInline)->Repetitions(9)->ReportAggregatesOnly(true);
BENCHMARK(BM_FramePath_TextRecordingInline)->Repetitions(9)->ReportAggregatesOnly(true);
BENCHMARK(BM_FramePath_TextRecording)
    ->Name("BM_FramePath_TextRecordingAllThreads")
    ->MeasureProcessCPUTime()
    ->Repetitions(9)
    ->ReportAggregatesOnly(true);

int main(int argc, char** argv) {
    MedianRatioReporter reporter(
        "BM_Baseline_FramePathNotRecording",
        {{"BM_WriteBinaryRecord", 0.0, "BM_Baseline_MemcpyBinaryRecord"},
         {"BM_BareWriteBinaryRecord", 0.0, "BM_Baseline_MemcpyBinaryRecord"},
         {"BM_WriteTextRecord", 0.0, "BM_Baseline_MemcpyTextRecord"},
         {"BM_BareWriteTextRecord", 0.0, "BM_Baseline_MemcpyTextRecord"},
         {"BM_FramePath_BinaryRecording", 1.1},
         {"BM_FramePath_TextRecording", 1.2}});
    return RunWithMedianRatios(argc, argv, reporter);
}
