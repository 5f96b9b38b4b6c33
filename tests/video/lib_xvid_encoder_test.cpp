// The encoder apart from any file: its order of use and the output buffer it needs.
#include "recording/lib_xvid_encoder.h"

#include <gtest/gtest.h>

#include <random>

#include "video_test_support.h"

namespace {

using namespace video_test;

// Nothing is encoded before the library and an encoder are set up or after the encoder is gone;
// a recreated encoder starts a new stream with a key frame; and full-range noise, the hardest
// image to compress, stays inside the FrameBytes() buffer the caller provides.
TEST(XvidEncoder, EncodesOnlyWhenSetUpAndWithinTheFrameBuffer) {
    const std::vector<std::vector<uint8_t>> scene = DisplayImagesBgr(3);
    std::vector<uint8_t> noise(kImageBytes);
    std::mt19937 random(3);
    for (uint8_t& byte : noise) {
        byte = static_cast<uint8_t>(random());
    }
    constexpr uint8_t kGuard = 0xA5;
    std::vector<uint8_t> out(kImageBytes + 4096, kGuard);
    int length = 77;
    int key = 77;

    CLib_XvidEncoder encoder;
    EXPECT_EQ(encoder.EncodeFrame(scene[0].data(), out.data(), &length, &key), -1);
    EXPECT_EQ(length, 0);
    EXPECT_EQ(key, 0);
    EXPECT_EQ(encoder.CreateEncoder(kImageWidth, kImageHeight, kXvidColourSpaceBgr), -1);
    ASSERT_EQ(encoder.InitLibrary(), 1);
    EXPECT_EQ(encoder.CreateEncoder(kImageWidth, kImageHeight, 4), -1) << "unknown layout";
    ASSERT_EQ(encoder.CreateEncoder(kImageWidth, kImageHeight, kXvidColourSpaceBgr), 1);
    EXPECT_EQ(encoder.FrameBytes(), kImageBytes);
    std::vector<int> keys;
    for (const std::vector<uint8_t>& image : scene) {
        ASSERT_EQ(encoder.EncodeFrame(image.data(), out.data(), &length, &key), 1);
        keys.push_back(key);
    }
    EXPECT_EQ(keys, (std::vector<int>{1, 0, 0}));

    ASSERT_EQ(encoder.CreateEncoder(kImageWidth, kImageHeight, kXvidColourSpaceBgr), 1);
    ASSERT_EQ(encoder.EncodeFrame(scene[2].data(), out.data(), &length, &key), 1);
    EXPECT_EQ(key, 1);
    for (int i = 0; i < 2; ++i) {  // after the scene, then after itself
        ASSERT_EQ(encoder.EncodeFrame(noise.data(), out.data(), &length, &key), 1);
        EXPECT_LT(length, kImageBytes);
    }
    EXPECT_EQ(std::count(out.begin() + kImageBytes, out.end(), kGuard), 4096);

    encoder.DestroyEncoder();
    EXPECT_EQ(encoder.EncodeFrame(scene[0].data(), out.data(), &length, &key), -1);
    EXPECT_EQ(length, 0);
    // A live encoder is left to the destructor: the address-sanitizer build reports a leak.
    EXPECT_EQ(encoder.CreateEncoder(kImageWidth, kImageHeight, kXvidColourSpaceBgr), 1);
}

}  // namespace
