// The run's loop, its stops and its outputs, over a source of numbered frame blocks: blocking as
// the `thermal` commands drive it, and on its own thread with outputs added and removed while it
// runs, as the viewer drives it.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "device/test_frames.h"
#include "run/frame_run.h"

namespace {
using namespace std::chrono_literals;

// Frames tagged 1, 2, ... up to `count` (0: for ever), each after `pause`.
class CCountingSource final : public IFrameSource {
  public:
    explicit CCountingSource(uint64_t count, std::chrono::microseconds pause = {})
        : m_count(count), m_pause(pause) {}
    SourceRead Next(SourceFrame& frame) override {
        if (m_count != 0 && m_taken == m_count) {
            return SourceRead::kEnd;
        }
        std::this_thread::sleep_for(m_pause);
        m_block = TaggedFrame(static_cast<uint16_t>(++m_taken));
        frame = SourceFrame{};
        frame.number = m_taken;
        frame.modeLetter = 'K';
        frame.block = m_block.data();
        return SourceRead::kFrame;
    }
    uint64_t Position() const override { return m_taken * kFrameBlockSize; }
    int ErrorNumber() const override { return 0; }

  private:
    const uint64_t m_count;
    const std::chrono::microseconds m_pause;
    uint64_t m_taken = 0;
    std::vector<uint8_t> m_block;
};

// Keeps the tag and number of every frame; fails at frame `failAt` (0: never).
class CTagSink final : public IFrameSink {
  public:
    explicit CTagSink(unsigned needs = kNeedsBlock, uint64_t failAt = 0)
        : m_needs(needs), m_failAt(failAt) {}
    std::string Name() const override { return "tags"; }
    unsigned Needs() const override { return m_needs; }
    Status Begin() override {
        ++begun;
        return {};
    }
    Status Write(const ProcessedFrame& frame) override {
        if (frame.number == m_failAt) {
            return Status::Failure("full");
        }
        std::lock_guard lock(m_lock);
        tags.push_back(TagOf(frame.block));
        hasValues = frame.values != nullptr;
        CountWritten();
        return {};
    }
    Status Finish() override {
        finishedOn = std::this_thread::get_id();
        return {};
    }
    std::vector<uint16_t> Tags() {
        std::lock_guard lock(m_lock);
        return tags;
    }

    std::atomic<int> begun{0};
    bool hasValues = false;
    std::thread::id finishedOn;

  private:
    const unsigned m_needs;
    const uint64_t m_failAt;
    std::mutex m_lock;  // guards tags
    std::vector<uint16_t> tags;
};

std::vector<uint16_t> Tags(uint16_t first, uint16_t last) {
    std::vector<uint16_t> tags;
    for (uint16_t tag = first; tag <= last; ++tag) {
        tags.push_back(tag);
    }
    return tags;
}

// How each end of a blocking run leaves the outputs and the counts: every frame taken is handed
// on, made into none or let go, and a failed output's frame goes to no one.
TEST(FrameRun, StopsForItsReasonWithEveryFrameAccountedFor) {
    struct Case {
        const char* name;
        uint64_t frames;  // in the source
        uint64_t limit;
        uint64_t failAt;
        RunStop reason;
        std::vector<uint16_t> written;  // by the required output
    };
    const Case cases[] = {
        {"source ends", 5, 0, 0, RunStop::kSourceEnded, Tags(1, 5)},
        {"frame limit", 50, 7, 0, RunStop::kFrameLimit, Tags(1, 7)},
        {"output fails", 50, 0, 4, RunStop::kSinkFailed, Tags(1, 3)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CFrameRun run(std::make_unique<CCountingSource>(c.frames));
        auto required = std::make_shared<CTagSink>(kNeedsBlock, c.failAt);
        auto optional = std::make_shared<CTagSink>(kNeedsValues, 2);
        run.AddSink(required);
        run.AddSink(optional, false);
        run.SetLimits({c.limit, {}});
        std::shared_ptr<IFrameSink> dropped;
        RunHooks hooks;
        hooks.sinkFinished = [&](std::shared_ptr<IFrameSink> sink, const Status& status) {
            dropped = std::move(sink);
            EXPECT_EQ(status.Message(), "full");
        };
        const RunEnd end = run.Run(hooks);
        EXPECT_EQ(end.reason, c.reason);
        EXPECT_EQ(required->Tags(), c.written);
        EXPECT_EQ(required->begun, 1);
        // The optional output failed at its second frame and was let go; the run went on.
        EXPECT_EQ(dropped, optional);
        EXPECT_EQ(optional->Tags(), Tags(1, 1));
        EXPECT_TRUE(optional->hasValues);
        EXPECT_FALSE(required->hasValues) << "a block nobody's values need is not processed";
        const RunCounts counts = run.Counts();
        EXPECT_EQ(counts.processed, c.written.size());
        EXPECT_EQ(counts.taken, counts.processed + counts.notMade + counts.letGo);
    }
}

// On its own thread the run takes outputs added and removed while it runs: an added one is begun
// and gets the frames from then on, in order and without a gap; a removed one is finished on the
// run's thread and handed back. A stop asked from another thread ends the run.
TEST(FrameRun, OnItsOwnThreadTakesOutputsAddedAndRemovedWhileItRuns) {
    CFrameRun run(std::make_unique<CCountingSource>(0, 200us));
    auto display = std::make_shared<CTagSink>();
    run.AddSink(display);
    std::atomic<int> finished{0};
    std::thread::id runThread;
    RunHooks hooks;
    hooks.sinkFinished = [&](std::shared_ptr<IFrameSink>, const Status& status) {
        EXPECT_TRUE(status.IsOk());
        runThread = std::this_thread::get_id();
        ++finished;
    };
    std::atomic<bool> hasEnded{false};
    RunStop reason = RunStop::kNone;
    ASSERT_TRUE(run.Start(hooks,
                          [&](const RunEnd& end) {
                              reason = end.reason;
                              hasEnded = true;
                          })
                    .IsOk());
    const auto waitFor = [](const std::function<bool()>& done) {
        const auto end = std::chrono::steady_clock::now() + 5s;
        while (!done() && std::chrono::steady_clock::now() < end) {
            std::this_thread::sleep_for(1ms);
        }
        return done();
    };
    ASSERT_TRUE(waitFor([&] { return run.Counts().processed >= 20; }));
    auto recording = std::make_shared<CTagSink>();
    run.AddSink(recording);
    ASSERT_TRUE(waitFor([&] { return recording->Written() >= 20; }));
    run.RemoveSink(recording.get());
    ASSERT_TRUE(waitFor([&] { return finished == 1; }));
    EXPECT_EQ(recording->begun, 1);
    EXPECT_EQ(recording->finishedOn, runThread);
    EXPECT_NE(runThread, std::this_thread::get_id());
    const std::vector<uint16_t> recorded = recording->Tags();
    const uint64_t written = recording->Written();
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(recording->Written(), written) << "frames after its removal";
    run.RequestStop();
    ASSERT_TRUE(waitFor([&] { return hasEnded.load(); }));
    run.Join();
    EXPECT_EQ(reason, RunStop::kStopAsked);
    ASSERT_FALSE(recorded.empty());
    EXPECT_EQ(recorded, Tags(recorded.front(), recorded.back()));
    EXPECT_EQ(display->Tags(), Tags(1, static_cast<uint16_t>(run.Counts().processed)));
}

}  // namespace
