// The recorder between the viewer's threads, as ThreadSanitizer runs it: the frame processing
// thread records every frame it finishes while the GUI thread plays a recording back into the
// pipeline, opens and closes recordings of each type under it and feeds a video. Whatever the
// interleaving, every file holds whole records only. The recording run between the thread that
// takes frames, its controlling thread and its own writer: every record in order, none lost.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "frame/binary_record_reader.h"
#include "processing/frame_pipeline.h"
#include "recording/playback_rules.h"
#include "recording/recording_run.h"
#include "recording/stream_player.h"
#include "recording/stream_recorder.h"
#include "recording_files.h"

namespace fs = std::filesystem;

namespace {
using namespace std::chrono_literals;

// A video that only counts its frames: the encoder is not what this test is about, and it would
// be slow under the sanitizer.
struct CountingVideoSink : IVideoSink {
    explicit CountingVideoSink(std::atomic<int>* frames) : frames(frames) {}
    int EncodeFrame(const uint8_t*, uint8_t*, int* outLength, int* isKeyFrame) override {
        *outLength = 100;
        *isKeyFrame = 1;
        return 1;
    }
    int32_t AppendFrame(int, int, const uint8_t*) override {
        ++*frames;
        return 0;
    }
    std::string FailureReason() const override { return {}; }
    std::atomic<int>* frames;
};

struct Recording {
    CStreamRecorder* pRecorder;
    std::atomic<int> written{0};

