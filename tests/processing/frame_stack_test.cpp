#include "processing/frame_stack.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

struct Frame {
    uint16_t values[kPixelCount];
    uint16_t offsets[kOffsetCount];
};

Frame Flat(uint16_t value, uint16_t offset) {
    Frame f;
    std::fill(std::begin(f.values), std::end(f.values), value);
    std::fill(std::begin(f.offsets), std::end(f.offsets), offset);
    return f;
}

// Pushes a frame and returns what the pipeline would show: the averaged frame.
Frame PushAndAverage(CFrameStack& stack, Frame f) {
    stack.Push(f.values, f.offsets);
    stack.Average(f.values, f.offsets);
    return f;
}

TEST(FrameStack, ShowsFramesUnchangedUntilFullThenTheMeanOfTheNewest) {
    CFrameStack stack;
    stack.Resize(3, 1, 1);
    const uint16_t shown[] = {PushAndAverage(stack, Flat(100, 0)).values[0],
                              PushAndAverage(stack, Flat(200, 0)).values[0],
                              PushAndAverage(stack, Flat(300, 0)).values[0],
                              PushAndAverage(stack, Flat(400, 0)).values[0],
                              PushAndAverage(stack, Flat(600, 0)).values[0]};
    EXPECT_EQ(shown[0], 100);
    EXPECT_EQ(shown[1], 200);
    EXPECT_EQ(shown[2], 300);
    EXPECT_EQ(shown[3], 300);  // (200 + 300 + 400) / 3
    EXPECT_EQ(shown[4], 433);  // (300 + 400 + 600) / 3 = 433.3
    int frames, offsets, thermal;
    stack.GetCounts(frames, offsets, thermal);
    EXPECT_EQ(frames, 4);  // full at size + 1
    EXPECT_EQ(offsets, 2);
    EXPECT_EQ(thermal, 0);
}

TEST(FrameStack, MeanIsRoundedHalfUp) {
    CFrameStack stack;
    stack.Resize(2, 2, 1);
    PushAndAverage(stack, Flat(0, 0));
    PushAndAverage(stack, Flat(10, 7));
    const Frame f = PushAndAverage(stack, Flat(11, 8));
    EXPECT_EQ(f.values[0], 11);  // 10.5
    EXPECT_EQ(f.offsets[0], 8);  // 7.5
}

TEST(FrameStack, ResizeEmptiesOnlyTheStackWhoseSizeChanged) {
    CFrameStack stack;
    stack.Resize(2, 2, 1);
    for (uint16_t v : {1, 2, 3}) {
        PushAndAverage(stack, Flat(v, v));
    }
    stack.Resize(2, 5, 9);
    int frames, offsets, thermal;
    stack.GetCounts(frames, offsets, thermal);
    EXPECT_EQ(frames, 3);
    EXPECT_EQ(offsets, 0);
    int frameSize, offsetSize, thermalSize;
    stack.GetSizes(frameSize, offsetSize, thermalSize);
    EXPECT_EQ(frameSize, 2);
    EXPECT_EQ(offsetSize, 5);
    EXPECT_EQ(thermalSize, 9);
    // The frame stack goes on averaging its kept entries.
    EXPECT_EQ(PushAndAverage(stack, Flat(5, 5)).values[0], 4);  // (3 + 5) / 2
}

TEST(FrameStack, SizesOutsideOneToThreeHundredAreLimited) {
    CFrameStack stack;
    stack.Resize(0, -4, 1000);
    int frameSize, offsetSize, thermalSize;
    stack.GetSizes(frameSize, offsetSize, thermalSize);
    EXPECT_EQ(frameSize, 1);
    EXPECT_EQ(offsetSize, 1);
    EXPECT_EQ(thermalSize, 300);
    PushAndAverage(stack, Flat(10, 1));
    const Frame f = PushAndAverage(stack, Flat(20, 2));
    EXPECT_EQ(f.values[0], 20);
    EXPECT_EQ(f.offsets[0], 2);
}

// The averaging must equal a float sum taken in entry order, also where large values make the
// float sum inexact, which the fast path must notice.
TEST(FrameStack, DeepStackEqualsTheFloatSumInEntryOrder) {
    constexpr int kSize = 300;
    CFrameStack stack;
    stack.Resize(kSize, 1, 1);
    std::mt19937 random(7);
    std::vector<std::vector<uint16_t>> pushed;
    for (int n = 0; n < kSize + 40; ++n) {
        Frame f;
        for (int i = 0; i < kPixelCount; ++i) {
            // Low positions hold huge values (sum above 2^24), the rest ordinary ones.
            f.values[i] =
                static_cast<uint16_t>(i < 64 ? 60000 + random() % 5536 : 2500 + random() % 1000);
        }
        std::fill(std::begin(f.offsets), std::end(f.offsets), 0);
        pushed.emplace_back(f.values, f.values + kPixelCount);
        const Frame shown = PushAndAverage(stack, f);
        if (static_cast<int>(pushed.size()) <= kSize) {
            continue;
        }
        for (int i = 0; i < kPixelCount; ++i) {
            float sum = 0.0f;
            for (std::size_t k = pushed.size() - kSize; k < pushed.size(); ++k) {
                sum += pushed[k][i];
            }
            float mean = sum / static_cast<float>(kSize);
            ASSERT_EQ(shown.values[i], static_cast<uint16_t>(mean + 0.5)) << n << " " << i;
        }
    }
}

}  // namespace
