#include "processing/color_mapping.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "processing/image_scaling.h"
#include "processing/markers.h"

namespace {

using Values = std::array<uint16_t, kPixelCount>;

Values Flat(uint16_t v) {
    Values values;
    values.fill(v);
    return values;
}

std::array<uint8_t, 3> SmallPixel(const uint8_t* small, int column, int row) {
    const uint8_t* p = small + 3 * (row * kFrameColumns + column);
    return {p[0], p[1], p[2]};
}

std::array<uint8_t, 3> ImagePixel(const std::vector<uint8_t>& image, int x, int y) {
    const uint8_t* p = image.data() + 3 * (y * kImageWidth + x);
    return {p[0], p[1], p[2]};
}

TEST(ColourMapping, AutomaticScaleEdgeCases) {
    uint8_t indices[kPixelCount];
    Values values = Flat(1128);
    values[10] = 1000;
    values[20] = 1256;
    values[21] = 1256;  // second pixel at the maximum: the first one gets the marker
    values[30] = 1001;
    const ExtremeIndices extremes = AutomaticIndices(values.data(), indices);
    EXPECT_EQ(indices[0], 128);
    EXPECT_EQ(indices[10], 5);
    EXPECT_EQ(indices[20], 250);
    EXPECT_EQ(indices[30], 5);  // 1.5 rounds to 1, raised to 5
    EXPECT_EQ(extremes.minIndex, 10);
    EXPECT_EQ(extremes.maxIndex, 20);

    const ExtremeIndices flat = AutomaticIndices(Flat(0).data(), indices);
    EXPECT_EQ(flat.maxIndex, 0);
    EXPECT_EQ(flat.minIndex, 0);
    for (uint8_t index : indices) {
        ASSERT_EQ(index, 5);
    }
}

// Narrow spans are mapped through a table of differences, wide ones pixel by pixel; both must
// give the index of the formula for every pixel.
TEST(ColourMapping, AutomaticIndicesFollowTheFormulaForNarrowAndWideSpans) {
    std::mt19937 random(3);
    for (const int span : {1, 2, 7, 255, 300, 990, 991, 992, 993, 5000, 65535}) {
        Values values;
        for (uint16_t& v : values) {
            v = static_cast<uint16_t>(random() % (span + 1));
        }
        values[17] = 0;
        values[400] = static_cast<uint16_t>(span);
        uint8_t indices[kPixelCount];
        AutomaticIndices(values.data(), indices);
        for (int i = 0; i < kPixelCount; ++i) {
            const double position = static_cast<float>(values[i] * 256.0 / span) + 0.5;
            const int expected =
                position < 5 ? 5 : (position > 250 ? 250 : static_cast<int>(position));
            ASSERT_EQ(indices[i], expected) << "span " << span << " value " << values[i];
        }
    }
}

// The marker cells against a plain search in pixel order, on frames with many ties and with
// values above 32767, where a signed comparison would go wrong.
TEST(ColourMapping, AutomaticMarkersGoToTheFirstPixelWithEachExtreme) {
    std::mt19937 random(5);
    for (const int base : {0, 3000, 32760, 65530}) {
        for (int trial = 0; trial < 20; ++trial) {
            Values values;
            for (uint16_t& v : values) {
                v = static_cast<uint16_t>(base + random() % 6);
            }
            int maxIndex = 0;
            int minIndex = 0;
            for (int i = 1; i < kPixelCount; ++i) {
                maxIndex = values[i] > values[maxIndex] ? i : maxIndex;
                minIndex = values[i] < values[minIndex] ? i : minIndex;
            }
            uint8_t indices[kPixelCount];
            const ExtremeIndices extremes = AutomaticIndices(values.data(), indices);
            ASSERT_EQ(extremes.maxIndex, maxIndex) << "base " << base << " trial " << trial;
            ASSERT_EQ(extremes.minIndex, minIndex) << "base " << base << " trial " << trial;
            EXPECT_EQ(indices[maxIndex], 250);
            EXPECT_EQ(indices[minIndex], 5);
        }
    }
}

TEST(ColourMapping, ManualScaleOnATemperatureFrame) {
    Values values = Flat(3050);
    values[33] = 2990;
    values[40] = 2990;  // the last pixel at or below the lower bound gets the marker
    values[100] = 3100;
    uint32_t palette[kPaletteSize];
    BuildPalette(3, palette);
    uint8_t small[kSmallImageBytes];
    MarkerCell minCell, maxCell;
    ColourScale scale{kScalingManual, 310.0f, 300.0f};
    MapFrameColours('K', values.data(), nullptr, true, scale, palette, kMirrorNone, small, minCell,
                    maxCell);
    EXPECT_EQ(SmallPixel(small, 0, 0), (std::array<uint8_t, 3>{128, 128, 128}));  // entry 128
    EXPECT_EQ(SmallPixel(small, 1, 1), (std::array<uint8_t, 3>{6, 6, 6}));        // entry 5
    EXPECT_EQ(SmallPixel(small, 4, 3), (std::array<uint8_t, 3>{250, 250, 250}));  // entry 250
    EXPECT_EQ(minCell, (MarkerCell{8, 1}));
    EXPECT_EQ(maxCell, (MarkerCell{4, 3}));

    // Nothing outside the bounds: both markers on cell (0, 0). Crossed bounds never divide.
    MapFrameColours('K', Flat(3050).data(), nullptr, true, scale, palette, kMirrorNone, small,
                    minCell, maxCell);
    EXPECT_EQ(minCell, MarkerCell{});
    EXPECT_EQ(maxCell, MarkerCell{});
    uint8_t indices[kPixelCount];
    ManualIndices(Flat(3050).data(), 4000.0f, 1000.0f, indices, minCell, maxCell);
    EXPECT_EQ(indices[0], 5);
}

// Bounds typed by a user or given on a command line can be anything a float holds. Bounds that
// are not finite (also temperature bounds that overflow the float range in deci-kelvin) map like
// crossed bounds: at or below the lower bound the lower colour, everything else the upper one.
// Finite bounds however wide keep the plain formula. Every index stays within 5..250.
TEST(ColourMapping, ManualBoundsOfAnyFloatGiveAUsableIndex) {
    constexpr float kInf = std::numeric_limits<float>::infinity();
    constexpr float kNan = std::numeric_limits<float>::quiet_NaN();
    constexpr float kMax = std::numeric_limits<float>::max();
    Values values;
    for (int i = 0; i < kPixelCount; ++i) {
        values[i] = static_cast<uint16_t>(i * 66);
    }
    const struct {
        char mode;
        float lower, upper;
        bool degenerate;  // else the plain formula
    } cases[] = {
        {'K', kNan, kNan, true},         {'K', -kInf, kInf, true},  {'K', -1e38f, 1e38f, true},
        {'K', 0.0f, kNan, true},         {'K', kNan, 310.0f, true}, {'K', 300.0f, kInf, true},
        {'K', -kMax, 400.0f, true},      {'t', kNan, kNan, true},   {'t', -kInf, kInf, true},
        {'t', -1e38f, 1e38f, false},     {'t', -kMax, kMax, false}, {'t', 1e38f, -1e38f, false},
        {'K', 3.4e37f, -3.4e37f, false},
    };
    uint32_t palette[kPaletteSize];
    BuildPalette(3, palette);
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.mode << " " << c.lower << ":" << c.upper);
        Values mapped = values;
        uint8_t small[kSmallImageBytes];
        MarkerCell minCell, maxCell;
        MapFrameColours(c.mode, mapped.data(), nullptr, false,
                        ColourScale{kScalingManual, c.upper, c.lower}, palette, kMirrorNone, small,
                        minCell, maxCell);
        const double scale = c.mode == 'K' ? 10.0 : 1.0;
        const double lower = c.lower * scale;
        const double upper = c.upper * scale;
        MarkerCell expectedMin, expectedMax;
        for (int i = 0; i < kPixelCount; ++i) {
            const double v = values[i];
            double index = 0;
            if (v <= lower) {
                index = 5;
                expectedMin = {i % kFrameColumns, i / kFrameColumns};
            } else if (c.degenerate || v >= upper) {
                index = 250;
                expectedMax = {i % kFrameColumns, i / kFrameColumns};
            } else {
                index =
                    std::clamp(std::trunc((v - lower) * 256.0 / (upper - lower) + 0.5), 5.0, 250.0);
            }
            const uint8_t grey = SmallPixel(small, i % kFrameColumns, i / kFrameColumns)[0];
            ASSERT_EQ(grey, palette[static_cast<int>(index)] & 0xFF) << "pixel " << i;
        }
        EXPECT_EQ(minCell, expectedMin);
        EXPECT_EQ(maxCell, expectedMax);
    }
}

