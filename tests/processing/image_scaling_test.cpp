// The one-pass display image against the two steps it replaces (bilinear to 64 x 62, then
// nearest neighbour to 320 x 310), which the enlargement tests in color_mapping_test.cpp pin to
// their expected bytes.
#include "processing/image_scaling.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "processing/color_mapping.h"
#include "processing/frame_pipeline.h"
#include "processing/markers.h"

namespace {

std::vector<uint8_t> TwoStepImage(const uint8_t* small, bool interpolate) {
    std::vector<uint8_t> image(kImageBytes);
    if (interpolate) {
        std::vector<uint8_t> smooth(kSmoothWidth * kSmoothHeight * 3);
        BilinearEnlarge(small, kFrameRows, kFrameColumns, smooth.data(), kSmoothHeight,
                        kSmoothWidth);
        ResampleNearest(smooth.data(), kSmoothHeight, kSmoothWidth, image.data(), kImageHeight,
                        kImageWidth, true);
    } else {
        ResampleNearest(small, kFrameRows, kFrameColumns, image.data(), kImageHeight, kImageWidth,
                        true);
    }
    return image;
}

// First differing pixel as "x,y", or empty when the images are equal.
std::string FirstDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i] != b[i]) {
            const std::size_t pixel = i / 3;
            return std::to_string(pixel % kImageWidth) + "," + std::to_string(pixel / kImageWidth);
        }
    }
    return {};
}

TEST(DisplayImage, MatchesTwoStepEnlargementByteForByte) {
    std::mt19937 random(7);
    // Random bytes, plus bytes only at 0 and 255 and odd neighbours, where a carry between the
    // bytes of a pixel or a lost half of a mean would show.
    for (int pattern = 0; pattern < 24; ++pattern) {
        std::vector<uint8_t> small(kSmallImageBytes);
        for (uint8_t& byte : small) {
            const uint32_t bits = random();
            byte = pattern % 3 == 0   ? static_cast<uint8_t>(bits)
                   : pattern % 3 == 1 ? static_cast<uint8_t>((bits & 1) != 0 ? 255 : 0)
                                      : static_cast<uint8_t>(253 + bits % 3);
        }
        for (const bool interpolate : {false, true}) {
            std::vector<uint8_t> image(kImageBytes, 0xA5);
            BuildDisplayImage(small.data(), interpolate, image.data());
            EXPECT_EQ(FirstDifference(image, TwoStepImage(small.data(), interpolate)), "")
                << "pattern " << pattern << " interpolate " << interpolate;
        }
    }
}

struct ImageCapture {
    std::vector<uint8_t> image;
    static void OnFrame(void* owner, const char*, const std::string&, const uint8_t*,
                        const uint8_t* image, const uint16_t*) {
        auto* self = static_cast<ImageCapture*>(owner);
        self->image.assign(image, image + kImageBytes);
    }
};

TEST(DisplayImage, PipelineImageMatchesTwoStepReferenceInEveryMirrorMode) {
    std::mt19937 random(11);
    std::vector<uint8_t> block(kFrameBlockSize, 0);
    for (int i = 0; i < kPixelCount; ++i) {
        const uint16_t value = static_cast<uint16_t>(2800 + random() % 500);
        block[2 * i] = static_cast<uint8_t>(value);
        block[2 * i + 1] = static_cast<uint8_t>(value >> 8);
    }
    uint32_t palette[kPaletteSize];
    ASSERT_TRUE(BuildPalette(4, palette));
    for (int mirror = kMirrorNone; mirror <= kMirrorBoth; ++mirror) {
        for (const bool interpolate : {false, true}) {
            CFramePipeline pipeline;
            ImageCapture capture;
            pipeline.SetCallback(&ImageCapture::OnFrame, &capture);
            pipeline.SetMirrorMode(mirror);
            pipeline.SetInterpolation(interpolate ? 1 : 0);
            ASSERT_EQ(pipeline.ProcessFrameNow('K', kFrameBlockSize, block.data()), 1);

            FrameData frame{};
            DecodeFrameBlock(block.data(), frame);
            uint8_t small[kSmallImageBytes];
            MarkerCell minCell;
            MarkerCell maxCell;
            MapFrameColours('K', frame.values, frame.offsets, false, ColourScale{}, palette, mirror,
                            small, minCell, maxCell);
            std::vector<uint8_t> expected = TwoStepImage(small, interpolate);
            DrawMarkers(expected.data(), minCell, maxCell);
            EXPECT_EQ(FirstDifference(capture.image, expected), "")
                << "mirror " << mirror << " interpolate " << interpolate;
        }
    }
}

}  // namespace
