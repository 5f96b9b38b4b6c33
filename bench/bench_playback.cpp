// Play-back reads on the GUI thread: one text frame (34 lines) through CStreamPlayer against a
// single pread() of the same bytes from the same cached file, and one binary stream record.
// The ratios are printed at the end.
//
//   build/bin/bench_playback
#include <fcntl.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "frame/binary_record.h"
#include "frame/text_frame.h"
#include "median_ratio_reporter.h"
#include "recording/playback_rules.h"
#include "recording/stream_player.h"

namespace {

constexpr int kRecords = 200;

FrameData VoltageFrame() {
    FrameData frame{};
    for (int i = 0; i < kPixelCount; ++i) {
        frame.values[i] = static_cast<uint16_t>(1000 + i);
    }
    for (int c = 0; c < kOffsetCount; ++c) {
        frame.offsets[c] = static_cast<uint16_t>(20 + c);
    }
    return frame;
}

// A voltage text recording (the longest lines) and a binary one of kRecords frames each,
// written once into the temporary directory.
struct Recordings {
    std::string text;
    std::string binary;
    std::size_t textRecordSize = 0;

    Recordings() {
        const auto dir = std::filesystem::temp_directory_path();
        text = (dir / ("bench_playback_" + std::to_string(::getpid()) + ".txt")).string();
        binary = (dir / ("bench_playback_" + std::to_string(::getpid()) + ".bds")).string();
        const FrameData frame = VoltageFrame();
        const std::string record = MakeTextStreamRecord('V', 'T', RenderVoltageText(frame).text);
        textRecordSize = record.size();
        uint8_t block[kFrameBlockSize];
        EncodeFrameBlock(frame, block);
        const BinaryRecord binaryRecord = EncodeBinaryRecord('t', block);
        std::ofstream textFile(text, std::ios::binary);
        std::ofstream binaryFile(binary, std::ios::binary);
        for (int i = 0; i < kRecords; ++i) {
            textFile << record;
            binaryFile.write(reinterpret_cast<const char*>(binaryRecord.data()),
                             static_cast<std::streamsize>(binaryRecord.size()));
        }
    }
    ~Recordings() {
        std::remove(text.c_str());
        std::remove(binary.c_str());
    }
};

const Recordings& Files() {
    static const Recordings files;
    return files;
}

void BM_Baseline_PreadTextFrameBytes(benchmark::State& state) {
    const Recordings& files = Files();
    const int fd = ::open(files.text.c_str(), O_RDONLY);
    std::vector<char> buffer(files.textRecordSize);
    int record = 0;
    for (auto _ : state) {
        const off_t at = static_cast<off_t>(record * files.textRecordSize);
        benchmark::DoNotOptimize(::pread(fd, buffer.data(), buffer.size(), at));
        record = (record + 1) % kRecords;
    }
    ::close(fd);
}

void BM_ReadTextFrame(benchmark::State& state) {
    const Recordings& files = Files();
    CStreamPlayer player;
    player.OpenForPlay(kPlayTextStream, files.text);
    std::string text;
    for (auto _ : state) {
        text.clear();
        if (player.ReadTextFrame(text) == 0) {
            state.PauseTiming();
            player.OpenForPlay(kPlayTextStream, files.text);
            state.ResumeTiming();
        }
        benchmark::DoNotOptimize(text.data());
    }
}

void BM_ReadBinaryRecord(benchmark::State& state) {
    const Recordings& files = Files();
    CStreamPlayer player;
    player.OpenForPlay(kPlayBinaryStream, files.binary);
    uint8_t record[kBinaryRecordSize];
    for (auto _ : state) {
        if (player.ReadRecord(kBinaryRecordSize, record) == 0) {
            state.PauseTiming();
            player.OpenForPlay(kPlayBinaryStream, files.binary);
            state.ResumeTiming();
        }
        benchmark::DoNotOptimize(record);
    }
}

// What the window's play-back tick reads: the next frame of the source, without a copy.
void NextFrames(benchmark::State& state, int type, const std::string& path) {
    CStreamPlayer player;
    player.OpenForPlay(type, path);
    SourceFrame frame;
    for (auto _ : state) {
        if (player.NextFrame(frame) != SourceRead::kFrame) {
            state.PauseTiming();
            player.OpenForPlay(type, path);
            state.ResumeTiming();
        }
        benchmark::DoNotOptimize(frame.stored.data());
    }
}

void BM_NextTextFrame(benchmark::State& state) {
    NextFrames(state, kPlayTextStream, Files().text);
}

void BM_NextBinaryFrame(benchmark::State& state) {
    NextFrames(state, kPlayBinaryStream, Files().binary);
}

}  // namespace

BENCHMARK(BM_Baseline_PreadTextFrameBytes)->Repetitions(9)->ReportAggregatesOnly(true);
BENCHMARK(BM_ReadTextFrame)->Repetitions(9)->ReportAggregatesOnly(true);
BENCHMARK(BM_ReadBinaryRecord)->Repetitions(9)->ReportAggregatesOnly(true);
BENCHMARK(BM_NextTextFrame)->Repetitions(9)->ReportAggregatesOnly(true);
BENCHMARK(BM_NextBinaryFrame)->Repetitions(9)->ReportAggregatesOnly(true);

int main(int argc, char** argv) {
    // A text frame is read on the GUI thread at every play-back tick. Buffered, its 34 lines
    // cost a few times one bare read of the same bytes; a read() per line would cost dozens.
    MedianRatioReporter reporter("BM_Baseline_PreadTextFrameBytes",
                                 {{"BM_ReadTextFrame", 10.0}, {"BM_NextTextFrame", 10.0}});
    return RunWithMedianRatios(argc, argv, reporter);
}