TEST(ColourMapping, VoltageFramesLoseTheirOffsetsWithWrapAround) {
    Values values = Flat(1000);
    values[0] = 100;
    uint16_t offsets[kOffsetCount] = {};
    offsets[0] = 150;
    offsets[5] = 10;
    uint32_t palette[kPaletteSize];
    BuildPalette(4, palette);
    uint8_t small[kSmallImageBytes];
    MarkerCell minCell, maxCell;
    Values temperature = values;
    MapFrameColours('t', values.data(), offsets, true, ColourScale{}, palette, 0, small, minCell,
                    maxCell);
    EXPECT_EQ(values[0], 65486);  // 100 - 150 on 16 bits
    EXPECT_EQ(values[5], 990);
    EXPECT_EQ(values[32 + 5], 990);
    EXPECT_EQ(values[6], 1000);
    EXPECT_EQ(maxCell, (MarkerCell{0, 0}));
    // Temperature frames and a cleared flag leave the values alone.
    MapFrameColours('K', temperature.data(), offsets, true, ColourScale{}, palette, 0, small,
                    minCell, maxCell);
    EXPECT_EQ(temperature[0], 100);
    Values voltage = Flat(1000);
    MapFrameColours('c', voltage.data(), offsets, false, ColourScale{}, palette, 0, small, minCell,
                    maxCell);
    EXPECT_EQ(voltage[5], 1000);
}

