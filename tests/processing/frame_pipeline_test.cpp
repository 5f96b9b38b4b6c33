#include "processing/frame_pipeline.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "frame/frame_block.h"
#include "frame/text_frame.h"

namespace {

using namespace std::chrono_literals;

std::vector<uint8_t> Block(uint16_t pixel, uint16_t offsetEven, uint16_t offsetOdd) {
    FrameData frame{};
    std::fill(std::begin(frame.values), std::end(frame.values), pixel);
    for (int i = 0; i < kOffsetCount / 2; ++i) {
        frame.offsets[i] = offsetEven;
        frame.offsets[kOffsetCount / 2 + i] = offsetOdd;
    }
    frame.header[2] = 0x0123;
    frame.header[3] = 0x0004;
    std::vector<uint8_t> block(kFrameBlockSize);
    EncodeFrameBlock(frame, block.data());
    PutFrameMarker(block.data());
    return block;
}

// Records what reaches the callback; thread-safe. Declared before the pipeline, so it outlives
// the processing thread, which may still be delivering queued frames until the pipeline ends.
struct Recorder {
    std::mutex lock;
    std::condition_variable changed;
    std::vector<std::string> texts;
    std::vector<char> letters;
    std::vector<std::vector<uint16_t>> values;
    std::vector<bool> hadRaw;
    std::shared_future<void> gate;  // when valid, each delivery waits for it

    static void OnFrame(void* owner, const char* letter, const std::string& text,
                        const uint8_t* raw, const uint8_t*, const uint16_t* values) {
        auto* self = static_cast<Recorder*>(owner);
        if (self->gate.valid()) {
            self->gate.wait();
        }
        std::lock_guard<std::mutex> guard(self->lock);
        self->texts.push_back(text);
        self->letters.push_back(*letter);
        self->values.emplace_back(values, values + kPixelCount);
        self->hadRaw.push_back(raw != nullptr);
        self->changed.notify_all();
    }

