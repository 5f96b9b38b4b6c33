#include "processing/frame_queue.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

QueuedFrame Numbered(int n) {
    QueuedFrame frame;
    frame.byteCount = n;
    return frame;
}

TEST(FrameQueue, BacklogDropsTheOldestFrames) {
    struct Case {
        int backlog;
        int dropped;
    };
    for (const Case c : {Case{1, 0}, Case{3, 0}, Case{4, 1}, Case{6, 1}, Case{7, 2}, Case{9, 2},
                         Case{10, 9}, Case{12, 11}}) {
        CFrameQueue queue;
        for (int n = 0; n < c.backlog; ++n) {
            queue.Push(Numbered(n));
        }
        std::vector<int> processed;
        const int dropped =
            queue.DrainPending([&](QueuedFrame& f) { processed.push_back(f.byteCount); });
        EXPECT_EQ(dropped, c.dropped) << c.backlog;
        ASSERT_EQ(static_cast<int>(processed.size()), c.backlog - c.dropped);
        EXPECT_EQ(processed.front(), c.dropped);  // the newest survive, in order
        EXPECT_EQ(processed.back(), c.backlog - 1);
        EXPECT_EQ(queue.Size(), 0u);
    }
}

TEST(FrameQueue, FramesQueuedWhileDrainingAreAllProcessed) {
    CFrameQueue queue;
    for (int n = 0; n < 4; ++n) {
        queue.Push(Numbered(n));
    }
    std::vector<int> processed;
    queue.DrainPending([&](QueuedFrame& f) {
        processed.push_back(f.byteCount);
        if (f.byteCount == 1) {
            for (int n = 10; n < 15; ++n) {
                queue.Push(Numbered(n));
            }
        }
    });
    EXPECT_EQ(processed, (std::vector<int>{1, 2, 3, 10, 11, 12, 13, 14}));
}

TEST(FrameQueue, StopEndsWaitingAndDraining) {
    CFrameQueue queue;
    EXPECT_EQ(queue.Wait(std::chrono::milliseconds(1)), CFrameQueue::WaitResult::kTimedOut);
    queue.Push(Numbered(0));
    queue.Push(Numbered(1));
    EXPECT_EQ(queue.Wait(std::chrono::milliseconds(1)), CFrameQueue::WaitResult::kWork);
    int processed = 0;
    queue.DrainPending([&](QueuedFrame&) {
        ++processed;
        queue.RequestStop();
    });
    EXPECT_EQ(processed, 1);
    EXPECT_EQ(queue.Wait(std::chrono::milliseconds(1)), CFrameQueue::WaitResult::kStopped);
}

}  // namespace
