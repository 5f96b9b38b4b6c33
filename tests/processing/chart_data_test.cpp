#include "processing/chart_data.h"

#include <gtest/gtest.h>

#include <numeric>
#include <vector>

namespace {

// 992 pixels spread over 2930..3080 (151 raw values), each value at least once.
std::vector<uint16_t> SpreadFrame() {
    std::vector<uint16_t> pixels(992);
    for (size_t i = 0; i < pixels.size(); ++i) {
        pixels[i] = static_cast<uint16_t>(2930 + i % 151);
    }
    return pixels;
}

CChartData Histogram(const std::vector<uint16_t>& pixels) {
    CChartData data;
    data.BuildHistogram(static_cast<int>(pixels.size()), pixels.data());
    return data;
}

CChartData WithKeys(int firstKey, int pointCount) {
    CChartData data;
    data.firstKey = firstKey;
    data.pointCount = pointCount;
    data.lastKey = firstKey + pointCount - 1;
    data.values.assign(static_cast<size_t>(pointCount), 1);
    return data;
}

TEST(ChartData, HistogramCountsEveryRawValueBetweenExtremes) {
    const CChartData data = Histogram(SpreadFrame());
    EXPECT_EQ(data.firstKey, 2930);
    EXPECT_EQ(data.lastKey, 3080);
    EXPECT_EQ(data.pointCount, 151);
    ASSERT_EQ(data.values.size(), 151u);
    // 992 = 6 x 151 + 86: the first 86 values occur seven times, the rest six.
    EXPECT_EQ(data.values[0], 7);
    EXPECT_EQ(data.values[85], 7);
    EXPECT_EQ(data.values[86], 6);
    EXPECT_EQ(data.maximum, 7);
    EXPECT_EQ(data.minimum, 6);
    EXPECT_EQ(std::accumulate(data.values.begin(), data.values.end(), 0), 992);
}

TEST(ChartData, HistogramOfNoPixelsIsEmptyAndGivesNoBars) {
    CChartData data;
    data.BuildHistogram(0, nullptr);
    EXPECT_EQ(data.pointCount, 0);
    EXPECT_TRUE(data.values.empty());
    EXPECT_EQ(ComputeGrouping(data, 480).groupSize, 0);
    EXPECT_TRUE(GroupBars(data, ComputeGrouping(data, 480)).empty());
    // A record whose keys run backwards gives no bars either.
    CChartData backwards = WithKeys(3000, 5);
    backwards.lastKey = 2990;
    EXPECT_EQ(ComputeGrouping(backwards, 480).groupSize, 0);
}

TEST(ChartData, GroupsSpreadFrameInFivesWithFirstKeyAlone) {
    const CChartData data = Histogram(SpreadFrame());
    const ChartGrouping grouping = ComputeGrouping(data, 480);
    EXPECT_EQ(grouping.groupSize, 5);
    EXPECT_EQ(grouping.startKey, 2930);
    EXPECT_EQ(grouping.endKey, 3085);
    EXPECT_DOUBLE_EQ(grouping.barWidth, 480.0 / 31);

    const std::vector<ChartBar> bars = GroupBars(data, grouping);
    ASSERT_EQ(bars.size(), 32u);
    EXPECT_EQ(bars[0].key, 2930);
    EXPECT_EQ(bars[0].sum, 7);
    EXPECT_EQ(bars[1].key, 2935);
    EXPECT_EQ(bars[1].sum, 5 * 7);
    EXPECT_EQ(bars[30].key, 3080);
    EXPECT_EQ(bars[30].sum, 5 * 6);
    // Keys 3081..3085 lie beyond the data.
    EXPECT_EQ(bars.back().key, 3085);
    EXPECT_EQ(bars.back().sum, 0);
    int64_t total = 0;
    for (const ChartBar& bar : bars) {
        total += bar.sum;
    }
    EXPECT_EQ(total, 992);
}

TEST(ChartData, GroupSizeKeepsBarsWiderThanTenPixels) {
    struct Case {
        int firstKey, pointCount, plotWidth, groupSize;
    };
    const Case cases[] = {
        {0, 32, 480, 1},        // a row profile: one bar per column
        {2900, 47, 480, 1},     // 480 / 47 = 10.2
        {2900, 48, 480, 2},     // 480 / 48 = 10.0 is not more than 10
        {2930, 151, 480, 5},    //
        {2000, 400, 480, 10},   // 480 / 40 = 12
        {2000, 1000, 480, 20},  // 1000 / (48 + 2) = 20
        {0, 230, 100, 20},      // 230 / 12 = 19, rounded up to 20
        {0, 65536, 480, 1310},  // a frame spanning the whole raw range
        {2900, 5, 0, 0},        // no plot width: no bars
        {2900, 5, -40, 0},
    };
    for (const Case& c : cases) {
        const ChartGrouping grouping =
            ComputeGrouping(WithKeys(c.firstKey, c.pointCount), c.plotWidth);
        EXPECT_EQ(grouping.groupSize, c.groupSize)
            << c.pointCount << " keys on " << c.plotWidth << " pixels";
        if (grouping.groupSize > 0) {
            EXPECT_EQ(grouping.startKey % grouping.groupSize, 0);
            EXPECT_EQ(grouping.endKey % grouping.groupSize, 0);
            EXPECT_GT(grouping.endKey, c.firstKey + c.pointCount - 1);
        }
    }
}

TEST(ChartData, LayoutStopsAtFirstBarPastRightEdge) {
    // 15.48 pixels round to 15: 32 bars of 15 fill 480 pixels exactly.
    std::vector<ChartBarSpan> spans = LayoutBars(32, 480.0 / 31, 100, 580);
    ASSERT_EQ(spans.size(), 32u);
    EXPECT_EQ(spans[0].x, 100);
    EXPECT_EQ(spans[0].x1, 115);
    EXPECT_EQ(spans.back().x1, 580);

    spans = LayoutBars(10, 15.6, 0, 50);  // 16 pixels each: the fourth would end at 64
    ASSERT_EQ(spans.size(), 3u);
    EXPECT_EQ(spans[2].x1, 48);
}

TEST(ChartData, CountLabelsFollowLargestBar) {
    using Labels = std::array<int, 5>;
    EXPECT_EQ(CountLabels(0), (Labels{100, 75, 50, 25, 0}));
    EXPECT_EQ(CountLabels(100), (Labels{100, 75, 50, 25, 0}));
    EXPECT_EQ(CountLabels(150), (Labels{200, 150, 100, 50, 0}));
    EXPECT_EQ(CountLabels(400), (Labels{400, 300, 200, 100, 0}));
    EXPECT_EQ(CountLabels(450), (Labels{999, 750, 500, 250, 0}));
    EXPECT_EQ(CountLabels(992), (Labels{999, 750, 500, 250, 0}));
}

TEST(ChartData, HistogramBarHeightIsShareOfTopLabel) {
    // Top grid line at 20, axis at 120: 450 of 999 reaches 45 pixels up.
    EXPECT_EQ(HistogramBarTop(450, 999, 20, 120), 120 - 45);
    EXPECT_EQ(HistogramBarTop(100, 100, 20, 120), 20);
    EXPECT_EQ(HistogramBarTop(1, 200, 20, 120), 120 - 1);  // 0.5 rounds up
    // Taller than the scale: clipped just above the top line.
    EXPECT_EQ(HistogramBarTop(1000, 999, 20, 120), 15);
}

TEST(ChartData, ValueLabelsBracketProfileInEachUnit) {
    using Labels = std::array<int, 5>;
    // 2900..3000 tenths of a kelvin: 290.0..300.0 K, 17.0..27.0 C, 62.6..80.6 F.
    EXPECT_EQ(ValueLabels(3000, 2900, kChartKelvin), (Labels{305, 301, 297, 293, 289}));
    EXPECT_EQ(ValueLabels(3000, 2900, kChartCelsius), (Labels{32, 28, 24, 20, 16}));
    EXPECT_EQ(ValueLabels(3000, 2900, kChartFahrenheit), (Labels{85, 79, 73, 67, 61}));
    // Below 0 C the division truncates toward zero: -3.0 C gives a bottom of -4.
    EXPECT_EQ(ValueLabels(2735, 2700, kChartCelsius)[4], -4);
    // 2000 counts = 2.442 V, 1000 counts = 1.221 V.
    EXPECT_EQ(ValueLabels(2000, 1000, kChartVolt), (Labels{4, 3, 2, 1, 0}));
    // A flat row still has a step of at least one.
    const Labels flat = ValueLabels(2980, 2980, kChartKelvin);
    EXPECT_EQ(flat[0] - flat[4], 4);
}

TEST(ChartData, ProfileBarHeightScalesBetweenBottomAndTopLabels) {
    EXPECT_EQ(ProfileBarTop(24.0, 32, 16, 20, 120), 70);
    EXPECT_EQ(ProfileBarTop(16.0, 32, 16, 20, 120), 120);
    EXPECT_EQ(ProfileBarTop(32.5, 32, 16, 20, 120), 15);
}

TEST(ChartData, KeyLabelsInEveryUnit) {
    EXPECT_EQ(HistogramKeyLabel(2980, kChartCelsius), "25.0");
    EXPECT_EQ(HistogramKeyLabel(2985, kChartCelsius), "25.5");
    EXPECT_EQ(HistogramKeyLabel(2700, kChartCelsius), "-3.0");
    EXPECT_EQ(HistogramKeyLabel(2980, kChartKelvin), "298.0");
    EXPECT_EQ(HistogramKeyLabel(2980, kChartFahrenheit), "77.0");
    EXPECT_EQ(HistogramKeyLabel(1000, kChartVolt), "1.221");
}

TEST(ChartData, HorizontalLabelsSkipOverlapsAndRightEdge) {
    // The first label at the plot's left edge is always allowed.
    EXPECT_TRUE(HorizontalLabelFits(40, 30, 40, 500, 40));
    // The next must leave more than a third of its width after the last one.
    EXPECT_FALSE(HorizontalLabelFits(80, 30, 40, 500, 70));
    EXPECT_TRUE(HorizontalLabelFits(81, 30, 40, 500, 70));
    // And must end left of the plot's right edge.
    EXPECT_FALSE(HorizontalLabelFits(470, 30, 40, 500, 300));
    EXPECT_TRUE(HorizontalLabelFits(469, 30, 40, 500, 300));
}

TEST(ChartData, ProfileTakesFirstHottestRowMirroredOnX) {
    std::vector<uint16_t> pixels(32 * 31, 2950);
    for (int c = 0; c < 32; ++c) {
        pixels[5 * 32 + c] = static_cast<uint16_t>(2960 + c);
    }
    pixels[9 * 32 + 31] = 2991;  // the same maximum again, later: not taken
    CChartData data;
    data.BuildProfile(0, 32, 31, pixels.data());
    ASSERT_EQ(data.values.size(), 32u);
    EXPECT_EQ(data.values[0], 2960);
    EXPECT_EQ(data.values[31], 2991);
    EXPECT_EQ(data.pointCount, 32);
    EXPECT_EQ(data.firstKey, 0);
    EXPECT_EQ(data.lastKey, 31);
    EXPECT_EQ(data.maximum, 2991);
    EXPECT_EQ(data.minimum, 2960);

    for (int mirror : {1, 3}) {
        data.BuildProfile(mirror, 32, 31, pixels.data());
        EXPECT_EQ(data.values[0], 2991) << "mirror " << mirror;
        EXPECT_EQ(data.values[31], 2960);
    }
    data.BuildProfile(2, 32, 31, pixels.data());  // Y mirroring keeps the column order
    EXPECT_EQ(data.values[0], 2960);
}

TEST(ChartData, ProfileOfBlankFrameIsRowZero) {
    const std::vector<uint16_t> pixels(32 * 31, 0);
    CChartData data;
    data.BuildProfile(0, 32, 31, pixels.data());
    EXPECT_EQ(data.values, std::vector<int32_t>(32, 0));
    EXPECT_EQ(data.maximum, 0);
}

}  // namespace