// A frame whose pixels land on the entries 5, 64, 128, 192 and 250 shows the reference colours
// of each palette (the same table as the palette test, reached through the whole mapping).
TEST(ColourMapping, FrameColoursFollowTheReferenceColoursOfEachPalette) {
    // min 0, max 256: index = v + 0.5 truncated, so v = 64 gives entry 64.
    Values values = Flat(128);
    values[0] = 0;
    values[1] = 64;
    values[2] = 192;
    values[3] = 256;
    values[4] = 5;
    const std::array<std::array<std::array<uint8_t, 3>, 5>, 8> expected = {{
        {{{0, 0, 24}, {12, 0, 243}, {255, 12, 0}, {255, 255, 12}, {255, 255, 243}}},
        {{{0, 0, 48}, {139, 0, 255}, {255, 0, 108}, {255, 155, 0}, {255, 255, 255}}},
        {{{6, 6, 6}, {65, 65, 65}, {128, 128, 128}, {192, 192, 192}, {250, 250, 250}}},
        {{{12, 0, 243}, {129, 0, 126}, {255, 6, 0}, {255, 133, 0}, {255, 249, 0}}},
        {{{24, 255, 0}, {255, 243, 0}, {255, 0, 12}, {255, 12, 255}, {255, 243, 255}}},
        {{{231, 0, 255}, {0, 12, 243}, {12, 255, 0}, {255, 243, 0}, {255, 12, 0}}},
        {{{225, 0, 255}, {0, 80, 255}, {0, 255, 110}, {210, 255, 0}, {255, 10, 0}}},
        {{{0, 0, 43}, {0, 220, 255}, {163, 255, 0}, {255, 0, 106}, {255, 255, 255}}},
    }};
    for (int number = 1; number <= 8; ++number) {
        uint32_t palette[kPaletteSize];
        ASSERT_TRUE(BuildPalette(number, palette));
        Values copy = values;
        uint8_t small[kSmallImageBytes];
        MarkerCell minCell, maxCell;
        MapFrameColours('K', copy.data(), nullptr, false, ColourScale{}, palette, 0, small, minCell,
                        maxCell);
        const auto& e = expected[number - 1];
        EXPECT_EQ(SmallPixel(small, 4, 0), e[0]) << number;  // entry 5
        EXPECT_EQ(SmallPixel(small, 1, 0), e[1]) << number;  // entry 64
        EXPECT_EQ(SmallPixel(small, 5, 0), e[2]) << number;  // entry 128
        EXPECT_EQ(SmallPixel(small, 2, 0), e[3]) << number;  // entry 192
        EXPECT_EQ(SmallPixel(small, 3, 0), e[4]) << number;  // 256 clamps to entry 250
    }
}