    static void OnFrameReady(void* owner, const char* modeLetter, const std::string& text,
                             const uint8_t* raw, const uint8_t*, const uint16_t*) {
        auto* self = static_cast<Recording*>(owner);
        const ProcessedFrame frame{.modeLetter = *modeLetter,
                                   .text = text,
                                   .block = raw,
                                   .unit = kUnitKelvin,
                                   .subtractingOffsets = false};
        if (self->pRecorder->RecordFrame(frame, 1) == RecordOutcome::kWritten) {
            ++self->written;
        }
    }
};

TEST(RecorderThreads, OpenAndCloseOnTheGuiThreadWhileTheProcessingThreadRecords) {
    ScratchDirectory dir("recorder_threads");
    constexpr int kFrames = 120;
    std::string bds;
    for (int n = 0; n < kFrames; ++n) {
        bds += BinaryStreamRecord('K', SpreadFrame(static_cast<uint16_t>(2950 + n), 2900, 3100));
    }
    const fs::path source = dir.path() / "source.bds";
    WriteFileBytes(source, bds);
    const std::string textFrame =
        RenderTemperatureText(SpreadFrame(2981, 2900, 3100), kUnitKelvin).text;

    std::atomic<int> videoFrames{0};
    RecorderEnvironment environment;
    environment.videoSinkFactory = [&videoFrames](const std::string&, RecordingFileCreation) {
        return std::make_unique<CountingVideoSink>(&videoFrames);
    };
    CStreamRecorder recorder(environment);
    Recording recording{&recorder};
    std::vector<fs::path> streams;
    const std::vector<uint8_t> image(kImageBytes, 7);
    {
        CFramePipeline pipeline;
        pipeline.SetCallback(&Recording::OnFrameReady, &recording);
        CStreamPlayer player;
        ASSERT_EQ(player.OpenForPlay(kPlayBinaryStream, source.string()), 2);
        uint8_t record[kBinaryRecordSize];
        for (int n = 0; player.ReadRecord(kBinaryRecordSize, record) == 1; ++n) {
            pipeline.QueueFrame('K', kFrameBlockSize, record + kBinaryRecordHeaderSize);
            switch (n % 6) {
                case 0:
                case 2: {
                    const int type = n % 4 == 0 ? kRecordingBinary : kRecordingText;
                    streams.push_back(dir.path() / ("part" + std::to_string(n) +
                                                    (type == kRecordingBinary ? ".bds" : ".txt")));
                    ASSERT_EQ(recorder.OpenFile(type, streams.back().string()), 1);
                    break;
                }
                case 3:
                    // Text play-back on this thread records through the same recorder.
                    pipeline.ProcessTextFrame(0, 'K', textFrame);
                    break;
                case 4:
                    recorder.CloseFile();
                    break;
                case 5:
                    ASSERT_EQ(recorder.OpenFile(kRecordingVideo, (dir.path() / "v.avi").string()),
                              1);
                    recorder.WriteVideoFrame(kImageWidth, kImageHeight, image.data());
                    break;
                default:
                    break;
            }
            std::this_thread::sleep_for(1ms);
        }
        pipeline.StopThread();
    }
    recorder.CloseFile();

    EXPECT_GT(recording.written.load(), 0);
    EXPECT_GT(videoFrames.load(), 0);
    int records = 0;
    for (const fs::path& path : streams) {
        const std::string bytes = ReadWhole(path);
        if (path.extension() == ".bds") {
            ASSERT_EQ(bytes.size() % kBinaryRecordSize, 0u) << path;
            for (std::size_t at = 0; at < bytes.size(); at += kBinaryRecordSize, ++records) {
                ASSERT_EQ(bytes.compare(at, 6, "Mode=T"), 0) << path << " at " << at;
            }
            continue;
        }
        // Text: header line and 33 frame lines per record, each ending in CR CR LF.
        const std::size_t lines =
            static_cast<std::size_t>(std::count(bytes.begin(), bytes.end(), '\n'));
        ASSERT_EQ(lines % kTextRecordLineCount, 0u) << path;
        std::size_t headers = 0;
        for (std::size_t at = bytes.find("Mode="); at != std::string::npos;
             at = bytes.find("Mode=", at + 1)) {
            ++headers;
        }
        EXPECT_EQ(headers, lines / kTextRecordLineCount) << path;
        records += static_cast<int>(headers);
    }
    EXPECT_EQ(records, recording.written.load());
}

// Frames taken on one thread while the controlling thread opens the next file are written in
// order through queues of one and of many records; Stop writes what is queued. A stop ends the
// run at its record when its rules say so, and is only reported otherwise.
TEST(RecorderThreads, RecordingRunWritesTakenFramesInOrderAndStopsAsItsRulesSay) {
    constexpr int kFrames = 1100;  // the disk check falls due at the 1024th write
    std::vector<std::vector<uint8_t>> blocks;
    std::string sent;
    for (int n = 0; n < kFrames; ++n) {
        const FrameData frame = SpreadFrame(static_cast<uint16_t>(2000 + n), 1900, 3200);
        blocks.emplace_back(kFrameBlockSize);
        EncodeFrameBlock(frame, blocks.back().data());
        PutFrameMarker(blocks.back().data());
        sent += BinaryStreamRecord('K', frame);
    }
    struct Case {
        const char* name;
        bool endsAtFirstStop;
        std::size_t queueCapacity;
        int switchAt;        // frames taken before the next file is opened; 0: one file
        bool isFileRemoved;  // before the first write, which then fails
        int records;         // written, in the files together
        int stops;           // reported
        bool isTaking;       // once every frame was taken
        const char* reason;
    };
    const Case cases[] = {
        {"viewer: a low disk is reported, every frame written", false, 1, 500, false, kFrames, 1,
         true, "MiB free on the disk of"},
        {"tool: a low disk ends the run with its record", true, kRecordQueueCapacity, 0, false,
         CWriteCounters::kWritesPerCheck, 1, false, "MiB free on the disk of"},
        {"tool: a failed write ends the run", true, kRecordQueueCapacity, 0, true, 0, 1, false,
         "was removed while recording"},
        {"viewer: a failed write is reported by every record", false, kRecordQueueCapacity, 0, true,
         0, kFrames, true, "was removed while recording"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchDirectory dir("recording_run");
        CWriteCounters counters;
        RecorderEnvironment environment;
        environment.pWriteCounters = &counters;
        environment.freeSpaceMiB = [](const std::string&) { return std::optional<uint64_t>(100); };
        CRecordingRun run(environment);
        std::atomic<int> stops{0};
        run.SetListener({{}, [&stops](const std::string&) { ++stops; }});
        const fs::path first = dir.path() / "first.bds";
        const fs::path second = dir.path() / "second.bds";
        ASSERT_EQ(run.OpenFile(kRecordingBinary, first.string()), 1);
        if (c.isFileRemoved) {
            fs::remove(first);
        }
        RecordingRunRules rules;
        rules.endsAtFirstStop = c.endsAtFirstStop;
        rules.queueCapacity = c.queueCapacity;
        ASSERT_EQ(run.Begin(rules), 1);

        std::atomic<int> taken{0};
        std::thread processing([&] {
            for (const std::vector<uint8_t>& block : blocks) {
                run.TakeFrame({.modeLetter = 'K', .block = block.data(), .unit = kUnitKelvin});
                ++taken;
            }
        });
        if (c.switchAt > 0) {
            while (taken < c.switchAt) {
                std::this_thread::yield();
            }
            EXPECT_EQ(run.OpenFile(kRecordingBinary, second.string()), 1);
        }
        processing.join();
        EXPECT_EQ(run.IsTaking(), c.isTaking);
        run.Stop();

        EXPECT_FALSE(run.Recorder().IsFileOpen());
        const std::string written = ReadWhole(first) + ReadWhole(second);
        EXPECT_EQ(written.size(), c.records * kBinaryRecordSize);
        EXPECT_TRUE(written == sent.substr(0, c.records * kBinaryRecordSize));
        EXPECT_EQ(run.Written(), static_cast<uint64_t>(c.records));
        EXPECT_EQ(stops.load(), c.stops);
        EXPECT_NE(run.FailureReason().find(c.reason), std::string::npos) << run.FailureReason();
    }
}

}  // namespace