    bool WaitFor(std::size_t count) {
        std::unique_lock<std::mutex> guard(lock);
        return changed.wait_for(guard, 5s, [&] { return texts.size() >= count; });
    }
};

TEST(FramePipeline, BlocksOfTheWrongLengthProduceNoCallback) {
    Recorder recorder;
    CFramePipeline pipeline;
    pipeline.SetCallback(&Recorder::OnFrame, &recorder);
    const std::vector<uint8_t> block = Block(3000, 0, 0);
    std::vector<uint8_t> longer = block;
    longer.push_back(0);
    pipeline.QueueFrame('K', 2111, block.data());
    pipeline.QueueFrame('K', 2113, longer.data());
    pipeline.QueueFrame('K', -5, nullptr);
    EXPECT_EQ(pipeline.ProcessFrameNow('K', 2111, block.data()), 0);
    pipeline.QueueFrame('K', kFrameBlockSize, block.data());  // this one gets through
    ASSERT_TRUE(recorder.WaitFor(1));
    pipeline.StopThread();
    EXPECT_EQ(recorder.texts.size(), 1u);
    EXPECT_TRUE(recorder.hadRaw[0]);
}

TEST(FramePipeline, LiveFrameGivesTextMinMaxAndHeaderCodes) {
    Recorder recorder;
    CFramePipeline pipeline;
    pipeline.SetCallback(&Recorder::OnFrame, &recorder);
    pipeline.SetUnit(2);
    ASSERT_EQ(pipeline.ProcessFrameNow('K', kFrameBlockSize, Block(2981, 0, 0).data()), 1);
    ASSERT_EQ(recorder.texts.size(), 1u);
    EXPECT_EQ(recorder.texts[0].substr(0, 6), "+25.0\t");
    std::string minimum, maximum;
    pipeline.GetMinMaxText(minimum, maximum);
    EXPECT_EQ(minimum, "+298.1");
    EXPECT_EQ(maximum, "+298.1");
    EXPECT_EQ(pipeline.GetVddCode(), 0xE89A);
    EXPECT_EQ(pipeline.GetAmbientCode(), 0x4123);
    // Letters that are neither temperature nor voltage frames give an empty text.
    ASSERT_EQ(pipeline.ProcessFrameNow('x', kFrameBlockSize, Block(2981, 0, 0).data()), 1);
    EXPECT_TRUE(recorder.texts[1].empty());
}

TEST(FramePipeline, OffsetsAreDeinterleavedAndSubtractedFromVoltageFrames) {
    Recorder recorder;
    CFramePipeline pipeline;
    pipeline.SetCallback(&Recorder::OnFrame, &recorder);
    pipeline.SetElOffsetSubtraction(1);
    // Even words carry columns 0 to 15, odd words columns 16 to 31.
    ASSERT_EQ(pipeline.ProcessFrameNow('t', kFrameBlockSize, Block(1000, 100, 150).data()), 1);
    EXPECT_EQ(recorder.values[0][1], 900);
    EXPECT_EQ(recorder.values[0][16], 850);
    EXPECT_EQ(recorder.values[0][32 + 31], 850);
    pipeline.SetElOffsetSubtraction(0);
    ASSERT_EQ(pipeline.ProcessFrameNow('t', kFrameBlockSize, Block(1000, 100, 150).data()), 1);
    EXPECT_EQ(recorder.values[1][16], 1000);
}

// A frame made without the display image holds the same values (offsets subtracted) and text,
// and a frame says the settings it was made with even when another thread changes them before
// its consumer asks (here the callback itself).
TEST(FramePipeline, FramesWithoutTheImageAreTheSameAndSayTheirOwnSettings) {
    struct Made {
        CFramePipeline* pipeline;
        std::vector<std::pair<std::string, std::vector<uint16_t>>> frames;
        std::vector<bool> hadImage;
        std::vector<MadeFrameDetails> details;
    } made;
    CFramePipeline pipeline;
    made.pipeline = &pipeline;
    pipeline.SetCallback(
        [](void* owner, const char*, const std::string& text, const uint8_t*, const uint8_t* image,
           const uint16_t* values) {
            auto* self = static_cast<Made*>(owner);
            self->frames.emplace_back(text, std::vector<uint16_t>(values, values + kPixelCount));
            self->hadImage.push_back(image != nullptr);
            self->pipeline->SetUnit(kUnitKelvin);
            self->pipeline->SetElOffsetSubtraction(0);
            self->details.push_back(self->pipeline->CallerFrameDetails());
        },
        &made);
    for (const char letter : {'t', 'K'}) {
        for (const DisplayImage image : {DisplayImage::kMake, DisplayImage::kSkip}) {
            pipeline.SetUnit(kUnitFahrenheit);
            pipeline.SetElOffsetSubtraction(1);
            ASSERT_EQ(pipeline.ProcessFrameNow(letter, kFrameBlockSize,
                                               Block(1000, 100, 150).data(), image),
                      1);
        }
    }
    ASSERT_EQ(made.frames.size(), 4u);
    EXPECT_EQ(made.frames[0], made.frames[1]);
    EXPECT_EQ(made.frames[2], made.frames[3]);
    EXPECT_EQ(made.frames[0].second[16], 850);
    EXPECT_EQ(made.hadImage, (std::vector<bool>{true, false, true, false}));
    for (const MadeFrameDetails& details : made.details) {
        EXPECT_EQ(details.settings.unit, kUnitFahrenheit);
        EXPECT_TRUE(details.settings.subtractingOffsets);
    }
    // 100 K in the unit the frame was made with.
    EXPECT_EQ(made.frames[3].first.substr(0, 7), "-279.7\t");
}

TEST(FramePipeline, StacksAverageLiveFramesAndResizeSafely) {
    Recorder recorder;
    CFramePipeline pipeline;
    pipeline.SetCallback(&Recorder::OnFrame, &recorder);
    pipeline.SetStackSizes(2, 0, 1);
    int frame, offset, thermal;
    pipeline.GetStackSizes(frame, offset, thermal);
    EXPECT_EQ(frame, 2);
    EXPECT_EQ(offset, 1);
    for (uint16_t v : {10, 10, 11}) {
        pipeline.ProcessFrameNow('K', kFrameBlockSize, Block(v, 0, 0).data());
    }
    EXPECT_EQ(recorder.values[2][0], 11);  // 10.5 rounds up
    pipeline.GetStackCounts(frame, offset, thermal);
    EXPECT_EQ(frame, 3);
    EXPECT_EQ(offset, 2);
    // Resizing from another thread while frames stream in must be safe (run under a sanitizer).
    std::atomic<bool> done{false};
    std::thread resizer([&] {
        for (int i = 0; !done; ++i) {
            pipeline.SetStackSizes(1 + i % 5, 1 + i % 3, 1);
        }
    });
    const std::vector<uint8_t> block = Block(500, 0, 0);
    for (int i = 0; i < 200; ++i) {
        pipeline.QueueFrame('K', kFrameBlockSize, block.data());
    }
    ASSERT_TRUE(recorder.WaitFor(4));
    done = true;
    resizer.join();
}

TEST(FramePipeline, ANewRunStacksFromEmptyStacksInQueueOrder) {
    Recorder recorder;
    std::promise<void> release;  // the first delivery waits until the next run is queued
    recorder.gate = release.get_future().share();
    CFramePipeline pipeline;
    pipeline.SetCallback(&Recorder::OnFrame, &recorder);
    pipeline.SetStackSizes(2, 1, 1);
    for (uint16_t v : {10, 20}) {
        pipeline.QueueFrame('K', kFrameBlockSize, Block(v, 0, 0).data());
    }
    pipeline.StartRun();
    pipeline.QueueFrame('K', kFrameBlockSize, Block(30, 0, 0).data());
    release.set_value();
    ASSERT_TRUE(recorder.WaitFor(3));
    EXPECT_EQ(recorder.values[2][0], 30);  // not averaged with 20 of the run before
}

TEST(FramePipeline, CountsWhatBecameOfEveryQueuedBlock) {
    // The first frame's callback waits for a go; meanwhile twelve frames and a short block
    // queue up behind it. Frames queued while a backlog is being drained are all processed.
    struct Gate {
        std::mutex lock;
        std::condition_variable changed;
        bool entered = false;
        bool open = false;
        int frames = 0;
        static void OnFrame(void* owner, const char*, const std::string&, const uint8_t*,
                            const uint8_t*, const uint16_t*) {
            auto* self = static_cast<Gate*>(owner);
            std::unique_lock<std::mutex> guard(self->lock);
            self->entered = true;
            ++self->frames;
            self->changed.notify_all();
            self->changed.wait(guard, [self] { return self->open; });
        }
    } gate;
    CFramePipeline pipeline;
    pipeline.SetCallback(&Gate::OnFrame, &gate);
    const std::vector<uint8_t> block = Block(3000, 0, 0);
    pipeline.QueueFrame('K', kFrameBlockSize, block.data());
    {
        std::unique_lock<std::mutex> guard(gate.lock);
        ASSERT_TRUE(gate.changed.wait_for(guard, 5s, [&] { return gate.entered; }));
    }
    for (int i = 0; i < 12; ++i) {
        pipeline.QueueFrame('K', kFrameBlockSize, block.data());
    }
    pipeline.QueueFrame('K', kFrameBlockSize - 1, block.data());
    PipelineCounts counts = pipeline.Counts();
    EXPECT_EQ(counts.framesQueued, 14u);
    EXPECT_EQ(counts.framesWaiting, 13u);
    EXPECT_EQ(counts.framesProcessed, 0u);  // the first is still in its callback
    {
        std::lock_guard<std::mutex> guard(gate.lock);
        gate.open = true;
    }
    gate.changed.notify_all();
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (pipeline.Counts().framesProcessed + pipeline.Counts().framesRejected < 14 &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(1ms);
    }
    counts = pipeline.Counts();
    EXPECT_EQ(counts.framesProcessed, 13u);
    EXPECT_EQ(counts.framesRejected, 1u);
    EXPECT_EQ(counts.framesReplaced, 0u);
    EXPECT_EQ(counts.framesWaiting, 0u);
    {
        std::lock_guard<std::mutex> guard(gate.lock);
        EXPECT_EQ(gate.frames, 13);
    }
    // Blocks processed at once on the caller's thread are not queued ones.
    pipeline.ProcessFrameNow('K', kFrameBlockSize, block.data());
    EXPECT_EQ(pipeline.Counts().framesProcessed, 13u);
}

TEST(FramePipeline, StopReturnsAfterTwoSecondsWhenTheCallbackBlocks) {
    struct Blocker {
        std::atomic<bool> entered{false};
        static void OnFrame(void* owner, const char*, const std::string&, const uint8_t*,
                            const uint8_t*, const uint16_t* values) {
            auto* self = static_cast<Blocker*>(owner);
            self->entered = true;
            std::this_thread::sleep_for(3s);
            // Still readable after StopThread gave up and the pipeline was destroyed.
            volatile uint16_t first = values[0];
            (void)first;
        }
    };
    // The blocker outlives the pipeline and the thread: a static object.
    static Blocker blocker;
    const auto start = std::chrono::steady_clock::now();
    {
        CFramePipeline pipeline;
        pipeline.SetCallback(&Blocker::OnFrame, &blocker);
        pipeline.QueueFrame('K', kFrameBlockSize, Block(3000, 0, 0).data());
        while (!blocker.entered) {
            std::this_thread::sleep_for(1ms);
        }
        pipeline.QueueFrame('K', kFrameBlockSize, Block(3000, 0, 0).data());
        pipeline.StopThread();
        const auto waited = std::chrono::steady_clock::now() - start;
        EXPECT_GE(waited, 1900ms);
        EXPECT_LT(waited, 2900ms);
    }                                     // destroyed while the thread still sleeps in the callback
    std::this_thread::sleep_for(1500ms);  // let the thread finish; sanitizers watch its accesses
}

TEST(FramePipeline, TextFramesArePlayedBackThroughTheSameMapping) {
    Recorder recorder;
    CFramePipeline pipeline;
    pipeline.SetCallback(&Recorder::OnFrame, &recorder);
    pipeline.SetUnit(1);
    FrameData frame{};
    for (int i = 0; i < kPixelCount; ++i) {
        frame.values[i] = static_cast<uint16_t>(2900 + i);
    }
    const std::string text = RenderTemperatureText(frame, 1).text;
    ASSERT_EQ(pipeline.ProcessTextFrame(0, 'K', text), 1);
    ASSERT_EQ(recorder.texts.size(), 1u);
    EXPECT_EQ(recorder.texts[0], text);
    EXPECT_EQ(recorder.letters[0], 'k');
    EXPECT_FALSE(recorder.hadRaw[0]);
    EXPECT_EQ(recorder.values[0][5], 2905);

    // Voltage frame whose offsets were subtracted: they are added back and subtracted again.
    FrameData voltage{};
    for (int i = 0; i < kPixelCount; ++i) {
        voltage.values[i] = 800;
    }
    for (int c = 0; c < kOffsetCount; ++c) {
        voltage.offsets[c] = 82;  // 0.1001 V reads back as 81.9..: truncated to 81
    }
    pipeline.SetElOffsetSubtraction(1);
    ASSERT_EQ(pipeline.ProcessTextFrame(1, 'V', RenderVoltageText(voltage).text), 1);
    EXPECT_EQ(recorder.letters[1], 't');
    EXPECT_EQ(recorder.values[1][0], 800);  // +0.9768 V reads back as 800, + 81 - 81

    for (const std::string& bad : {std::string(), std::string("Mode=K\r"), text.substr(7)}) {
        EXPECT_EQ(pipeline.ProcessTextFrame(0, 'K', bad), 0);
    }
    EXPECT_EQ(recorder.texts.size(), 2u);
}

TEST(FramePipeline, SettingsStartAtTheirDefaults) {
    CFramePipeline pipeline;
    EXPECT_EQ(pipeline.GetUnit(), 1);
    EXPECT_EQ(pipeline.GetMirrorMode(), 0);
    EXPECT_EQ(pipeline.IsInterpolation(), 0);
    EXPECT_EQ(pipeline.IsElOffsetSubtraction(), 0);
    EXPECT_EQ(pipeline.GetScalingMode(), 1);
    pipeline.SetManualScaling(310.0f, 300.0f, 305.0f);
    EXPECT_EQ(pipeline.GetScalingMode(), 2);
    int first, count;
    pipeline.GetPixelRange(first, count);
    EXPECT_EQ(first, 1);
    EXPECT_EQ(count, 1056);
    pipeline.StopThread();
    pipeline.StopThread();  // idempotent
}

}  // namespace