TEST(Markers, FollowTheMirroredPixels) {
    struct Case {
        int mode;
        MarkerCell min;  // expected after mirroring; the minimum is at (0, 0), the maximum at
        MarkerCell max;  // (5, 2) before
    };
    for (const Case c :
         {Case{0, {0, 0}, {5, 2}}, Case{1, {31, 0}, {26, 2}}, Case{2, {0, 30}, {5, 28}},
          Case{3, {31, 30}, {26, 28}}, Case{7, {0, 0}, {5, 2}}}) {
        Values values = Flat(3000);
        values[0] = 2000;
        values[2 * 32 + 5] = 4000;
        uint32_t palette[kPaletteSize];
        BuildPalette(3, palette);
        uint8_t small[kSmallImageBytes];
        MarkerCell minCell, maxCell;
        MapFrameColours('K', values.data(), nullptr, false, ColourScale{}, palette, c.mode, small,
                        minCell, maxCell);
        EXPECT_EQ(minCell, c.min) << c.mode;
        EXPECT_EQ(maxCell, c.max) << c.mode;
        // The bright pixel moved with its marker.
        EXPECT_EQ(SmallPixel(small, c.max.column, c.max.row),
                  (std::array<uint8_t, 3>{250, 250, 250}))
            << c.mode;

        std::vector<uint8_t> image(kImageBytes, 77);
        DrawMarkers(image.data(), minCell, maxCell);
        const int x = 10 * c.max.column;
        const int y = 10 * c.max.row;
        EXPECT_EQ(ImagePixel(image, x + 0, y + 4), (std::array<uint8_t, 3>{0, 0, 0}));
        EXPECT_EQ(ImagePixel(image, x + 9, y + 5), (std::array<uint8_t, 3>{255, 255, 255}));
        EXPECT_EQ(ImagePixel(image, x + 4, y + 0), (std::array<uint8_t, 3>{0, 0, 0}));
        // The centre: the lines are drawn step by step, so the later black of each line wins.
        EXPECT_EQ(ImagePixel(image, x + 4, y + 5), (std::array<uint8_t, 3>{0, 0, 0}));
        EXPECT_EQ(ImagePixel(image, x + 5, y + 4), (std::array<uint8_t, 3>{0, 0, 0}));
        EXPECT_EQ(ImagePixel(image, x + 5, y + 5), (std::array<uint8_t, 3>{255, 255, 255}));
        EXPECT_EQ(ImagePixel(image, x + 0, y + 0), (std::array<uint8_t, 3>{77, 77, 77}));
        const int mx = 10 * c.min.column;
        const int my = 10 * c.min.row;
        EXPECT_EQ(ImagePixel(image, mx + 3, my + 0), (std::array<uint8_t, 3>{0, 0, 0}));
        EXPECT_EQ(ImagePixel(image, mx + 3, my + 1), (std::array<uint8_t, 3>{255, 255, 255}));
        EXPECT_EQ(ImagePixel(image, mx + 9, my + 3), (std::array<uint8_t, 3>{255, 255, 255}));
        EXPECT_EQ(ImagePixel(image, mx + 4, my + 4), (std::array<uint8_t, 3>{77, 77, 77}));
    }
}

TEST(Markers, OutlineIsDrawnOverTheCrossInASharedCell) {
    std::vector<uint8_t> image(kImageBytes, 77);
    DrawMarkers(image.data(), MarkerCell{3, 3}, MarkerCell{3, 3});
    EXPECT_EQ(ImagePixel(image, 34, 30), (std::array<uint8_t, 3>{0, 0, 0}));        // outline
    EXPECT_EQ(ImagePixel(image, 34, 31), (std::array<uint8_t, 3>{255, 255, 255}));  // outline
    EXPECT_EQ(ImagePixel(image, 30, 34), (std::array<uint8_t, 3>{0, 0, 0}));        // outline
    EXPECT_EQ(ImagePixel(image, 39, 35), (std::array<uint8_t, 3>{255, 255, 255}));  // outline
    EXPECT_EQ(ImagePixel(image, 38, 35), (std::array<uint8_t, 3>{0, 0, 0}));  // outline over cross
}

TEST(Enlargement, NearestNeighbourMakesTenByTenBlocks) {
    std::vector<uint8_t> small(kSmallImageBytes);
    for (int i = 0; i < kSmallImageBytes; ++i) {
        small[i] = static_cast<uint8_t>(i * 31 + 7);
    }
    std::vector<uint8_t> image(kImageBytes);
    BuildDisplayImage(small.data(), false, image.data());
    for (int y = 0; y < kImageHeight; ++y) {
        for (int x = 0; x < kImageWidth; ++x) {
            ASSERT_EQ(ImagePixel(image, x, y), SmallPixel(small.data(), x / 10, y / 10))
                << x << "," << y;
        }
    }
    // Grey images and sizes that do not divide evenly.
    const uint8_t grey[6] = {1, 2, 3, 4, 5, 6};  // 3 wide, 2 high
    uint8_t out[7 * 3];
    ResampleNearest(grey, 2, 3, out, 3, 7, false);
    const uint8_t expected[7 * 3] = {1, 1, 1, 2, 2, 3, 3, 1, 1, 1, 2, 2, 3, 3, 4, 4, 4, 5, 5, 6, 6};
    EXPECT_TRUE(std::equal(std::begin(out), std::end(out), std::begin(expected)));
}

TEST(Enlargement, BilinearTruncatesTwice) {
    std::vector<uint8_t> small(kSmallImageBytes, 0);
    small[0] = 10;  // red of (0, 0)
    small[3] = 21;  // red of (1, 0)
    // A 0, 1 / 0, 1 square at columns 4, 5 and rows 4, 5 in green.
    small[3 * (4 * 32 + 5) + 1] = 1;
    small[3 * (5 * 32 + 5) + 1] = 1;
    small[3 * (0 * 32 + 31) + 2] = 200;  // blue of the last column
    std::vector<uint8_t> smooth(kSmoothWidth * kSmoothHeight * 3);
    BilinearEnlarge(small.data(), kFrameRows, kFrameColumns, smooth.data(), kSmoothHeight,
                    kSmoothWidth);
    auto at = [&](int x, int y, int channel) {
        return smooth[3 * (y * kSmoothWidth + x) + channel];
    };
    EXPECT_EQ(at(0, 0, 0), 10);
    EXPECT_EQ(at(1, 0, 0), 15);  // 15.5 truncated
    EXPECT_EQ(at(2, 0, 0), 21);
    EXPECT_EQ(at(1, 1, 0), 7);  // (15 + 0) / 2 = 7.5 truncated
    EXPECT_EQ(at(9, 9, 1), 0);  // diagonal of 0, 1, 0, 1 loses both halves
    EXPECT_EQ(at(10, 9, 1), 1);
    EXPECT_EQ(at(63, 0, 2), 200);  // last column repeats the edge
    EXPECT_EQ(at(62, 0, 2), 200);
    EXPECT_EQ(at(61, 0, 2), 100);
}

TEST(RawFrames, AreColouredWithoutMirrorOrMarkers) {
    Values values = Flat(500);
    values[0] = 100;
    values[kPixelCount - 1] = 900;
    uint32_t palette[kPaletteSize];
    BuildPalette(3, palette);
    uint8_t small[kSmallImageBytes];
    std::vector<uint8_t> image(kImageBytes);
    MapRawFrame(values.data(), palette, small, image.data());
    EXPECT_EQ(ImagePixel(image, 0, 0), (std::array<uint8_t, 3>{6, 6, 6}));
    EXPECT_EQ(ImagePixel(image, 319, 309), (std::array<uint8_t, 3>{250, 250, 250}));
    EXPECT_EQ(ImagePixel(image, 5, 5), (std::array<uint8_t, 3>{6, 6, 6}));  // no outline
}

}  // namespace
